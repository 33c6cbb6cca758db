#!/usr/bin/env bash
# The historian against a PostgreSQL 15 started here (initdb in a temporary
# folder, as an unprivileged user, on a free loopback port), under a load of
# 20 counters that move every 20 ms: the database stopped under load, the
# host killed (-9) during the outage and started again on the same store,
# the database started again. Every value the host's CSV shows it read is in
# the table once, in read order; the table and its index were made.
source "$(dirname "$0")/host_common.sh" "$1"
PGBIN=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$PGBIN/initdb" ] || { echo "FAIL: PostgreSQL is not installed"; exit 1; }

chmod 755 "$WORK"
mkdir "$WORK/pg" && chown nobody "$WORK/pg"
as_pg() { runuser -u nobody -- "$@"; }
PGPORT=$(free_port)
as_pg "$PGBIN/initdb" -D "$WORK/pg/data" -U marovin --auth=trust >"$WORK/initdb.log" 2>&1 || { cat "$WORK/initdb.log"; exit 1; }
pg() { as_pg "$PGBIN/pg_ctl" -D "$WORK/pg/data" -l "$WORK/pg/log" -w "$@" >/dev/null; }
pg start -o "-p $PGPORT -k $WORK/pg -c listen_addresses=127.0.0.1"
trap 'pg stop -m immediate 2>/dev/null; cleanup' EXIT
sql() { psql -X -q -t -A -h 127.0.0.1 -p "$PGPORT" -U marovin -d plant -c "$1"; }
as_pg "$PGBIN/createdb" -h 127.0.0.1 -p "$PGPORT" -U marovin plant

for i in $(seq 0 19); do
    printf 'animate 1:1:%x=counter\n' $((0x100 + i)) >>"$WORK/line.mem"
    printf 'c%d = 1:w16:%x\n' "$i" $((0x100 + i)) >>"$WORK/line.tags"
done
start_sim line --tcp 127.0.0.1:0 --memory "$WORK/line.mem" --tick 20
URL="postgresql://marovin@127.0.0.1:$PGPORT/plant"
# historian NAME: the host on the store, the CSV into NAME.csv, in the background.
historian() {
    TZ=UTC REFRESH=100 gateway "$1" --tcp "$SIM_LINE" --store "$WORK/outbox.db" --historian "$URL" \
        --historian-gateway line1 --csv "$WORK/$1.csv"
}
rows() { [ "$(sql 'SELECT count(*) FROM marovin_values')" -ge "$1" ]; }

historian first
check "values reach the table" wait_for rows 2000
pg stop -m fast
check "the outage is told" wait_for grep -q 'historian: lost 127.0.0.1:.*/plant' "$WORK/first.out"
sleep 2
KILLED_MS=$(date +%s%3N)
kill -KILL "$GW_PID" && wait "$GW_PID" 2>/dev/null
historian second
sleep 2
pg start -o "-p $PGPORT -k $WORK/pg -c listen_addresses=127.0.0.1"
check "writing again after the outage" wait_for grep -q 'historian: writing to' "$WORK/second.out"
sleep 2
stop_gateway second
check "the backlog was delivered" grep -q 'historian backlog 0$' "$WORK/second.out" || show second

sql "SELECT tag, (extract(epoch from read_at) * 1000)::bigint, value FROM marovin_values
     WHERE gateway = 'line1' ORDER BY tag, read_at" >"$WORK/table.txt"
# Every CSV value of every counter is in the table (but those read in the
# last 200 ms before the kill, which were not committed yet), each value once
# and in read order; counted values per run.
check "every value the CSV shows is in the table once, in read order" python3 - "$WORK" "$KILLED_MS" <<'PY'
import csv, sys, datetime
work, killed = sys.argv[1], int(sys.argv[2])
table = {}
for line in open(f"{work}/table.txt"):
    tag, at, value = line.strip().split("|")
    table.setdefault(tag, []).append((int(at), float(value)))
bad = 0
for tag, points in table.items():
    # Reads of one tag in the same millisecond: the value tells their order.
    values = [v for _, v in sorted(points)]
    if len(set(values)) != len(values):
        print(f"  {tag}: {len(values) - len(set(values))} values twice"); bad += 1
    if values != sorted(values):
        print(f"  {tag}: out of read order"); bad += 1
for run in ("first", "second"):
    for row in csv.DictReader(open(f"{work}/{run}.csv")):
        at = datetime.datetime.fromisoformat(row["time"]).replace(tzinfo=datetime.timezone.utc).timestamp() * 1000
        for tag, text in row.items():
            if tag.startswith("c") and text and (run == "second" or at < killed - 200):
                if float(text) not in {v for _, v in table.get(tag, [])}:
                    print(f"  {run} {row['time']} {tag}={text} missing"); bad += 1
print(f"  {sum(len(p) for p in table.values())} values in the table, {bad} faults")
sys.exit(bad > 0)
PY
indexed() { sql "SELECT indexdef FROM pg_indexes WHERE tablename = 'marovin_values'" | grep -q '(tag, read_at)'; }
check "the table has its index on tag and time" indexed
check "the gateway's place is kept" [ "$(sql "SELECT count(*) FROM marovin_positions WHERE gateway = 'line1'")" -ge 1 ]
# Its options' refusals (exit 2 and the message): host_options_test.
finish
