#!/usr/bin/env bash
# The outbox (--store) with MQTT: a mosquitto started here (persistent, on a
# free port) stopped, the host killed (-9) during the outage and started
# again on the same store, the broker started: a QoS 1 subscriber with a
# persistent session gets every value the host's CSVs show it read, the
# history in read order. Then the store when its disk fails it: a read-only
# path, a damaged file, a full disk (a small tmpfs) that gets room again;
# each time a clear notice, no crash, live values flowing, and the summary's
# account of what could not be kept.
source "$(dirname "$0")/host_common.sh" "$1"

for i in $(seq 0 19); do
    printf 'animate 1:1:%x=counter\n' $((0x100 + i)) >>"$WORK/line.mem"
    printf 'c%d = 1:w16:%x\n' "$i" $((0x100 + i)) >>"$WORK/line.tags"
done
LINE=(--quiet --refresh 100 --tags "$WORK/line.tags" --sim-args "--memory $WORK/line.mem --tick 10")
# flowing NAME: the CSV of the run has a line for most refreshes, and the counter moved to the end.
flowing() {
    local lines last
    lines=$(($(wc -l <"$WORK/$1.csv") - 1))
    last=$(tail -n 1 "$WORK/$1.csv" | cut -d, -f3)
    [ "$lines" -ge 15 ] && [ "${last:-0}" -ge 100 ]
}
stored() { [ "$(sed -n 's/^store: *\([0-9]*\) values kept.*/\1/p' "$WORK/$1.out")" -gt "${2:-0}" ]; }

PORT=$(free_port)
BROKER=("allow_anonymous true" "persistence true" "persistence_location $WORK/" "max_queued_messages 0")
# The subscriber's session, QoS 1 and persistent: it collects what was queued for it at the end.
SUB=(-h 127.0.0.1 -p "$PORT" -c -i outbox-sub -q 1 -t 'line/#')
# One simulator for both runs: its counters go on across the host's kill.
start_sim line --tcp 127.0.0.1:0 --memory "$WORK/line.mem" --tick 10
# outbox NAME: the host on the store, the CSV into NAME.csv, in the background.
outbox() {
    TZ=UTC REFRESH=100 gateway "$1" --tcp "$SIM_LINE" --store "$WORK/outbox.db" --mqtt "mqtt://127.0.0.1:$PORT" \
        --mqtt-prefix line --csv "$WORK/$1.csv"
}
start_broker broker "$PORT" "${BROKER[@]}"
mosquitto_sub "${SUB[@]}" -W 1 >/dev/null 2>&1
outbox first
wait_for grep -q 'MQTT connected' "$WORK/first.out"
sleep 2
kill -TERM "$BROKER_PID" && wait "$BROKER_PID"
sleep 2
KILLED_MS=$(date +%s%3N)
kill -KILL "$GW_PID" && wait "$GW_PID" 2>/dev/null
# What the store had committed when it was killed: read up to then, so owed to the subscriber.
COMMITTED_MS=$(python3 -c 'import sqlite3, sys; print(sqlite3.connect(sys.argv[1]).execute("SELECT max(at) FROM entries").fetchone()[0] or 0)' "$WORK/outbox.db")
check "the store committed during the outage: its last value read $((KILLED_MS - COMMITTED_MS)) ms before the kill" \
    [ $((KILLED_MS - COMMITTED_MS)) -lt 2000 ]
outbox second
sleep 2
start_broker broker "$PORT" "${BROKER[@]}"
check "the host reconnects" wait_for grep -q 'MQTT connected' "$WORK/second.out"
sleep 3
stop_gateway second
check_in "$WORK/second.out" 'store: .*; mqtt backlog 0$' "mqtt: the backlog was delivered"
# -W ends a subscriber after that long: again until one gets nothing.
collect() {
    local size=-1
    while [ "$(wc -c <"$WORK/sub.txt")" != "$size" ]; do
        size=$(wc -c <"$WORK/sub.txt")
        mosquitto_sub "${SUB[@]}" -R -v -W 3 >>"$WORK/sub.txt" 2>/dev/null
    done
}
: >"$WORK/sub.txt"
collect
check "mqtt: every value the CSVs show arrived, the history in read order" python3 - "$WORK" "$COMMITTED_MS" <<'PY'
import csv, datetime, json, sys
work, committed = sys.argv[1], int(sys.argv[2])
got, history, bad = {}, {}, 0
for line in open(f"{work}/sub.txt"):
    topic, payload = line.rstrip("\n").split(" ", 1)
    msg = json.loads(payload) if payload.startswith("{") else {}
    if "value" in msg:
        tag = topic.split("/", 1)[1]
        got.setdefault(tag, set()).add(msg["value"])
        if msg.get("historical"):
            history.setdefault(tag, []).append(msg["ts"])
