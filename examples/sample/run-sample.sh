#!/bin/bash
# Builds the sample databases on first use, runs the sample integration with
# MeridoxRunner and prints what the run did. A second run updates the rows
# the first one inserted.
set -u
BIN=$(cd "${1:-build/bin}" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(dirname "$BIN")/sample
mkdir -p "$WORK"

[ -f "$WORK/source.db" ] || sqlite3 "$WORK/source.db" < "$HERE/source.sql"
[ -f "$WORK/target.db" ] || sqlite3 "$WORK/target.db" < "$HERE/target.sql"
sed -e "s#@SOURCE_DB@#$WORK/source.db#" -e "s#@TARGET_DB@#$WORK/target.db#" \
    "$HERE/customers.xml.in" > "$WORK/customers.xml"

# The run goes to the run-data folder the designer reads (the "Path"
# setting, else the library folder), and the steps' connections join the
# registry the designer loads: the designer shows this run and opens its
# steps. The runner's event-log entries are shown here instead of the
# system log.
"$BIN/meridox-sample-register" \
    "sample source" "Provider=SQLite;Data Source=$WORK/source.db" \
    "sample target" "Provider=SQLite;Data Source=$WORK/target.db"
export MERIDOX_EVENTLOG_FILE="$WORK/events.log"
: > "$MERIDOX_EVENTLOG_FILE"

echo "Running $WORK/customers.xml"
"$BIN/MeridoxRunner" "$WORK/customers.xml"
rc=$?
echo "Runner log (type, text):"
sed 's/^/  /' "$MERIDOX_EVENTLOG_FILE"
echo "Runner exit code: $rc"
"$BIN/meridox-sample-report" "$WORK/target.db"
exit $rc
