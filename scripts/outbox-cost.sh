#!/usr/bin/env bash
# What the outbox (--store) costs the gateway (outside CI), at 1,000 changes
# a second: 20 counters that the bundled simulator (a child process, not
# counted) moves every 20 ms, on a line paced at 921,600 baud (about 1,900
# exchanges a second, each tag read about every 10 ms) rather than a loop
# that spins as fast as the pseudo-terminal answers.
#
# 1. CPU share of the host process (user + system time of all its threads
#    over wall time, from /proc), with and without --store, RUNS runs each;
#    and of the store's own thread (marovin-store).
# 2. Bytes on disk per value kept: the store's file (with its WAL) over the
#    values the summary says were kept.
# 3. Instructions of the exchange loop per exchange (callgrind, inclusive
#    cost of runExchangeLoop, the loop's thread only), with and without
#    --store, alone and beside --mqtt (a broker that is not there: MQTT
#    takes the changes all the same): the slope between a short and a long run.
#
#   bash scripts/outbox-cost.sh      Environment: MAROVIN_BUILD_DIR (build/ci-native), RUNS (3), SECONDS_PER_RUN (20)
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${MAROVIN_BUILD_DIR:-$ROOT/build/ci-native}
HOST="$BUILD/tools/marovin-host/marovin-host"
RUNS=${RUNS:-3}
SECONDS_PER_RUN=${SECONDS_PER_RUN:-20}
[ -x "$HOST" ] || { echo "build $BUILD first (bash scripts/test.sh native)" >&2; exit 1; }
command -v valgrind >/dev/null || bash "$ROOT/scripts/install-deps.sh" valgrind

WORK=$(mktemp -d "${TMPDIR:-/tmp}/marovin-outbox-cost.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
for i in $(seq 0 19); do
    printf 'animate 1:1:%x=counter\n' $((0x100 + i)) >>"$WORK/line.mem"
    printf 'c%d = 1:w16:%x\n' "$i" $((0x100 + i)) >>"$WORK/line.tags"
done
HOSTARGS=(--quiet --tags "$WORK/line.tags" --sim-args "--memory $WORK/line.mem --tick 20" --line-rate 921600
          --duration "$SECONDS_PER_RUN")

ticks() { awk '{ print $14 + $15 }' "$1"; }
# cpu NAME ARGS...: percent of one core of the whole process and of the store thread, and the summary.
cpu() {
    local name=$1 pid start end hz store=0 tid
    shift
    "$HOST" "${HOSTARGS[@]}" "$@" >"$WORK/$name.out" 2>&1 &
    pid=$!
    sleep 1
    start=$(ticks /proc/$pid/stat)
    sleep $((SECONDS_PER_RUN - 3))
    end=$(ticks /proc/$pid/stat)
    for tid in /proc/$pid/task/*; do
        [ "$(cat "$tid/comm")" = marovin-store ] && store=$(ticks "$tid/stat")
    done
    wait "$pid"
    hz=$(getconf CLK_TCK)
    awk -v a="$start" -v b="$end" -v s="$store" -v hz="$hz" -v t=$((SECONDS_PER_RUN - 3)) -v n="$name" \
        'BEGIN { printf "%-8s process %5.1f %% of a core, store thread (whole run) %4.1f %%\n", n, 100 * (b - a) / hz / t, 100 * s / hz / (t + 3) }'
}

echo "== CPU at 1,000 changes/s ($RUNS runs of $SECONDS_PER_RUN s each way)"
for run in $(seq "$RUNS"); do
    cpu "plain$run"
    rm -f "$WORK"/s.db*
    cpu "store$run" --store "$WORK/s.db"
done
changes=$(sed -n 's/^store: *\([0-9]*\) values kept.*/\1/p' "$WORK/store$RUNS.out")
bytes=$(cat "$WORK"/s.db* | wc -c)
echo "== bytes on disk: $bytes for $changes values kept: $(awk -v b="$bytes" -v n="$changes" 'BEGIN { printf "%.1f", b / n }') bytes a value"
echo "   (without the WAL: $(awk -v b="$(wc -c <"$WORK/s.db")" -v n="$changes" 'BEGIN { printf "%.1f", b / n }'))"

# loop NAME CYCLES ARGS...: inclusive instructions of runExchangeLoop and the exchanges.
loop() {
    local name=$1 cycles=$2
    shift 2
    valgrind --tool=callgrind --callgrind-out-file="$WORK/$name.cg" "$HOST" --quiet -v 1:w16:100 \
        --sim-args "--memory $WORK/line.mem --tick 20" --cycles "$cycles" "$@" >"$WORK/$name.out" 2>&1 || true  # no broker: exit 1
    echo "$(callgrind_annotate --inclusive=yes "$WORK/$name.cg" 2>/dev/null | grep -F 'runExchangeLoop(' | head -n 1 |
        sed -E 's/^ *([0-9,]+).*/\1/; s/,//g') $(sed -n 's/^exchanges: *\([0-9]*\)/\1/p' "$WORK/$name.out")"
}
echo "== exchange loop instructions per exchange (callgrind, runExchangeLoop inclusive, slope 2000 -> 6000 cycles)"
for mode in plain store mqtt mqtt+store; do
    args=()
    case $mode in mqtt*) args=(--mqtt mqtt://127.0.0.1:1) ;; esac
    case $mode in *store) args+=(--store "$WORK/cg.db") ;; esac
    rm -f "$WORK"/cg.db*
    read -r i1 e1 < <(loop "${mode}1" 2000 "${args[@]}")
    rm -f "$WORK"/cg.db*
    read -r i2 e2 < <(loop "${mode}2" 6000 "${args[@]}")
    awk -v a="$i1" -v b="$i2" -v x="$e1" -v y="$e2" -v m="$mode" \
        'BEGIN { printf "%-10s %.0f instructions per exchange\n", m, (b - a) / (y - x) }'
done
