#!/bin/sh
# Runs every fuzzer (or those named) for SECONDS each, in parallel, from the
# seed corpus into a working corpus in the build folder.
#   tests/fuzz/run-fuzzers.sh [build-dir] [target...]     SECONDS=420 by default
set -e
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build-fuzz}" && pwd)
[ $# -gt 0 ] && shift
targets=${*:-"script integration rowset connstring connections"}
seconds=${SECONDS_EACH:-420}
for t in $targets; do
  work="$build/fuzz-work/$t"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp -n "$here/corpus/$t/"* "$work/corpus/" 2>/dev/null || true
  (cd "$work" && "$build/bin/fuzz_$t" -max_total_time="$seconds" -max_len=4096 -timeout=5 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
      corpus >"$work/log.txt" 2>&1; echo "fuzz_$t exit $?" >>"$work/log.txt") &
done
wait
for t in $targets; do tail -n 12 "$build/fuzz-work/$t/log.txt"; done
