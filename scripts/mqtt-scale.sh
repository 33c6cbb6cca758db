#!/usr/bin/env bash
# The MQTT gateway scaled out, measured (outside CI). K lines, each a
# marovin-host with its own simulator and TAGS tags that all change every
# tick, publish into one central mosquitto: first directly, then each through
# an edge mosquitto of its own bridged to the central one. A subscriber on the
# central broker records every message with its arrival time. The tags are
# clock values (the simulator's wall-clock time of the change), so arrival
# minus value is the delay from the change in the PLC to the subscriber, and
# the payload's "ts" (time of the read) splits it into polling and the rest.
#
#   bash scripts/mqtt-scale.sh [K [TAGS [SECONDS]]]       defaults: 8 200 20
#
# Environment: MAROVIN_BUILD_DIR (default build/ci-native, built if needed),
# MQTT_TICK_MS (997: not a multiple of the refresh, so that changes come at every
# phase of it), MQTT_REFRESH_MS (250), MQTT_TURNAROUND_MS (2: about
# 400 exchanges/s per line, so that K lines do not just fight for the CPU),
# MQTT_CLOCKS (TAGS: how many of each line's tags the simulator moves; the others stay
# as they are, are read all the same and publish nothing after their first value),
# MQTT_HOST_ARGS (more options for every gateway, e.g. "--rt-priority 10"), MQTT_LINE (pty, the
# default: the gateway starts its simulator on a pseudo-terminal; tcp: a simulator of its own on a
# loopback port, which answers about ten times as fast, so a poll cycle is that much shorter).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
K=${1:-8}
TAGS=${2:-200}
SECONDS_TO_RUN=${3:-20}
BUILD=${MAROVIN_BUILD_DIR:-$ROOT/build/ci-native}
TICK=${MQTT_TICK_MS:-997}
CLOCKS=${MQTT_CLOCKS:-$TAGS}
REFRESH=${MQTT_REFRESH_MS:-250}
TURNAROUND=${MQTT_TURNAROUND_MS:-2}
HOST="$BUILD/tools/marovin-host/marovin-host"
SIM="$BUILD/tools/marovin-sim/marovin-sim"
LINE=${MQTT_LINE:-pty}
case "$LINE" in pty|tcp) ;; *) echo "MQTT_LINE: pty or tcp" >&2; exit 2 ;; esac
MOSQUITTO=$(PATH=$PATH:/usr/sbin command -v mosquitto)

note() { printf '==> %s\n' "$*" >&2; }

bash "$ROOT/scripts/install-deps.sh" mosquitto mosquitto-clients libmosquitto-dev python3
if [ ! -x "$HOST" ]; then
    note "building $BUILD"
    cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$BUILD" -j2 --target marovin-host marovin-sim >/dev/null
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/marovin-mqtt-scale.XXXXXX")
PIDS=()
cleanup() {
    local pid
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    [ -n "${MQTT_SCALE_KEEP:-}" ] && echo "kept $WORK" >&2 || rm -rf "$WORK"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
wait_for() { local i; for i in $(seq 300); do "$@" 2>/dev/null && return 0; sleep 0.1; done; return 1; }
# start_broker NAME PORT [CONFIG LINE...]
start_broker() {
    printf '%s\n' "listener $2 127.0.0.1" "allow_anonymous true" "user $(id -un)" "max_queued_messages 100000" \
        "${@:3}" >"$WORK/$1.conf"
    "$MOSQUITTO" -c "$WORK/$1.conf" >"$WORK/$1.log" 2>&1 &
    PIDS+=($!)
    BROKER_PID=$!
    wait_for grep -q ' running$' "$WORK/$1.log"
}
# probe PORT FILE: a message to plant/probe reaches the subscriber writing FILE.
probe() { mosquitto_pub -p "$1" -t plant/probe -m probe && grep -q '^[0-9.]* plant/probe probe' "$2"; }
# CPU seconds (user + system) a process has used so far.
cpu_seconds() { awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15) / hz }' "/proc/$1/stat"; }

# Every tag a 32-bit clock value; the simulator moves the first CLOCKS of them each tick.
: >"$WORK/line.mem"
for ((i = 0; i < TAGS; i++)); do
    [ "$i" -lt "$CLOCKS" ] && printf 'animate 1:2:%x=clock\n' $((2 * i)) >>"$WORK/line.mem"
    printf 't%03d = 1:d32:%x\n' "$i" $((2 * i)) >>"$WORK/line.tags"
done

