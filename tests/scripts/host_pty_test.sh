#!/usr/bin/env bash
# marovin-host against the bundled simulator over a pseudo-terminal pair:
# values read equal the simulator's memory, writes land in it, once-reads
# report, the trace has its format, and a stop signal ends the run cleanly.
source "$(dirname "$0")/host_common.sh" "$1"

write_memory "$WORK/memory.txt"
SIM_MEMORY="--memory $WORK/memory.txt"

# Reads and writes of every area: the host's values equal the simulator's memory.
run_host rw --quiet --cycles 5 "${MEMORY_VARS[@]}" -v 1:d32:22 \
    -w 1:w16:11=777 -w 1:d32:20=-5,7 -w 1:float:50=3.25 -w 1:bit:29=0 -w 1:bit:12=0 \
    -w 1:w16b:30=0x1234 -w 1:d32b:40=4000000001 --dump "$WORK/rw.host" --sim-args "$SIM_MEMORY --dump-on-exit $WORK/rw.sim"
check_rc rw 0
check "host holds every value" dump_count "$WORK/rw.host" $((MEMORY_VALUES + 1))
check "host values equal the simulator's" dump_within "$WORK/rw.host" "$WORK/rw.sim"
for line in 1:1:11=777 1:2:20=4294967291 1:2:22=7 1:5:50=3.25 1:0:29=0 1:0:12=0 1:3:30=4660 1:4:40=4000000001; do
    check "write $line landed" grep -qxF "$line" "$WORK/rw.sim"
    check "write $line read back" grep -qxF "$line" "$WORK/rw.host"
done
check_in "$WORK/rw.out" '^writes: *8 sent, 8 acknowledged, 0 failed'
check "no failures without faults" [ "$(summary_value rw failures)" = 0 ]

# Cache-only writes change the driver's cache, not the PLC; once-reads report
# their values; the trace has its format.
expect once 0 '^writes: *0 sent, .*1 cache only' --quiet --cycles 3 -v 1:w16:13 -w 1:w16:11=5 --write-mode cache \
    -o 1:w16:10:2 -o 1:float:50 --trace "$WORK/once.trace" --dump "$WORK/once.host" \
    --sim-args "$SIM_MEMORY --dump-on-exit $WORK/once.sim"
check "cache write not sent" grep -qxF 1:1:11=65535 "$WORK/once.sim"
check "once-read values dumped under their own keys" grep -qxF 1:5:50=12.5 "$WORK/once.host"
check_in "$WORK/once.out" 'once-read 1:w16:10:2 done: 0010=100 \(0x0064\), 0011=-1 \(0xFFFF\)'
check_in "$WORK/once.out" 'once-read 1:float:50 done: 0050=12.5'
check_in "$WORK/once.out" '^once-reads: *2 done, 0 failed'
check_in "$WORK/once.trace" '^[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} TX (\[[0-9A-F]{2}\]){10}$'
check_in "$WORK/once.trace" '^[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} RX (<[0-9A-F]{2}>){13} status 1$'
check_in "$WORK/once.trace" ' TX \[08\]\[00\]\[10\]\[B0\]\[04\]\[00\]\[11\]\[00\]\[10\]\[ED\]$'
check_in "$WORK/once.trace" 'ONCE-READ ownerType 3 ownerId 2 done'

# Remote mode: a float write of four bytes, and a broadcast write that nobody
# answers and that is no loss of the link; a short run has its rates.
expect remote 0 '^writes: *2 sent, 2 acknowledged' --quiet --remote --multi-station --duration 0.3 -v 1:w16:10 \
    -w 0:w16:10=5 -w 1:float:50=2.5 --trace "$WORK/remote.trace"
check_in "$WORK/remote.trace" ' TX \[1A\]\[02\]\[01\]\[00\]\[01\]\[00\]\[05\](\[00\]){3}\[50\]\[00\]\[02\](\[00\]){10}\[20\]\[40\]\[D5\]$'
for pattern in '^link: *up, 0 losses' '^exchanges/s: *[1-9]' '^bytes: *[1-9][0-9]* out'; do
    check_in "$WORK/remote.out" "$pattern"
done

# A simulator started apart, its pty opened with --serial; several stations;
# variables from a file; a CSV log.
printf '1:1:10=11\n2:1:10=22\n2:2:20=70000\n2:3:30=33\n' >"$WORK/two.txt"
printf '# two stations\n2:w16b:30   # comment\n\n1:w16:10\n' >"$WORK/vars.txt"
start_sim serial --stations 1,2 --memory "$WORK/two.txt" --dump-on-exit "$WORK/serial.sim" || exit 1
expect serial 0 "^port: *$SIM_LINE 115200 8N1" --quiet --cycles 4 --serial "$SIM_LINE" --baud 115200 --multi-station \
    --vars "$WORK/vars.txt" -v 2:1:10 -v 2:d32:20 -w 1:w16:12=1 --dump "$WORK/serial.host" --csv "$WORK/serial.csv"
stop_sim "$SIM_PID"
check "multi-station values" [ "$(data_lines "$WORK/serial.host" | tr '\n' ' ')" = "1:1:10=11 2:1:10=22 2:2:20=70000 2:3:30=33 " ]
check "--serial write landed" grep -qxF 1:1:12=1 "$WORK/serial.sim"
check "CSV heading" grep -qx 'time,elapsed_s,2:w16:10,2:d32:20,2:w16b:30,1:w16:10' "$WORK/serial.csv"
check_in "$WORK/serial.csv" ',22,70000,33,11$' "CSV rows hold the values"

# The embedded demo set, table output, stopped by SIGINT (sent to the host
# itself: timeout would pass it on twice, and a second one ends at once).
timeout -k 5 30 "$HOST" --refresh 200 --duration 20 --sim-args "--demo --dump-on-exit $WORK/sigint.sim" \
    >"$WORK/sigint.out" 2>&1 &
timeout_pid=$!
# Interrupted once every row has been read (a loaded machine may take a while).
wait_for grep -qE '^1:bit:29 .* ok$' "$WORK/sigint.out"
pkill -INT -P "$timeout_pid"
wait "$timeout_pid"
echo $? >"$WORK/sigint.rc"
check_rc sigint 0
check_in "$WORK/sigint.out" '^stopped: *signal'
check_in "$WORK/sigint.out" '^1:float:50 +1 float +0050 ' "demo table has the float row"
check_in "$WORK/sigint.out" '^1:w16b:30 +1 w16b +0030 +4321 ' "demo table has the simulator's demo value"
check_in "$WORK/sigint.out" '^1:bit:29 +1 bit +29 +[01] +1 ok$' "demo table has a status-bit row"
check "simulator was ended by the host" [ -s "$WORK/sigint.sim" ]

finish
