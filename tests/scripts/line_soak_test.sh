#!/usr/bin/env bash
# A noisy line: 20 % of replies dropped, corrupted, cut short or late, then a
# clean line. Afterwards every value the host holds equals the simulator's
# memory, and every write either landed or was reported to the host as failed
# or dropped. MAROVIN_SOAK_SCALE (default 1: 2,000 faulty exchanges, a few
# seconds) lengthens it: 6 gives the 12,000 of a real soak.
source "$(dirname "$0")/host_common.sh" "$1"

SCALE=${MAROVIN_SOAK_SCALE:-1}
MEM="$WORK/soak.mem"
VARS=()
WRITES=(-w 1:w16:30=1 -w 2:w16b:31=2)  # written, not read back
for a in 10 11 12 13 14 15 16 17; do
    printf '1:1:%s=%d\n2:3:%s=%d\n' $a $((0x$a * 3)) $a $((0x$a * 5)) >>"$MEM"
    VARS+=(-v "1:w16:$a" -v "2:w16b:$a")
    [ $((0x$a % 2)) -eq 1 ] && WRITES+=(-w "1:w16:$a=$((0x$a + 1000))" -w "2:w16b:$a=$((0x$a + 2000))")
done
for a in 20 22 24 26; do
    printf '1:2:%s=%d\n2:4:%s=%d\n' $a $((0x$a * 100003)) $a $((0x$a * 7)) >>"$MEM"
    VARS+=(-v "1:d32:$a" -v "2:d32b:$a")
    [ $((0x$a % 4)) -eq 2 ] && WRITES+=(-w "1:d32:$a=$((0x$a + 70000))" -w "2:d32b:$a=$((0x$a + 90000))")
done

timeout -k 5 $((60 + 30 * SCALE)) "$HOST" --quiet --multi-station --retries 2 --timeout 10 --inter-byte 4 \
    --cycles $((8 + 6 * SCALE)) "${VARS[@]}" "${WRITES[@]}" --dump "$WORK/soak.host" --sim-log "$WORK/soak.simlog" \
    --sim-args "--stations 1,2 --memory $MEM --drop 5 --corrupt 5 --short 5 --delay 5:25 --seed 11 --faults-for $((2000 * SCALE)) --dump-on-exit $WORK/soak.sim" \
    >"$WORK/soak.out" 2>&1
echo $? >"$WORK/soak.rc"
check_rc soak 0 3
check "more than $((1700 * SCALE)) exchanges" [ "$(summary_value soak exchanges)" -gt $((1700 * SCALE)) ]
check "faults caused repeats" [ "$(summary_value soak repeats)" -gt $((20 * SCALE)) ]
check "every variable holds a value" dump_count "$WORK/soak.host" 24
check "every value equals the simulator's after clean cycles" dump_within "$WORK/soak.host" "$WORK/soak.sim"
# Every write: in the simulator's memory, or reported failed/dropped.
unaccounted=0
for w in "${WRITES[@]}"; do
    [ "$w" = -w ] && continue
    ref=${w%%=*} value=${w#*=}
    IFS=: read -r station area address <<<"$ref"
    code=$(case $area in w16) echo 1 ;; d32) echo 2 ;; w16b) echo 3 ;; d32b) echo 4 ;; esac)
    grep -qxF "$station:$code:$address=$value" "$WORK/soak.sim" && continue
    grep -qE "write $station:$area:0*$address=$value (failed|dropped)" "$WORK/soak.out" && continue
    echo "  write $w neither landed nor reported"
    unaccounted=1
done
check "every write landed or was reported" [ "$unaccounted" -eq 0 ]
grep -E '^ *faults' "$WORK/soak.simlog"
grep -E '^(exchanges|repeats|failures|give-ups|writes):' "$WORK/soak.out"
finish
