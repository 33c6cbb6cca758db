#!/usr/bin/env bash
# A broker outage of OUTAGE seconds at 1,000 changes a second (outside CI):
# 20 counters the bundled simulator moves every 20 ms (on a line paced at
# 921,600 baud, each tag read about every 10 ms) and a clock tag, published
# with --store to a mosquitto started here (with persistence, so that what
# it owes a subscriber survives its restart). A QoS 1 subscriber with a
# persistent session collects everything at the end; a QoS 0 one times the
# clock tag as it arrives.
#
# Tells: the backlog when the broker came back and how fast the host drained
# it (its own backlog metric, polled every 0.1 s), values lost (of those the
# host read, which its store holds: each must have arrived, live or history),
# history out of read order, and the live delay of the clock tag (arrival
# minus the value, the simulator's time of the change) before the outage and
# while the backlog drained.
#
#   bash scripts/outbox-outage.sh     Environment: MAROVIN_BUILD_DIR (build/ci-native), OUTAGE (60),
#   OUTAGE_HOST_ARGS (more options for the host, e.g. --rt-priority 10 as the packaged config has)
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${MAROVIN_BUILD_DIR:-$ROOT/build/ci-native}
HOST="$BUILD/tools/marovin-host/marovin-host"
OUTAGE=${OUTAGE:-60}
MOSQUITTO=$(PATH=$PATH:/usr/sbin command -v mosquitto)
[ -x "$HOST" ] || { echo "build $BUILD first (bash scripts/test.sh native)" >&2; exit 1; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/marovin-outage.XXXXXX")
PIDS=()
trap 'for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; [ -n "${KEEP:-}" ] || rm -rf "$WORK"' EXIT
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
PORT=$(free_port)
HTTP=$(free_port)
printf '%s\n' "listener $PORT 127.0.0.1" "allow_anonymous true" "user $(id -un)" "persistence true" \
    "persistence_location $WORK/" "max_queued_messages 0" "max_inflight_messages 0" >"$WORK/broker.conf"
broker() {
    "$MOSQUITTO" -c "$WORK/broker.conf" >>"$WORK/broker.log" 2>&1 &
    BROKER=$!
    PIDS+=("$BROKER")
    sleep 0.5
}
for i in $(seq 0 19); do
    printf 'animate 1:1:%x=counter\n' $((0x100 + i)) >>"$WORK/line.mem"
    printf 'c%d = 1:w16:%x\n' "$i" $((0x100 + i)) >>"$WORK/line.tags"
done
printf 'animate 1:2:200=clock\n' >>"$WORK/line.mem"
printf 'clock = 1:d32:200\n' >>"$WORK/line.tags"

broker
# The QoS 1 subscriber's persistent session: the broker keeps what it is owed
# (through its restart) and it collects everything at the end, so that its
# own reconnect cannot lose messages. A second subscriber (QoS 0, the clock
# tag only) times the live values as they arrive.
SUB=(-h 127.0.0.1 -p "$PORT" -c -i outage-sub -q 1 -t 'out/#')
mosquitto_sub "${SUB[@]}" -W 1 >/dev/null 2>&1 || true
live() {
    stdbuf -oL mosquitto_sub -h 127.0.0.1 -p "$PORT" -t out/clock -F '%U %t %p' >>"$WORK/live.txt" &
    PIDS+=($!)
}
live
"$HOST" --quiet --tags "$WORK/line.tags" --sim-args "--memory $WORK/line.mem --tick 20" --line-rate 921600 \
    --store "$WORK/s.db" --mqtt "mqtt://127.0.0.1:$PORT" --mqtt-prefix out --duration $((OUTAGE + 120)) \
    --http "127.0.0.1:$HTTP" ${OUTAGE_HOST_ARGS:-} \
    >"$WORK/host.out" 2>&1 &
HOST_PID=$!
PIDS+=("$HOST_PID")
sleep 10
DOWN=$(date +%s.%N)
kill -TERM "$BROKER"
wait "$BROKER" || true
sleep "$OUTAGE"
UP=$(date +%s.%N)
# The host's own account of its backlog, every 0.1 s: the drain rate.
backlog() { curl -s "127.0.0.1:$HTTP/metrics" | sed -n 's/^marovin_store_backlog_values{consumer="mqtt"} //p'; }
START=$(backlog)
broker
live
while [ "$(backlog)" -ge "$START" ]; do sleep 0.05; done
T0=$(date +%s.%N)
while [ "$(backlog)" -gt 0 ]; do sleep 0.1; done
T1=$(date +%s.%N)
awk -v n="$START" -v a="$T0" -v b="$T1" \
    'BEGIN { printf "backlog at the reconnect: %d values, drained in %.2f s: %.0f values/s (the host'"'"'s count)\n", n, b - a, n / (b - a) }'
sleep 10
kill -TERM "$HOST_PID"
wait "$HOST_PID" || true
# -W ends a subscriber after that long: again until one gets nothing.
: >"$WORK/sub.txt"
size=-1
while [ "$(wc -c <"$WORK/sub.txt" 2>/dev/null || echo 0)" != "$size" ]; do
    size=$(wc -c <"$WORK/sub.txt" 2>/dev/null || echo 0)
    mosquitto_sub "${SUB[@]}" -R -W 30 -F '%U %t %p' >>"$WORK/sub.txt" 2>/dev/null || true
done
grep -E '^store:' "$WORK/host.out"

python3 - "$WORK/sub.txt" "$WORK/live.txt" "$DOWN" "$T0" "$T1" "$WORK/s.db" <<'PY'
import json, sys, statistics
path, live, down, t0, t1, store = sys.argv[1], sys.argv[2], float(sys.argv[3]), float(sys.argv[4]), float(sys.argv[5]), sys.argv[6]
seen, last, faults, history = {}, {}, 0, 0
for line in open(path):
    _, topic, payload = line.split(" ", 2)
    if not payload.startswith("{"):
        continue
    msg = json.loads(payload)
    tag = topic.split("/", 1)[1]
    if "value" not in msg or not tag[1:].isdigit():
        continue
    seen.setdefault(tag, set()).add(msg["value"])
    if msg.get("historical"):
        history += 1
        faults += tag in last and msg["ts"] < last[tag]
        last[tag] = msg["ts"]
# What the host read is what its store holds: each of those must have arrived.
import sqlite3
db = sqlite3.connect(f"file:{store}?mode=ro", uri=True)
read = db.execute("SELECT t.name, e.value FROM entries e JOIN tags t ON t.id = e.tag WHERE t.name != 'clock'").fetchall()
lost = sum(1 for tag, value in read if int(value) not in seen.get(tag, ()))
print(f"values lost: {lost} of the {len(read)} the host read (its store)")
print(f"history: {history} messages, out of read order: {faults}")
before, during = [], []
for line in open(live):
    at, _, payload = line.split(" ", 2)
    at = float(at)
    if payload.startswith("{") and "value" in payload and "historical" not in payload:
        delay = at * 1000 % 4294967296 - json.loads(payload)["value"]
        (before if at < down else during if t0 <= at <= t1 else []).append(delay)
for name, d in (("before the outage", before), ("while the backlog drained", during)):
    if d:
        d.sort()
        print(f"live delay {name}: median {statistics.median(d):.0f} ms, 95th {d[int(len(d) * .95)]:.0f} ms ({len(d)} samples)")
PY
