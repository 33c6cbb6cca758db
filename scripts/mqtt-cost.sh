#!/usr/bin/env bash
# What a published MQTT message costs the gateway (outside CI). One line of
# TAGS tags (clock values, each moved by the simulator every TICK ms),
# published as they change to a mosquitto started here. The default load is
# one every change of which the gateway publishes, even under callgrind; a
# saturated broker would leave changes to wait and count only those sent.
#
# 1. Instructions per published change: two runs under callgrind that differ
#    in length (so in messages); the slope of the instructions in
#    TagPublisher::changed and TagPublisher::catchUp (loop thread: the
#    message, the hand-over to libmosquitto) and in MqttConnection::run (the
#    gateway's MQTT thread: libmosquitto sending and taking acknowledgements)
#    over the messages the subscriber got; beside it, what finding the
#    changes costs the loop (Loop::watchRun: a fetch from the driver's cache
#    where a reply differs from the last). Start-up and the connection cancel
#    out.
# 2. CPU share of the gateway process (user + system time of all its threads
#    over wall time, from /proc) at the same load, with and without --mqtt.
#
# With "sparkplug" the gateway is a Sparkplug B edge node instead: the slope
# is taken in SparkplugNode::changed and ::refresh over the values the DDATA
# messages carried (an exchange's changes go in one DDATA; the metrics of
# each message are counted here with a few lines of protobuf reading).
#
#   bash scripts/mqtt-cost.sh [json|sparkplug]
# Environment: MAROVIN_BUILD_DIR (build/ci-native), MQTT_COST_TAGS (200), MQTT_COST_TICK_MS (500).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${MAROVIN_BUILD_DIR:-$ROOT/build/ci-native}
HOST="$BUILD/tools/marovin-host/marovin-host"
MOSQUITTO=$(PATH=$PATH:/usr/sbin command -v mosquitto)
TAGS=${MQTT_COST_TAGS:-200}
TICK=${MQTT_COST_TICK_MS:-500}
REFRESH=500
SLOW_REFRESH=2000
MODE=${1:-json}
case "$MODE" in json|sparkplug) ;; *) echo "usage: $0 [json|sparkplug]" >&2; exit 2 ;; esac

