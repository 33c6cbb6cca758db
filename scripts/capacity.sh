#!/usr/bin/env bash
# What a line carries: values per second and cycle time of marovin-host for a
# number of tags at common line rates, next to the line's limit. marovin-sim
# keeps the line's pace (--line-rate: a request counts once its characters
# would have crossed the line, replies go out a character at a time), so a
# run over a pseudo-terminal or loopback TCP takes as long as on the wire.
#
#   bash scripts/capacity.sh [--rates "9600 19200 38400 115200"] [--tags "1 10 100"]
#        [--seconds S] [--response-delay MS] [--build DIR]
#        [--tcp | --ser2net raw|rfc2217 [--ser2net-options "OPTIONS"]]
#        [--outputs] [--rt-priority N] [--busy N]
#
# The host reaches the simulator over its pseudo-terminal (default), over
# loopback TCP (--tcp), or through ser2net in front of the pseudo-terminal
# (--ser2net: raw TCP or telnet with RFC 2217; OPTIONS go into the ser2net
# connection's accepter and options, e.g. "nodelay chardelay-off").
# --outputs: the host also publishes to a mosquitto started here (--mqtt)
# and serves the web panel (--http 0). --rt-priority N: the host's exchange
# thread at real-time priority N. --busy N: N CPU-bound processes run beside
# the host (stress-ng --cpu N), as other programs of an edge box would; the
# simulator then runs at real-time priority 20, as a PLC is not slowed by them.
# The limit: every request and reply byte at the character time (8N1: 10
# bits), plus the device's turnaround (--response-delay) per exchange;
# efficiency is values/s against it. Repeats are replies that came late or
# short: a stall of the machine, after which the host waits for its
# --timeout (200 ms here) of silence. Without --build, marovin-host and
# marovin-sim are built (Release) in build/capacity. Other load on the
# machine lowers the figures: the load average is printed with them.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
RATES="9600 19200 38400 115200"
TAGS="1 10 100"
SECONDS_PER_RUN=5
DELAY_MS=0
TRANSPORT=pty
SER2NET_OPTIONS=
BUILD=
OUTPUTS=
PRIORITY=
BUSY=0
while [ $# -gt 0 ]; do
    case "$1" in
        --rates) RATES=$2; shift 2 ;;
        --tags) TAGS=$2; shift 2 ;;
        --seconds) SECONDS_PER_RUN=$2; shift 2 ;;
        --response-delay) DELAY_MS=$2; shift 2 ;;
        --tcp) TRANSPORT=tcp; shift ;;
        --ser2net) TRANSPORT=ser2net-$2; shift 2 ;;
        --ser2net-options) SER2NET_OPTIONS=$2; shift 2 ;;
        --build) BUILD=$2; shift 2 ;;
        --outputs) OUTPUTS=1; shift ;;
        --rt-priority) PRIORITY=$2; shift 2 ;;
        --busy) BUSY=$2; shift 2 ;;
        *) sed -n '2,28p' "$0" >&2; exit 2 ;;
    esac
done
case "$TRANSPORT" in pty|tcp|ser2net-raw|ser2net-rfc2217) ;; *) echo "--ser2net takes raw or rfc2217" >&2; exit 2 ;; esac

if [ -z "$BUILD" ]; then
    BUILD=build/capacity
    bash scripts/install-deps.sh build-essential cmake pkg-config qtbase5-dev ser2net \
        libcli11-dev nlohmann-json3-dev libcpp-httplib-dev libjs-dygraphs
    mkdir -p "$BUILD"
    cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DMAROVIN_BUILD_TESTS=OFF >"$BUILD/configure.log" 2>&1 ||
        { tail -n 30 "$BUILD/configure.log"; exit 1; }
    cmake --build "$BUILD" -j"${MAROVIN_JOBS:-2}" --target marovin-host marovin-sim >"$BUILD/build.log" 2>&1 ||
        { tail -n 30 "$BUILD/build.log"; exit 1; }
fi
HOST="$BUILD/tools/marovin-host/marovin-host"
SIM="$BUILD/tools/marovin-sim/marovin-sim"
WORK=$(mktemp -d)
PIDS=()
stop_all() {
    local pid
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
    PIDS=()
}
trap 'stop_all; rm -rf "$WORK"' EXIT

# Starts the paced simulator in the background with ARGS...; sets WHERE to its
# first line's last word (the pty, or HOST:PORT).
start_sim() {
    WHERE=
    "${SIM_RUN[@]}" --line-rate "$RATE" --response-delay "$DELAY_MS" "$@" >"$WORK/sim.out" 2>/dev/null &
    PIDS+=($!)
    for _ in $(seq 1 50); do
        WHERE=$(sed -n '1s/.* //p' "$WORK/sim.out")
        [ -n "$WHERE" ] && return
        sleep 0.1
    done
    echo "marovin-sim did not start" >&2
    exit 1
}