for tag, values in history.items():
    if values != sorted(values):
        print(f"  {tag}: history out of read order"); bad += 1
for run in ("first", "second"):
    for row in csv.DictReader(open(f"{work}/{run}.csv")):
        at = datetime.datetime.fromisoformat(row["time"]).replace(tzinfo=datetime.timezone.utc).timestamp() * 1000
        for tag, text in row.items():
            if tag.startswith("c") and text and (run == "second" or at <= committed) and int(text) not in got.get(tag, ()):
                print(f"  {run} {row['time']} {tag}={text} missing"); bad += 1
print(f"  {sum(len(v) for v in history.values())} historical messages, {bad} faults")
sys.exit(bad > 0 or not history)
PY
check "mqtt: the status tells the store" grep -q '^line/status .*"store":{.*"dropped":0' "$WORK/sub.txt"

# A read-only folder (as an unprivileged user, where it may run the build): kept in memory, said once.
if nobody_runs; then
    chmod 755 "$WORK"
    mkdir -m 555 "$WORK/ro"
    runuser -u nobody -- timeout 30 "$HOST" "${LINE[@]}" --duration 2 --store "$WORK/ro/s.db" --csv /dev/null >"$WORK/ro.out" 2>&1
    echo $? >"$WORK/ro.rc"
    check_rc ro 0
    check_in "$WORK/ro.out" "store $WORK/ro/s.db: Permission denied; values are kept in memory only" "read-only: said"
    check "read-only: values kept in memory" stored ro
    check_in "$WORK/ro.out" 'store: .*\(in memory only: Permission denied\)' "read-only: in the summary"
else
    echo "note: the build is in a folder nobody may enter; the read-only store is not tried"
fi

# A damaged store (its first page overwritten): moved aside, a new one begun.
cp "$WORK/outbox.db" "$WORK/bad.db"
head -c 4000 /dev/urandom | dd of="$WORK/bad.db" bs=1 seek=100 conv=notrunc status=none
expect damaged 0 "store $WORK/bad.db is damaged \(.*(malformed|not a database)\): moved to $WORK/bad.db.damaged-" \
    "${LINE[@]}" --duration 2 --store "$WORK/bad.db" --csv "$WORK/damaged.csv"
check "damaged: kept aside" ls "$WORK"/bad.db.damaged-*
check "damaged: a new store took the values" stored damaged 100
check "damaged: live values flowed" flowing damaged
# A file of something else, or another program's database, given by mistake is left as it is.
echo 'a config file' >"$WORK/notes.txt"
# (tags.db: a table of the store's name, not of its columns)
python3 -c 'import sqlite3, sys
for f, t in (("other", "bookmarks"), ("tags", "tags")): sqlite3.connect(sys.argv[1] + f + ".db").execute("create table %s(url)" % t)' "$WORK/"
for f in notes.txt other.db tags.db; do
    cp "$WORK/$f" "$WORK/$f.orig"
    expect "$f" 0 "store $WORK/$f: (not a store|another program's database).*left as it is; values are kept in memory only" \
        "${LINE[@]}" --duration 1 --store "$WORK/$f" --csv /dev/null
    check "$f: unchanged" cmp "$WORK/$f" "$WORK/$f.orig"
done

# A full disk: a small tmpfs, most of it taken by a file that is removed
# during the run; the store writes again and the summary counts what it lost.
mkdir "$WORK/small"
if mount -t tmpfs -o size=8m tmpfs "$WORK/small" 2>/dev/null; then
    trap 'umount "$WORK/small"; cleanup' EXIT
    head -c 8228608 /dev/zero >"$WORK/small/ballast"
    expect fullA 0 "store $WORK/small/s.db: .*disk is full; the newest 50000 values wait" \
        "${LINE[@]}" --duration 2 --store "$WORK/small/s.db" --csv "$WORK/fullA.csv"
    check "full: live values flowed" flowing fullA
    check_in "$WORK/fullA.out" 'store: .*, [1-9][0-9]* could not be kept' "full: the summary counts what was lost"
    run_host fullB "${LINE[@]}" --duration 4 --store "$WORK/small/s.db" --csv "$WORK/fullB.csv" &
    host_pid=$!
    wait_for grep -q "disk is full" "$WORK/fullB.out"
    rm "$WORK/small/ballast"
    wait "$host_pid"
    check_rc fullB 0
    check_in "$WORK/fullB.out" "store $WORK/small/s.db: writing again" "full: writing again once there is room"
    # What waited in memory was written once there was room: nothing lost.
    check_in "$WORK/fullB.out" 'store: *[0-9]+ values kept, 0 dropped by its bounds, 0 could not be kept' "full: nothing lost then"
else
    echo "note: no tmpfs here (mount refused): the full disk is not tested"
fi
finish