bash "$ROOT/scripts/install-deps.sh" mosquitto mosquitto-clients valgrind python3
[ -x "$HOST" ] || { echo "build $BUILD first (bash scripts/test.sh native)" >&2; exit 1; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/marovin-mqtt-cost.XXXXXX")
PIDS=()
cleanup() {
    local pid
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf '%s\n' "listener $PORT 127.0.0.1" "allow_anonymous true" "user $(id -un)" >"$WORK/broker.conf"
"$MOSQUITTO" -c "$WORK/broker.conf" >"$WORK/broker.log" 2>&1 &
PIDS+=($!)
for ((i = 0; i < TAGS; i++)); do
    printf 'animate 1:2:%x=clock\n' $((2 * i)) >>"$WORK/line.mem"
    printf 't%04d = 1:d32:%x\n' "$i" $((2 * i)) >>"$WORK/line.tags"
done
sleep 1
LINE=(--quiet --tags "$WORK/line.tags" --sim-args "--memory $WORK/line.mem --tick $TICK")
MQTT=(--mqtt "mqtt://127.0.0.1:$PORT" --mqtt-prefix cost)
PUBLISHING=("TagPublisher::changed(" "TagPublisher::catchUp(")
if [ "$MODE" = sparkplug ]; then
    MQTT=(--mqtt "mqtt://127.0.0.1:$PORT" --sparkplug cost/edge)
    PUBLISHING=("SparkplugNode::changed(" "SparkplugNode::refresh(")
fi

# subscribe NAME: what the gateway publishes, "TOPIC HEX" a line, into NAME.sub.
subscribe() {
    stdbuf -oL mosquitto_sub -p "$PORT" -F '%t %x' -t 'cost/#' -t 'spBv1.0/#' >"$WORK/$1.sub" &
    SUBSCRIBER=$!
    PIDS+=($!)
    sleep 0.5
}
# messages NAME: the values published: one a message in JSON, the metrics of each DDATA in Sparkplug.
messages() {
    python3 - "$WORK/$1.sub" <<'PY'
import sys
def varint(b, i):
    v = s = 0
    while True:
        v |= (b[i] & 0x7F) << s; s += 7; i += 1
        if b[i - 1] < 0x80: return v, i
values = 0
for line in open(sys.argv[1]):
    topic, _, hexed = line.strip().partition(' ')
    if topic.startswith('cost/t'): values += 1
    if '/DDATA/' not in topic: continue
    b, i = bytes.fromhex(hexed), 0
    while i < len(b):  # the payload's top-level fields: field 2 is a metric
        key, i = varint(b, i)
        if key & 7 == 0: _, i = varint(b, i)
        elif key & 7 == 1: i += 8
        elif key & 7 == 2: n, i = varint(b, i); i += n; values += key >> 3 == 2
        else: i += 4
print(values)
PY
}
# inclusive NAME FUNCTION: the inclusive instructions of FUNCTION in a callgrind file.
inclusive() {
    callgrind_annotate --auto=no --inclusive=yes "$WORK/$1.cg" 2>/dev/null | grep -v "=>" | grep -F "$2" | head -n 1 |
        sed -E 's/^ *([0-9,]+).*/\1/; s/,//g'
}

for seconds in 11 21; do
    subscribe "cg$seconds"
    valgrind --tool=callgrind --callgrind-out-file="$WORK/cg$seconds.cg" "$HOST" --duration "$seconds" \
        --refresh "$SLOW_REFRESH" "${LINE[@]}" "${MQTT[@]}" >"$WORK/cg$seconds.out" 2>&1
    sleep 1
    kill "$SUBSCRIBER"
done
# both NAME: the loop thread's publishing (changes and catch-ups) of a run.
both() { local a b; a=$(inclusive "$1" "${PUBLISHING[0]}"); b=$(inclusive "$1" "${PUBLISHING[1]}"); echo $((${a:-0} + ${b:-0})); }
python3 - "$(messages cg11)" "$(messages cg21)" "$(both cg11)" "$(both cg21)" \
    "$(inclusive cg11 'MqttConnection::run()')" "$(inclusive cg21 'MqttConnection::run()')" \
    "$(inclusive cg11 'Loop::watchRun(')" "$(inclusive cg21 'Loop::watchRun(')" \
    "$(inclusive cg11 'Loop::tellChanges(')" "$(inclusive cg21 'Loop::tellChanges(')" <<'PY'
import sys
m1, m2, p1, p2, r1, r2, w1, w2, t1, t2 = map(int, sys.argv[1:])
loop = (p2 - p1) / (m2 - m1)
thread = (r2 - r1) / (m2 - m1)
watch = ((w2 - t2) - (w1 - t1)) / (m2 - m1)
print(f"values published: {m1} and {m2}")
print(f"instructions per published change: {loop:,.0f} on the loop thread + {thread:,.0f} in the MQTT thread"
      f" = {loop + thread:,.0f}; finding the change (fetch and compare, loop thread): {watch:,.0f}")
PY

# cpu NAME ARGS...: CPU share of the gateway over 20 s after a second of start-up.
cpu() {
    local name=$1 hz pid t0 t1 c0 c1
    shift
    hz=$(getconf CLK_TCK)
    subscribe "$name"
    "$HOST" --duration 23 --refresh "$REFRESH" "${LINE[@]}" "$@" >"$WORK/$name.out" 2>&1 &
    pid=$!
    sleep 1
    t0=$(date +%s.%N)
    c0=$(awk '{ print $14, $15 }' "/proc/$pid/stat")
    sleep 20
    t1=$(date +%s.%N)
    c1=$(awk '{ print $14, $15 }' "/proc/$pid/stat")
    wait "$pid" || true
    kill "$SUBSCRIBER"
    python3 - "$name" "$t0" "$t1" "$c0" "$c1" "$hz" "$(messages "$name")" \
        "$(sed -n 's/^exchanges\/s: *//p' "$WORK/$name.out")" <<'PY'
import sys
name, t0, t1, c0, c1, hz, msgs, rate = sys.argv[1:]
u0, s0 = map(int, c0.split())
u1, s1 = map(int, c1.split())
wall = float(t1) - float(t0)
user = (u1 - u0) / int(hz) / wall * 100
system = (s1 - s0) / int(hz) / wall * 100
print(f"{name}: CPU {user + system:.1f} % of one core (user {user:.1f} %, system {system:.1f} %),"
      f" {float(rate):,.0f} exchanges/s, {int(msgs) / 23:,.0f} values published/s")
PY
}
cpu "with-$MODE" "${MQTT[@]}"
cpu without-mqtt
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
