#!/usr/bin/env bash
# Injected faults show up with the right status codes and are recovered from:
# no reply (41..), a failed check (11..), a wrong length (71..), and mixed
# faults after which every value is still right.
source "$(dirname "$0")/host_common.sh" "$1"

write_memory "$WORK/memory.txt"
FAST=(--quiet --timeout 40 --inter-byte 10)

# Every reply dropped: repeats, then give-ups with no-reply codes per ownerType
# (the once-read on another station, so the write's give-up does not drop it).
run_host drop "${FAST[@]}" --duration 1.5 --retries 1 --multi-station -v 1:w16:10 -o 2:w16:11 -w 1:w16:12=1 \
    --trace "$WORK/drop.trace" --sim-args "--stations 1,2 --memory $WORK/memory.txt --drop 100"
check_rc drop 3
for pattern in 'RX \(nothing\) status 0 \(repeat: no reply\)' 'status 41 \(no reply, local, ownerType 0, given up\)' \
    'status 43 \(no reply, local, ownerType 2, given up\)' 'status 44 \(no reply, local, ownerType 3, given up\)'; do
    check_in "$WORK/drop.trace" "$pattern"
done
for pattern in '^failures: .*status 41 x[0-9]+' '^give-ups: *[1-9][0-9]* \([1-9][0-9]* notices\)' \
    'write 1:w16:12=1 given up: status 43' 'once-read 2:w16:11 given up' '^once-reads: *0 done, 1 failed'; do
    check_in "$WORK/drop.out" "$pattern"
done
check "summary counts repeats" [ "$(summary_value drop repeats)" -gt 0 ]

# Replies with a wrong sum byte or cut short: check-failed and wrong-length codes.
expect bad 3 '^failures: .*status 11 x[0-9]+' "${FAST[@]}" --duration 1 --retries 0 -v 1:w16:10 -v 1:d32:20 \
    --trace "$WORK/bad.trace" --sim-args "--memory $WORK/memory.txt --corrupt 50 --short 50 --seed 3"
check_in "$WORK/bad.trace" 'status 11 \(check failed, local, ownerType 0, given up\)'
check_in "$WORK/bad.trace" 'status 71 \(wrong length, local, ownerType 0, given up\)'

# Faults of several kinds, late replies included, and one station that never
# answers: repeats, and at the end every value read and every write landed is right.
printf '2:1:10=6\n' >>"$WORK/memory.txt"
run_host mixed "${FAST[@]}" --duration 3 --retries 8 --multi-station "${MEMORY_VARS[@]}" -v 2:w16:10 \
    -w 1:w16:11=4242 -w 1:d32b:40=99 --dump "$WORK/mixed.host" --trace "$WORK/mixed.trace" \
    --sim-args "--stations 1,2 --memory $WORK/memory.txt --drop 10 --corrupt 10 --short 5 --delay 5:80 --seed 7 --dump-on-exit $WORK/mixed.sim"
run_host station "${FAST[@]}" --duration 1.5 --retries 0 --multi-station -v 1:w16:10 -v 2:w16:10 \
    --dump "$WORK/station.host" --sim-args "--stations 1,2 --memory $WORK/memory.txt --drop 100 --fault-station 2"
check_rc mixed 0 3
check "mixed faults cause repeats" [ "$(summary_value mixed repeats)" -gt 0 ]
check_in "$WORK/mixed.trace" 'late reply dropped: [0-9]+ bytes'
check "every value read despite faults" dump_count "$WORK/mixed.host" $((MEMORY_VALUES + 1))
check "values right despite faults" dump_within "$WORK/mixed.host" "$WORK/mixed.sim"
check "writes landed despite faults" grep -qxF 1:1:11=4242 "$WORK/mixed.sim"
check "32-bit write landed despite faults" grep -qxF 1:4:40=99 "$WORK/mixed.sim"
check_rc station 3
check "healthy station still read" grep -qxF 1:1:10=100 "$WORK/station.host"
check "faulty station never read" bash -c "! grep -q '^2:1:10=' '$WORK/station.host'"

finish
