#!/usr/bin/env bash
# How fast the historian empties a backlog into PostgreSQL (outside CI): a
# PostgreSQL 15 started here (initdb in a temporary folder as user nobody),
# a store that holds VALUES values its historian has not delivered (made by
# a short run, then filled with SQLite's own INSERT, read times of the last
# minutes), and the host started on it: values per second from the first
# row in the table to the last, polled every 0.2 s.
#
#   bash scripts/historian-ingest.sh     Environment: MAROVIN_BUILD_DIR (build/ci-native), VALUES (1000000)
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${MAROVIN_BUILD_DIR:-$ROOT/build/ci-native}
HOST="$BUILD/tools/marovin-host/marovin-host"
VALUES=${VALUES:-1000000}
PGBIN=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
[ -x "$HOST" ] || { echo "build $BUILD first (bash scripts/test.sh native)" >&2; exit 1; }
command -v sqlite3 >/dev/null || bash "$ROOT/scripts/install-deps.sh" sqlite3

WORK=$(mktemp -d "${TMPDIR:-/tmp}/marovin-ingest.XXXXXX")
chmod 755 "$WORK"
mkdir "$WORK/pg" && chown nobody "$WORK/pg"
PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
pg() { runuser -u nobody -- "$PGBIN/pg_ctl" -D "$WORK/pg/data" -l "$WORK/pg/log" -w "$@" >/dev/null; }
trap 'pg stop -m immediate 2>/dev/null; rm -rf "$WORK"' EXIT
runuser -u nobody -- "$PGBIN/initdb" -D "$WORK/pg/data" -U marovin --auth=trust >/dev/null
pg start -o "-p $PORT -k $WORK/pg -c listen_addresses=127.0.0.1"
runuser -u nobody -- "$PGBIN/createdb" -h 127.0.0.1 -p "$PORT" -U marovin plant
sql() { psql -X -q -t -A -h 127.0.0.1 -p "$PORT" -U marovin -d plant -c "$1"; }
URL="postgresql://marovin@127.0.0.1:$PORT/plant"

# The store and its historian's place, then the backlog behind that place.
"$HOST" --quiet --duration 1 --store "$WORK/s.db" --historian "$URL" >/dev/null 2>&1
sql "TRUNCATE marovin_values"
NOW=$(date +%s%3N)
sqlite3 "$WORK/s.db" <<SQL
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $VALUES)
INSERT INTO entries(seq, tag, at, value, status)
SELECT (SELECT max(seq) FROM entries) + i, 1 + i % 12, $NOW - 600000 + i * 600000 / $VALUES, i * 0.5, 1 FROM n;
SQL

"$HOST" --quiet --duration 600 --store "$WORK/s.db" --historian "$URL" >"$WORK/host.out" 2>&1 &
HOST_PID=$!
first=
while :; do
    now=$(date +%s.%N)
    count=$(sql "SELECT count(*) FROM marovin_values")
    [ -z "$first" ] && [ "$count" -gt 0 ] && { first=$now; first_count=$count; }
    [ "$count" -ge "$VALUES" ] && break
    sleep 0.2
done
kill -TERM "$HOST_PID"
wait "$HOST_PID" || true
awk -v a="$first" -v b="$now" -v n="$count" -v f="$first_count" \
    'BEGIN { printf "historian ingest: %d values in %.2f s: %.0f values/s\n", n - f, b - a, (n - f) / (b - a) }'
echo "table size: $(sql "SELECT pg_size_pretty(pg_total_relation_size('marovin_values'))") with its index"