# run MODE: K gateways into the central broker, directly or through bridged edges.
run() {
    local mode=$1 central k port
    central=$(free_port)
    start_broker "$mode-central" "$central"
    local central_pid=$BROKER_PID
    stdbuf -oL mosquitto_sub -p "$central" -t 'plant/#' -q 1 -F '%U %t %p' >"$WORK/$mode.sub" 2>&1 &
    local subscriber=$!
    PIDS+=($!)
    wait_for probe "$central" "$WORK/$mode.sub"
    local gateways=() brokers=("$central_pid") ports=()
    for ((k = 1; k <= K; k++)); do
        ports[k]=$central
        if [ "$mode" = bridged ]; then
            ports[k]=$(free_port)
            start_broker "$mode-edge$k" "${ports[k]}" "connection central$k" "address 127.0.0.1:$central" \
                "topic plant/line$k/# out 1" "topic plant/line$k/+/set in 1" "cleansession true"
            brokers+=("$BROKER_PID")
        fi
    done
    for ((k = 1; k <= K; k++)); do
        port=${ports[k]}
        local line=(--sim-args "--memory $WORK/line.mem --tick $TICK")
        if [ "$LINE" = tcp ]; then
            "$SIM" --tcp 127.0.0.1:0 --memory "$WORK/line.mem" --tick "$TICK" \
                >"$WORK/$mode.sim$k.out" 2>&1 &
            PIDS+=($!)
            wait_for grep -q '^marovin-sim: tcp ' "$WORK/$mode.sim$k.out"
            line=(--tcp "$(sed -n 's/^marovin-sim: tcp //p' "$WORK/$mode.sim$k.out")")
        fi
        "$HOST" --quiet --duration "$SECONDS_TO_RUN" --refresh "$REFRESH" --turnaround "$TURNAROUND" \
            --tags "$WORK/line.tags" "${line[@]}" \
            --mqtt "mqtt://127.0.0.1:$port" --mqtt-prefix "plant/line$k" ${MQTT_HOST_ARGS:-} >"$WORK/$mode.gw$k.out" 2>&1 &
        gateways+=($!)
        PIDS+=($!)
    done
    local start=$SECONDS
    sleep "$((SECONDS_TO_RUN - 2))"
    local elapsed=$((SECONDS - start)) gw_cpu=0 broker_cpu=0
    for k in "${gateways[@]}"; do
        gw_cpu=$(awk -v a="$gw_cpu" -v b="$(cpu_seconds "$k")" 'BEGIN { print a + b }')
    done
    for k in "${brokers[@]}"; do
        broker_cpu=$(awk -v a="$broker_cpu" -v b="$(cpu_seconds "$k")" 'BEGIN { print a + b }')
    done
    wait "${gateways[@]}" || true
    sleep 1
    python3 - "$WORK/$mode.sub" "$mode" "$K" "$TAGS" "$gw_cpu" "$broker_cpu" "$elapsed" <<'PY'
import datetime, json, sys
path, mode, k, tags, gw_cpu, broker_cpu, elapsed = sys.argv[1:]
rows = []
for line in open(path, errors="replace"):
    parts = line.split(" ", 2)
    if len(parts) != 3 or not parts[1].startswith("plant/"):
        continue
    try:
        arrival = float(parts[0]) * 1000
        state = json.loads(parts[2])
    except ValueError:
        continue
    if not state.get("value"):  # none yet, or the memory's 0 before the first tick
        continue
    read = datetime.datetime.fromisoformat(state["ts"].replace("Z", "+00:00")).timestamp() * 1000
    rows.append((arrival, (int(arrival) - state["value"]) % 2**32, arrival - read))
if not rows:
    sys.exit(f"{mode}: no messages")
first = rows[0][0]
last = rows[-1][0]
steady = [r for r in rows if first + 3000 <= r[0] <= last - 1000]
def pct(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(p / 100 * len(values)))]
delay = [r[1] for r in steady]
after_read = [r[2] for r in steady]
rate = len(steady) / ((last - 1000 - first - 3000) / 1000)
print(f"| {mode} | {k} x {tags} | {rate:,.0f} | {pct(delay, 50):.0f} / {pct(delay, 99):.0f} | "
      f"{pct(after_read, 50):.0f} / {pct(after_read, 99):.0f} | "
      f"{100 * float(gw_cpu) / int(k) / float(elapsed):.1f} % | {100 * float(broker_cpu) / float(elapsed):.1f} % |")
PY
    kill "$subscriber" "${brokers[@]}" 2>/dev/null || true
}

echo "| setup | lines x tags | messages/s | change to subscriber, ms (median / 99th) | read to subscriber, ms (median / 99th) | CPU per gateway | CPU of the brokers |"
echo "| --- | --- | ---: | ---: | ---: | ---: | ---: |"
run direct
run bridged
