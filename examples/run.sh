#!/bin/bash
# The main job on the embedded SQLite default.
BIN=${1:-build/bin}
if [ -x "$BIN/MeridoxRunner" ]; then
  exec "$(dirname "$0")/sample/run-sample.sh" "$BIN"
fi
echo "MeridoxRunner is not built yet."
