# Shared by the host_*_test.sh scripts (sourced; not a test itself).
# Usage in a test: source "$(dirname "$0")/host_common.sh" "$1"
set -uo pipefail

BUILD_DIR=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
HOST="$BUILD_DIR/tools/marovin-host/marovin-host"
SIM="$BUILD_DIR/tools/marovin-sim/marovin-sim"
for bin in "$HOST" "$SIM"; do
    [ -x "$bin" ] || { echo "FAIL: $bin is not built" >&2; exit 1; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/marovin-host-test.XXXXXX")
SIM_PIDS=()
cleanup() {
    local pid
    for pid in "${SIM_PIDS[@]}"; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    [ -n "${KEEP:-}" ] || rm -rf "$WORK"
}
trap cleanup EXIT

FAILURES=0
CHECKS=0
pass() { CHECKS=$((CHECKS + 1)); echo "ok: $*"; }
fail() { CHECKS=$((CHECKS + 1)); FAILURES=$((FAILURES + 1)); echo "FAIL: $*"; return 1; }
# check DESCRIPTION COMMAND...: passes when the command succeeds; returns 1 when it failed.
check() {
    if "${@:2}"; then pass "$1"; else fail "$1"; fi
}
# Ends the test with a status that CTest reads.
finish() {
    echo "$((CHECKS - FAILURES)) passed, $FAILURES failed"
    [ "$FAILURES" -eq 0 ]
    exit $?
}

# Runs the host with a time bound; stdout+stderr into $WORK/NAME.out, exit code into $WORK/NAME.rc.
run_host() {
    timeout -k 5 30 "$HOST" "${@:2}" >"$WORK/$1.out" 2>&1
    echo $? >"$WORK/$1.rc"
}
rc_of() { cat "$WORK/$1.rc"; }
# Shows a run's output when a check on it failed.
show() { echo "--- $1 (exit $(rc_of "$1")) ---"; cat "$WORK/$1.out"; echo "---"; }
# check_rc NAME CODE...: the run NAME exited with one of the codes (its output shown if not).
check_rc() {
    local code
    for code in "${@:2}"; do [ "$(rc_of "$1")" -eq "$code" ] && { pass "$1 exits $code"; return 0; }; done
    fail "$1 exits ${*:2}"
    show "$1"
}
# Checks that a pattern (grep -E) is in a file: check_in FILE PATTERN [DESCRIPTION].
check_in() { check "${3:-$2 in ${1##*/}}" grep -qE -- "$2" "$1"; }
# expect NAME CODE PATTERN ARGS...: the host run with ARGS exits CODE and prints a line matching PATTERN.
expect() {
    run_host "$1" "${@:4}"
    check_rc "$1" "$2"
    check "$1: $3" grep -qE -- "$3" "$WORK/$1.out" || show "$1"
}

# A summary figure, e.g. summary_value run1 exchanges -> 1234
summary_value() { sed -n "s/^$2: *\\([0-9][0-9]*\\).*/\\1/p" "$WORK/$1.out" | tail -n 1; }

# Data lines of a memory text (comments and blank lines dropped).
data_lines() { grep -v '^[[:space:]]*#' "$1" | grep -v '^[[:space:]]*$'; }

# Every value line of the host's dump is also in the simulator's dump.
dump_within() {
    local line missing=0
    while IFS= read -r line; do
        grep -qxF "$line" "$2" || { echo "  host holds '$line', simulator: $(grep -F "${line%%=*}=" "$2" || echo none)"; missing=1; }
    done < <(data_lines "$1")
    [ "$missing" -eq 0 ]
}

# The dump holds exactly N value lines.
dump_count() { [ "$(data_lines "$1" | wc -l)" -eq "$2" ]; }

# Polls COMMAND... for up to 30 s.
# Whether nobody (an unprivileged user) may run this build: not from a clone in a private folder.
nobody_runs() { setpriv --reuid=65534 --regid=65534 --clear-groups test -r "$BUILD_DIR/lib/libMarovin.so.1" 2>/dev/null; }
wait_for() { local i; for i in $(seq 300); do "$@" 2>/dev/null && return 0; sleep 0.1; done; return 1; }
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# Starts the simulator in the background and waits for its first line; sets
# SIM_PID and SIM_LINE (pty path or tcp port). start_sim NAME ARGS...
start_sim() {
    "$SIM" "${@:2}" >"$WORK/$1.sim.out" 2>"$WORK/$1.sim.err" &
    SIM_PID=$!
    SIM_PIDS+=("$SIM_PID")
    sim_line() { SIM_LINE=$(sed -n 's/^marovin-sim: \(pty \|tcp .*:\)//p' "$WORK/$1.sim.out") && [ -n "$SIM_LINE" ]; }
    wait_for sim_line "$1" && return 0
    echo "simulator did not start:" >&2
    cat "$WORK/$1.sim.err" >&2
    return 1
}

# Ends a simulator started in the background (it writes --dump-on-exit then), with
# SIGTERM or the signal given.
stop_sim() {
    kill -"${2:-TERM}" "$1" 2>/dev/null
    # Up to 5 s for it to end by itself.
    timeout 5 tail -s 0.1 --pid="$1" -f /dev/null
    kill -KILL "$1" 2>/dev/null
    wait "$1" 2>/dev/null
    return 0
}

# A fixed memory for station 1 (no animation), used by several tests.
write_memory() {
    printf '%s\n' '# station 1, every area' 1:1:10=100 1:1:11=65535 1:1:12=4660 1:1:13=32768 1:2:20=4000000000 \
        1:3:30=4321 1:4:40=305419896 1:5:50=12.5 1:0:2=1 1:0:12=1 1:0:25=0 1:0:29=1 >"$1"
}
# The host variables that read the memory above.
MEMORY_VARS=(-v 1:w16:10:4 -v 1:d32:20 -v 1:w16b:30 -v 1:d32b:40 -v 1:float:50
             -v 1:bit:2 -v 1:bit:12 -v 1:bit:25 -v 1:bit:29)
MEMORY_VALUES=12

# start_ser2net ACCEPTER PORT PTY...: ser2net between each pty and a loopback port (ACCEPTER "tcp" for
# raw TCP, "telnet(rfc2217),tcp" for COM port control); returns once every port listens.
start_ser2net() {
    command -v ser2net >/dev/null || { echo "FAIL: ser2net is not installed (scripts/test.sh installs it)"; exit 1; }
    local i
    for ((i = 1; i < $#; i += 3)); do
        printf 'connection: &c%d\n  accepter: %s,127.0.0.1,%s\n  connector: serialdev,%s,9600n81,local\n' \
            "$i" "${@:i:3}"
    done >"$WORK/ser2net.yaml"
    ser2net -n -u -P "$WORK/ser2net.pid" -c "$WORK/ser2net.yaml" >"$WORK/ser2net.log" 2>&1 &
    SIM_PIDS+=($!)
    for ((i = 2; i < $#; i += 3)); do wait_for bash -c ": >/dev/tcp/127.0.0.1/${!i}"; done
}

# tls_cert NAME CN [CA]: NAME.key and NAME.crt in $WORK for 127.0.0.1, signed by an earlier one's CA or by itself.
tls_cert() {
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "/CN=$2" \
        -addext subjectAltName=IP:127.0.0.1 ${3:+-CA "$WORK/$3.crt" -CAkey "$WORK/$3.key"} \
        -keyout "$WORK/$1.key" -out "$WORK/$1.crt" 2>"$WORK/openssl.log" || cat "$WORK/openssl.log"
}

# npm_deps DIR: the packages tests/DIR pins, put into BUILD_DIR/DIR-test when its lock changed; sets NODE_PATH.
npm_deps() {
    local dir="$BUILD_DIR/$1-test"
    if ! cmp -s "$SOURCE_DIR/tests/$1/package-lock.json" "$dir/package-lock.json"; then
        mkdir -p "$dir" && cp "$SOURCE_DIR/tests/$1/package.json" "$SOURCE_DIR/tests/$1/package-lock.json" "$dir/"
        (cd "$dir" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error) ||
            { rm -f "$dir/package-lock.json"; return 1; }
    fi
    export NODE_PATH="$dir/node_modules"
}

# start_broker NAME PORT [CONFIG LINE...]: a mosquitto with a config of its own (no persistence unless it says so).
start_broker() {
    local mosquitto
    mosquitto=$(PATH=$PATH:/usr/sbin command -v mosquitto) || { echo "FAIL: mosquitto is not installed"; exit 1; }
    printf '%s\n' "listener $2 127.0.0.1" "user $(id -un)" "${@:3}" >"$WORK/$1.conf"
    "$mosquitto" -c "$WORK/$1.conf" >"$WORK/$1.log" 2>&1 &
    BROKER_PID=$!
    SIM_PIDS+=("$BROKER_PID")
    wait_for grep -q ' running$' "$WORK/$1.log" || { echo "FAIL: broker $1"; cat "$WORK/$1.log"; exit 1; }
}
# sub NAME ARGS...: messages as "topic payload" into NAME.sub, once subscribed.
sub() {
    stdbuf -oL mosquitto_sub -d -v "${@:2}" >"$WORK/$1.sub" 2>&1 &
    SIM_PIDS+=($!)
    wait_for grep -q SUBACK "$WORK/$1.sub"
}
# gateway NAME ARGS...: the host in the background (GW_PID), output into NAME.out.
gateway() {
    "$HOST" --quiet --duration 120 --refresh "${REFRESH:-250}" --tags "$WORK/${TAGS:-line.tags}" "${@:2}" >"$WORK/$1.out" 2>&1 &
    GW_PID=$!
    SIM_PIDS+=("$GW_PID")
}
# stop_gateway NAME [CODE]: SIGTERM; the exit code must be CODE, 0 by default (a sanitizer report makes it 66).
stop_gateway() {
    kill -TERM "$GW_PID"
    wait "$GW_PID"
    echo $? >"$WORK/$1.rc"
    check "$1: exit ${2:-0} after SIGTERM" [ "$(rc_of "$1")" -eq "${2:-0}" ] || show "$1"
}
# retained_has PATTERN ARGS...: the first message mosquitto_sub gets matches.
retained_has() { mosquitto_sub -C 1 -W 3 "${@:2}" | grep -q "$1"; }
count() { grep -c "$1" "$2"; }
# at_least N PATTERN FILE: N lines or more match (for wait_for, which runs it again and again).
at_least() { [ "$(count "$2" "$3")" -ge "$1" ]; }
