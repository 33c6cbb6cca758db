#!/usr/bin/env bash
# A noisy line: 20 % of replies dropped, corrupted, cut short or late, for more
# than 10,000 exchanges, then a clean line. Afterwards every value the host
# holds equals the simulator's memory, and every write either landed or was
# reported to the host as failed or dropped.
source "$(dirname "$0")/host_common.sh" "$1"

MEM="$WORK/soak.mem"
{
    for a in 10 11 12 13 14 15 16 17; do echo "1:1:$a=$((0x$a * 3))"; echo "2:3:$a=$((0x$a * 5))"; done
    for a in 20 22 24 26; do echo "1:2:$a=$((0x$a * 100003))"; echo "2:4:$a=$((0x$a * 7))"; done
} >"$MEM"
VARS=()
for a in 10 11 12 13 14 15 16 17; do VARS+=(-v "1:w16:$a" -v "2:w16b:$a"); done
for a in 20 22 24 26; do VARS+=(-v "1:d32:$a" -v "2:d32b:$a"); done
WRITES=()
for a in 11 13 15 17; do WRITES+=(-w "1:w16:$a=$((0x$a + 1000))" -w "2:w16b:$a=$((0x$a + 2000))"); done
for a in 22 26; do WRITES+=(-w "1:d32:$a=$((0x$a + 70000))" -w "2:d32b:$a=$((0x$a + 90000))"); done
WRITES+=(-w 1:w16:30=1 -w 2:w16b:31=2)  # written, not read back

timeout -k 5 150 "$HOST" --quiet --multi-station --retries 2 --timeout 10 --inter-byte 4 --cycles 40 \
    "${VARS[@]}" "${WRITES[@]}" --dump "$WORK/soak.host" --sim-log "$WORK/soak.simlog" \
    --sim-args "--stations 1,2 --memory $MEM --drop 5 --corrupt 5 --short 5 --delay 5:25 --seed 11 --faults-for 11000 --dump-on-exit $WORK/soak.sim" \
    >"$WORK/soak.out" 2>&1
echo $? >"$WORK/soak.rc"

check "soak ends normally (0, or 3 after give-ups)" [ "$(rc_of soak)" -eq 0 -o "$(rc_of soak)" -eq 3 ] || show soak
exchanges=$(summary_value soak exchanges)
check "more than 10,000 exchanges" [ "${exchanges:-0}" -gt 10000 ] || show soak
check "faults caused repeats" [ "$(summary_value soak repeats)" -gt 100 ]
check "every variable holds a value" dump_count "$WORK/soak.host" 24
check "every value equals the simulator's after clean cycles" dump_within "$WORK/soak.host" "$WORK/soak.sim"

# Every write: in the simulator's memory, or reported failed/dropped.
unaccounted=0
for w in "${WRITES[@]}"; do
    [ "$w" = -w ] && continue
    ref=${w%%=*} value=${w#*=}
    station=${ref%%:*} rest=${ref#*:} area=${rest%%:*} address=${rest#*:}
    case "$area" in w16) code=1 ;; d32) code=2 ;; w16b) code=3 ;; d32b) code=4 ;; esac
    if grep -qxF "$station:$code:$address=$value" "$WORK/soak.sim"; then
        continue
    fi
    if grep -qE "write $station:$area:0*$address=$value (failed|dropped)" "$WORK/soak.out"; then
        continue
    fi
    echo "  write $w neither landed nor reported"
    unaccounted=1
done
check "every write landed or was reported" [ "$unaccounted" -eq 0 ]

# What was injected and what the host saw, for the log.
grep -E '^ *faults' "$WORK/soak.simlog" || true
grep -E '^(exchanges|repeats|failures|give-ups|writes):' "$WORK/soak.out" || true
finish
