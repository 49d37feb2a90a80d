#!/bin/bash
# A second `make run` on a built, unchanged tree: the Makefile's configure
# step, and a configure as a changed CMakeLists.txt brings one, leave every
# target up to date; the programs' build compiles and links nothing, and
# builds no test or benchmark. Only a dry run looks at the build, so the
# binaries other tests use stay as they are.
set -u
SRC=$1
BUILD=$2

# What the programs' build would do now, one line per step.
plan() {
  cmake --build "$BUILD" --target programs -- -n 2>&1
}
# Steps that compile, link or build a test or benchmark.
work() {
  grep -E 'Building (C|CXX) object|Linking|cmake_link_script|Built target (test_|bench_)' || true
}

fail=0
check() {
  local when=$1 steps
  steps=$(plan) || { echo "the programs' build cannot be planned $when:"; echo "$steps"; fail=1; return; }
  steps=$(work <<<"$steps")
  if [ -n "$steps" ]; then
    echo "$when, the programs' build would still do:"
    echo "$steps" | head -20
    fail=1
  fi
}

check "before anything"
# The package check needs nothing here: the tree is built.
make -s --no-print-directory -C "$SRC" -o deps BUILD="$BUILD" configure >/dev/null || { echo "configure failed"; exit 1; }
check "after the Makefile's configure step"
cmake "$BUILD" >/dev/null || { echo "cmake failed"; exit 1; }
check "after a configure"
exit $fail
