#!/bin/bash
# Runs "$@" with a private PostgreSQL server on a loopback port and exports
# MERIDOX_PG_CONNECTION for the tests that need a server. The server lives in
# a temporary folder and is stopped when the command ends.
set -u
PGBIN=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
if [ -z "$PGBIN" ]; then
  echo "PostgreSQL server binaries not found; server tests will be skipped" >&2
  exec "$@"
fi
PORT=${MERIDOX_PG_PORT:-55432}
DIR=$(mktemp -d /tmp/meridox-pg.XXXXXX)
chmod 755 "$DIR"
RUNAS=()
if [ "$(id -u)" = 0 ]; then
  chown postgres:postgres "$DIR"
  RUNAS=(runuser -u postgres --)
fi
"${RUNAS[@]}" "$PGBIN/initdb" -D "$DIR/data" -U meridox --auth=trust -E UTF8 >"$DIR/initdb.log" 2>&1 \
  || { cat "$DIR/initdb.log" >&2; exit 1; }
"${RUNAS[@]}" "$PGBIN/pg_ctl" -D "$DIR/data" -l "$DIR/server.log" -w \
  -o "-p $PORT -k $DIR -c listen_addresses=127.0.0.1 -c fsync=off" start >/dev/null \
  || { cat "$DIR/server.log" >&2; exit 1; }
"${RUNAS[@]}" "$PGBIN/createdb" -h 127.0.0.1 -p "$PORT" -U meridox meridox_test
export MERIDOX_PG_CONNECTION="Provider=PostgreSQL;Data Source=127.0.0.1;Port=$PORT;Initial Catalog=meridox_test;User ID=meridox;Password=meridox"
"$@"
rc=$?
"${RUNAS[@]}" "$PGBIN/pg_ctl" -D "$DIR/data" -m fast stop >/dev/null 2>&1
rm -rf "$DIR"
exit $rc
