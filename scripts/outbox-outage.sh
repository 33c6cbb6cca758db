#!/usr/bin/env bash
# A broker outage of OUTAGE seconds at 1,000 changes a second (outside CI):
# 20 counters the bundled simulator moves every 20 ms (on a line paced at
# 921,600 baud, each tag read about every 10 ms) and a clock tag, published
# with --store to a mosquitto started here (with persistence, so that the
# subscriber's session survives its restart). A QoS 1 subscriber with a
# persistent session records every message with its arrival time.
#
# Tells: values lost (gaps in each counter's sequence from its first to its
# last value, history and live together), history out of read order, the
# backlog's size and the rate at which it arrived once the broker was back,
# and the live delay of the clock tag (arrival minus the value, which is the
# simulator's time of the change) before the outage and while the backlog
# drained.
#
#   bash scripts/outbox-outage.sh     Environment: MAROVIN_BUILD_DIR (build/ci-native), OUTAGE (60)
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${MAROVIN_BUILD_DIR:-$ROOT/build/ci-native}
HOST="$BUILD/tools/marovin-host/marovin-host"
OUTAGE=${OUTAGE:-60}
MOSQUITTO=$(PATH=$PATH:/usr/sbin command -v mosquitto)
[ -x "$HOST" ] || { echo "build $BUILD first (bash scripts/test.sh native)" >&2; exit 1; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/marovin-outage.XXXXXX")
PIDS=()
trap 'for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$WORK"' EXIT
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
stdbuf -oL mosquitto_sub -h 127.0.0.1 -p "$PORT" -c -i outage-sub -q 1 -t 'out/#' -F '%U %t %p' >"$WORK/sub.txt" &
PIDS+=($!)
sleep 0.5
"$HOST" --quiet --tags "$WORK/line.tags" --sim-args "--memory $WORK/line.mem --tick 20" --line-rate 921600 \
    --store "$WORK/s.db" --mqtt "mqtt://127.0.0.1:$PORT" --mqtt-prefix out --duration $((OUTAGE + 120)) \
    --http "127.0.0.1:$HTTP" \
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
while [ "$(backlog)" -ge "$START" ]; do sleep 0.05; done
T0=$(date +%s.%N)
while [ "$(backlog)" -gt 0 ]; do sleep 0.1; done
T1=$(date +%s.%N)
awk -v n="$START" -v a="$T0" -v b="$T1" \
    'BEGIN { printf "backlog at the reconnect: %d values, drained in %.2f s: %.0f values/s (the host'"'"'s count)\n", n, b - a, n / (b - a) }'
sleep 10
kill -TERM "$HOST_PID"
wait "$HOST_PID" || true
# The subscriber has everything once its file stops growing.
while :; do size=$(wc -c <"$WORK/sub.txt"); sleep 3; [ "$(wc -c <"$WORK/sub.txt")" -eq "$size" ] && break; done
grep -E '^store:' "$WORK/host.out"

python3 - "$WORK/sub.txt" "$DOWN" "$UP" <<'PY'
import json, sys, statistics
path, down, up = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
seen, history, live_delay, drain_delay = {}, [], [], []
order_faults = 0
last_hist = {}
for line in open(path):
    at, topic, payload = line.split(" ", 2)
    at = float(at)
    if not payload.startswith("{"):
        continue
    msg = json.loads(payload)
    tag = topic.split("/", 1)[1]
    if "value" not in msg:
        continue
    v = msg["value"]
    if msg.get("historical"):
        history.append(at)
        if tag in last_hist and v < last_hist[tag] and tag != "clock":
            order_faults += 1
        last_hist[tag] = v
    if tag == "clock" and not msg.get("historical"):
        delay = at * 1000 % 4294967296 - v
        (live_delay if at < down else drain_delay if history and at - history[-1] < 1 else []).append(delay)
    seen.setdefault(tag, set()).add(v)
lost = 0
for tag, values in seen.items():
    if tag[1:].isdigit():
        lost += max(values) - min(values) + 1 - len(values)
print(f"values lost (gaps in the counters): {lost}")
print(f"history out of read order: {order_faults}")
if history:
    span = history[-1] - history[0]
    print(f"history at the subscriber: {len(history)} messages in {span:.2f} s: {len(history) / span if span else 0:.0f} values/s")
if live_delay:
    print(f"live delay before the outage: median {statistics.median(live_delay):.0f} ms, 95th {sorted(live_delay)[int(len(live_delay) * .95)]:.0f} ms")
if drain_delay:
    print(f"live delay while the backlog drained: median {statistics.median(drain_delay):.0f} ms, 95th {sorted(drain_delay)[int(len(drain_delay) * .95)]:.0f} ms ({len(drain_delay)} samples)")
PY
