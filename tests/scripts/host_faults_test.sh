#!/usr/bin/env bash
# Injected faults show up with the right status codes and are recovered from:
# no reply (41..), a failed check (11..), a wrong length (71..), and 30 %
# mixed faults after which every value is still right.
source "$(dirname "$0")/host_common.sh" "$1"

write_memory "$WORK/memory.txt"
FAST=(--quiet --timeout 40 --inter-byte 10)

# Every reply dropped: repeats, then give-ups with no-reply codes.
run_host drop "${FAST[@]}" --duration 1.5 --retries 1 -v 1:w16:10 -o 1:w16:11 -w 1:w16:12=1 \
    --trace "$WORK/drop.trace" --sim-args "--memory $WORK/memory.txt --drop 100"
check "dropped replies end with exit 3" [ "$(rc_of drop)" -eq 3 ] || show drop
check "repeat traced as status 0" grep -q 'RX (nothing) status 0 (repeat: no reply)' "$WORK/drop.trace"
check "cyclic read given up with 41" grep -q 'status 41 (no reply, local, ownerType 0, given up)' "$WORK/drop.trace"
check "write given up with 43" grep -q 'status 43 (no reply, local, ownerType 2, given up)' "$WORK/drop.trace"
check "summary lists code 41" grep -qE '^failures: .*status 41 x[0-9]+' "$WORK/drop.out"
check "summary counts give-ups" [ "$(summary_value drop give-ups)" -gt 0 ]
check "summary counts repeats" [ "$(summary_value drop repeats)" -gt 0 ]
check "write reported failed" grep -q 'write 1:w16:12=1 given up: status 43' "$WORK/drop.out"
check "once-read reported given up" grep -qE 'once-read 1:w16:11 (given up|dropped)' "$WORK/drop.out"
check "give-up notices counted" grep -qE '^give-ups: *[1-9][0-9]* \([1-9][0-9]* notices\)' "$WORK/drop.out"

# Every reply with a wrong sum byte: check-failed codes.
run_host corrupt "${FAST[@]}" --duration 1 --retries 0 -v 1:w16:10 -v 1:d32:20 --trace "$WORK/corrupt.trace" \
    --sim-args "--memory $WORK/memory.txt --corrupt 100"
check "corrupted replies end with exit 3" [ "$(rc_of corrupt)" -eq 3 ] || show corrupt
check "check failure given up with 11" grep -q 'status 11 (check failed, local, ownerType 0, given up)' "$WORK/corrupt.trace"
check "summary lists code 11" grep -qE '^failures: .*status 11 x[0-9]+' "$WORK/corrupt.out"

# Every reply cut short: wrong-length codes.
run_host short "${FAST[@]}" --duration 1 --retries 0 -v 1:w16:10 --trace "$WORK/short.trace" \
    --sim-args "--memory $WORK/memory.txt --short 100"
check "short replies end with exit 3" [ "$(rc_of short)" -eq 3 ] || show short
check "short reply given up with 71" grep -q 'status 71 (wrong length, local, ownerType 0, given up)' "$WORK/short.trace"

# A once-read given up reports its own offset (ownerType 3: 44).
run_host oncedrop "${FAST[@]}" --duration 1 --retries 0 -v 1:w16:10 -o 1:w16:11 --trace "$WORK/oncedrop.trace" \
    --sim-args "--memory $WORK/memory.txt --drop 100"
check "once-read given up with 44" grep -q 'status 44 (no reply, local, ownerType 3, given up)' "$WORK/oncedrop.trace"
check "once-read failure counted" grep -q '^once-reads: *0 done, 1 failed' "$WORK/oncedrop.out"

# 30 % faults of several kinds, late replies included: repeats, and at the
# end every value read and every write landed is right.
run_host mixed "${FAST[@]}" --duration 3 --retries 8 "${MEMORY_VARS[@]}" -w 1:w16:11=4242 -w 1:d32b:40=99 \
    --dump "$WORK/mixed.host" \
    --sim-args "--memory $WORK/memory.txt --drop 10 --corrupt 10 --short 5 --delay 5:80 --seed 7 --dump-on-exit $WORK/mixed.sim"
check "mixed faults run ends normally (0, or 3 after a give-up)" [ "$(rc_of mixed)" -eq 0 -o "$(rc_of mixed)" -eq 3 ] \
    || show mixed
check "mixed faults cause repeats" [ "$(summary_value mixed repeats)" -gt 0 ]
check "every value read despite faults" dump_count "$WORK/mixed.host" "$MEMORY_VALUES"
check "values right despite faults" dump_within "$WORK/mixed.host" "$WORK/mixed.sim"
check "writes landed despite faults" grep -qxF 1:1:11=4242 "$WORK/mixed.sim"
check "32-bit write landed despite faults" grep -qxF 1:4:40=99 "$WORK/mixed.sim"

# Faults on another station do not disturb a healthy one.
cat >"$WORK/two.txt" <<'MEM'
1:1:10=5
2:1:10=6
MEM
run_host station "${FAST[@]}" --duration 1.5 --retries 0 --multi-station -v 1:w16:10 -v 2:w16:10 \
    --dump "$WORK/station.host" --sim-args "--stations 1,2 --memory $WORK/two.txt --drop 100 --fault-station 2"
check "faulty station run ends with exit 3" [ "$(rc_of station)" -eq 3 ] || show station
check "healthy station still read" grep -qxF 1:1:10=5 "$WORK/station.host"
check "faulty station never read" bash -c "! grep -q '^2:1:10=' '$WORK/station.host'"

finish
