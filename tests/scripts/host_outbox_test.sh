#!/usr/bin/env bash
# The outbox (--store) when its disk fails it: a store on a read-only path,
# a damaged store file, a full disk (a small tmpfs) that gets room again.
# Each time: a clear notice, no crash, live values keep flowing, and the
# summary's account of what could not be kept.
source "$(dirname "$0")/host_common.sh" "$1"

printf 'animate 1:1:100=counter\n' >"$WORK/line.mem"
for i in $(seq 1 19); do printf 'animate 1:1:%x=counter\n' $((0x100 + i)) >>"$WORK/line.mem"; done
printf 'c%d = 1:w16:%x\n' 0 $((0x100)) >"$WORK/line.tags"
for i in $(seq 1 19); do printf 'c%d = 1:w16:%x\n' "$i" $((0x100 + i)) >>"$WORK/line.tags"; done
LINE=(--quiet --refresh 100 --tags "$WORK/line.tags" --sim-args "--memory $WORK/line.mem --tick 10")
# flowing NAME: the CSV of the run has a line for most refreshes, and the counter moved to the end.
flowing() {
    local lines last
    lines=$(($(wc -l <"$WORK/$1.csv") - 1))
    last=$(tail -n 1 "$WORK/$1.csv" | cut -d, -f3)
    [ "$lines" -ge 15 ] && [ "${last:-0}" -ge 100 ]
}
stored() { [ "$(sed -n 's/^store: *\([0-9]*\) values kept.*/\1/p' "$WORK/$1.out")" -gt "${2:-0}" ]; }

# A read-only folder (as an unprivileged user): kept in memory, said once.
chmod 755 "$WORK"
mkdir -m 555 "$WORK/ro"
runuser -u nobody -- timeout 30 "$HOST" "${LINE[@]}" --duration 2 --store "$WORK/ro/s.db" --csv /dev/null >"$WORK/ro.out" 2>&1
echo $? >"$WORK/ro.rc"
check_rc ro 0
check_in "$WORK/ro.out" "store $WORK/ro/s.db: Permission denied; values are kept in memory only" "read-only: said"
check "read-only: values kept in memory" stored ro
check_in "$WORK/ro.out" 'store: .*\(in memory only: Permission denied\)' "read-only: in the summary"

# A damaged store: moved aside, a new one begun.
head -c 65536 /dev/urandom >"$WORK/bad.db"
run_host bad "${LINE[@]}" --duration 2 --store "$WORK/bad.db" --csv "$WORK/bad.csv"
check_rc bad 0
check_in "$WORK/bad.out" "store $WORK/bad.db is damaged \(.*not a database\): moved to $WORK/bad.db.damaged-" "damaged: said"
check "damaged: kept aside" ls "$WORK"/bad.db.damaged-*
check "damaged: a new store took the values" stored bad 100
check "damaged: live values flowed" flowing bad

# A full disk: a small tmpfs, most of it taken by a file that is removed
# during the run; the store writes again and the summary counts what it lost.
mkdir "$WORK/small"
if mount -t tmpfs -o size=8m tmpfs "$WORK/small" 2>/dev/null; then
    trap 'umount "$WORK/small"; cleanup' EXIT
    head -c 8228608 /dev/zero >"$WORK/small/ballast"
    run_host fullA "${LINE[@]}" --duration 2 --store "$WORK/small/s.db" --csv "$WORK/fullA.csv"
    check_rc fullA 0
    check_in "$WORK/fullA.out" "store $WORK/small/s.db: .*disk is full; the newest 50000 values wait" "full: said"
    check "full: live values flowed" flowing fullA
    check_in "$WORK/fullA.out" 'store: .*, [1-9][0-9]* could not be kept' "full: the summary counts what was lost"
    "$HOST" "${LINE[@]}" --duration 4 --store "$WORK/small/s.db" --csv "$WORK/fullB.csv" >"$WORK/fullB.out" 2>&1 &
    GW_PID=$!
    wait_for grep -q "disk is full" "$WORK/fullB.out"
    rm "$WORK/small/ballast"
    wait "$GW_PID"
    echo $? >"$WORK/fullB.rc"
    check_rc fullB 0
    check_in "$WORK/fullB.out" "store $WORK/small/s.db: writing again" "full: writing again once there is room"
    # What waited in memory was written once there was room: nothing lost.
    check_in "$WORK/fullB.out" 'store: *[0-9]+ values kept, 0 dropped by its bounds, 0 could not be kept' "full: nothing lost then"
else
    echo "note: no tmpfs here (mount refused): the full disk is not tested"
fi
finish