# Starts ser2net in front of the pty in WHERE; sets WHERE to its HOST:PORT.
start_ser2net() {
    local port accepter=tcp options=
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    case " $SER2NET_OPTIONS " in *" nodelay "*) accepter="tcp(nodelay)" ;; esac
    case " $SER2NET_OPTIONS " in *" chardelay-off "*) options=$'\n  options:\n    chardelay: false' ;; esac
    [ "$TRANSPORT" = ser2net-rfc2217 ] && accepter="telnet(rfc2217),$accepter"
    printf 'connection: &plc\n  accepter: %s,127.0.0.1,%s\n  connector: serialdev,%s,%dn81,local%s\n' \
        "$accepter" "$port" "$WHERE" "$RATE" "$options" >"$WORK/ser2net.yaml"
    ser2net -n -u -P "$WORK/ser2net.pid" -c "$WORK/ser2net.yaml" >/dev/null 2>&1 &
    PIDS+=($!)
    for _ in $(seq 1 50); do
        (: >"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
        sleep 0.1
    done
    WHERE=127.0.0.1:$port
}

# The options --outputs and --rt-priority give the host.
EXTRA=()
if [ -n "$OUTPUTS" ]; then
    bash scripts/install-deps.sh mosquitto
    BROKER_PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$BROKER_PORT" >"$WORK/broker.conf"
    "$(PATH=$PATH:/usr/sbin command -v mosquitto)" -c "$WORK/broker.conf" >/dev/null 2>&1 &
    BROKER_PID=$!
    EXTRA+=(--mqtt "mqtt://127.0.0.1:$BROKER_PORT" --http 0)
fi
[ -n "$PRIORITY" ] && EXTRA+=(--rt-priority "$PRIORITY")
# The simulator stands for the PLC, which the box's load does not slow: beside
# busy processes it runs apart, at a real-time priority above the host's.
SIM_RUN=("$SIM")
if [ "$BUSY" -gt 0 ]; then
    SIM_RUN=(chrt -f 20 "$SIM")
    bash scripts/install-deps.sh stress-ng
    stress-ng --cpu "$BUSY" --quiet &
    BUSY_PID=$!
fi
trap 'stop_all; kill ${BROKER_PID:-} ${BUSY_PID:-} 2>/dev/null; rm -rf "$WORK"' EXIT

# One run: the host reads TAGS_NOW 16-bit values for the run's seconds; prints its summary.
run() {
    local host=("$HOST" -q --duration "$SECONDS_PER_RUN" --timeout 200 --line-rate "$RATE" -v "1:w16:100:$TAGS_NOW"
                "${EXTRA[@]}")
    case "$TRANSPORT" in
        pty) if [ "$BUSY" -gt 0 ]; then
                 start_sim --pty && "${host[@]}" --serial "$WHERE"
             else
                 "${host[@]}" --sim "$SIM" --sim-args "--response-delay $DELAY_MS"
             fi ;;
        tcp) start_sim --tcp 127.0.0.1:0 && "${host[@]}" --tcp "$WHERE" ;;
        ser2net-raw) start_sim --pty && start_ser2net && "${host[@]}" --tcp "$WHERE" ;;
        ser2net-rfc2217) start_sim --pty && start_ser2net && "${host[@]}" --baud "$RATE" --rfc2217 "$WHERE" ;;
    esac
    stop_all
}

echo "marovin-host ${EXTRA[*]} against marovin-sim over $TRANSPORT${SER2NET_OPTIONS:+ ($SER2NET_OPTIONS)}, paced," \
    "8N1, device turnaround $DELAY_MS ms, $SECONDS_PER_RUN s a run$([ "$BUSY" -gt 0 ] && echo ", $BUSY busy processes beside");" \
    "load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| baud | tags | values/s | limit | efficiency | cycle (ms) | limit cycle (ms) | repeats |"
echo "| ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: |"
for RATE in $RATES; do
    for TAGS_NOW in $TAGS; do
        run >"$WORK/summary.txt" 2>&1
        awk -v rate="$RATE" -v tags="$TAGS_NOW" -v delay="$DELAY_MS" '
            /^elapsed:/ { elapsed = $2 }
            /^exchanges:/ { exchanges = $2 }
            /^values\/s:/ { values = $3; sub(/^\(/, "", values) }
            /^bytes:/ { bytes = $2 + $4 }
            /^repeats:/ { repeats = $2 }
            END {
                if (exchanges == 0 || elapsed == 0) { printf "| %d | %d | no exchanges | | | | | |\n", rate, tags; exit }
                exchangeS = (bytes / exchanges) * 10 / rate + delay / 1000
                limit = (values / exchanges) / exchangeS
                got = values / elapsed
                printf "| %d | %d | %.1f | %.1f | %.1f %% | %.1f | %.1f | %d |\n", rate, tags, got, limit,
                       100 * got / limit, 1000 * tags / got, 1000 * tags / limit, repeats
            }' "$WORK/summary.txt"
    done
done
echo
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
