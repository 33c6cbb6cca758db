#!/usr/bin/env bash
# marovin-host against the bundled simulator over a pseudo-terminal pair:
# values read equal the simulator's memory, writes land in it, once-reads
# report, the trace has its format, and a stop signal ends the run cleanly.
source "$(dirname "$0")/host_common.sh" "$1"

write_memory "$WORK/memory.txt"

# Reads: the host's values equal the simulator's memory.
run_host read --quiet --cycles 5 "${MEMORY_VARS[@]}" --dump "$WORK/read.host" \
    --sim-args "--memory $WORK/memory.txt --dump-on-exit $WORK/read.sim"
check "read run exits 0" [ "$(rc_of read)" -eq 0 ] || show read
check "read run reports its summary" grep -q '^exchanges/s:' "$WORK/read.out"
check "host holds every value" dump_count "$WORK/read.host" "$MEMORY_VALUES"
check "host values equal the simulator's" dump_within "$WORK/read.host" "$WORK/read.sim"
check "no failures without faults" [ "$(summary_value read failures)" = 0 ]

# Writes of every area land in the simulator's memory and read back.
run_host write --quiet --cycles 5 "${MEMORY_VARS[@]}" -v 1:d32:22 \
    -w 1:w16:11=777 -w 1:d32:20=-5,7 -w 1:float:50=3.25 -w 1:bit:29=0 -w 1:bit:12=0 \
    -w 1:w16b:30=0x1234 -w 1:d32b:40=4000000001 --dump "$WORK/write.host" \
    --sim-args "--memory $WORK/memory.txt --dump-on-exit $WORK/write.sim"
check "write run exits 0" [ "$(rc_of write)" -eq 0 ] || show write
for line in 1:1:11=777 1:2:20=4294967291 1:2:22=7 1:5:50=3.25 1:0:29=0 1:0:12=0 1:3:30=4660 1:4:40=4000000001; do
    check "write $line landed" grep -qxF "$line" "$WORK/write.sim"
    check "write $line read back" grep -qxF "$line" "$WORK/write.host"
done
check "eight writes acknowledged" grep -q '^writes: *8 sent, 8 acknowledged, 0 failed' "$WORK/write.out"

# Cache-only writes change the driver's cache, not the PLC.
run_host cache --quiet --cycles 2 -v 1:w16:13 -w 1:w16:11=5 --write-mode cache \
    --sim-args "--memory $WORK/memory.txt --dump-on-exit $WORK/cache.sim"
check "cache write run exits 0" [ "$(rc_of cache)" -eq 0 ] || show cache
check "cache write not sent" grep -qxF 1:1:11=65535 "$WORK/cache.sim"
check "cache write counted" grep -q '^writes: *0 sent, .*1 cache only' "$WORK/cache.out"

# Once-reads report their outcome and values; the trace has its format.
run_host once --quiet --cycles 3 -v 1:w16:13 -o 1:w16:10:2 -o 1:float:50 --trace "$WORK/once.trace" \
    --sim-args "--memory $WORK/memory.txt"
check "once-read run exits 0" [ "$(rc_of once)" -eq 0 ] || show once
check "once-read of two words reported" grep -q 'once-read 1:w16:10:2 done: 0010=100 (0x0064), 0011=-1 (0xFFFF)' "$WORK/once.out"
check "once-read of a float reported" grep -q 'once-read 1:float:50 done: 0050=12.5' "$WORK/once.out"
check "two once-reads done" grep -q '^once-reads: *2 done, 0 failed' "$WORK/once.out"
check "trace TX lines" grep -qE '^[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} TX (\[[0-9A-F]{2}\]){10}$' "$WORK/once.trace"
check "trace RX lines with status" grep -qE '^[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} RX (<[0-9A-F]{2}>){13} status 1$' "$WORK/once.trace"
check "trace of the first read request" grep -qE ' TX \[08\]\[00\]\[10\]\[B0\]\[04\]\[00\]\[11\]\[00\]\[10\]\[ED\]$' "$WORK/once.trace"
check "trace of the once-read callbacks" grep -q 'ONCE-READ ownerType 3 ownerId 2 done' "$WORK/once.trace"

# A simulator started apart, its pty opened with --serial.
"$SIM" --memory "$WORK/memory.txt" --dump-on-exit "$WORK/serial.sim" >"$WORK/serial.sim.out" 2>/dev/null &
sim_pid=$!
SIM_PIDS+=("$sim_pid")
for i in $(seq 1 100); do
    grep -q '^marovin-sim: pty ' "$WORK/serial.sim.out" 2>/dev/null && break
    sleep 0.1
done
PTY=$(sed -n 's/^marovin-sim: pty //p' "$WORK/serial.sim.out")
run_host serial --quiet --cycles 5 --serial "$PTY" --baud 115200 "${MEMORY_VARS[@]}" -w 1:w16:12=1 \
    --dump "$WORK/serial.host"
stop_sim "$sim_pid"
check "--serial on a pty exits 0" [ "$(rc_of serial)" -eq 0 ] || show serial
check "--serial port shown" grep -q "^port: *$PTY 115200 8N1" "$WORK/serial.out"
check "--serial values equal the simulator's" dump_within "$WORK/serial.host" "$WORK/serial.sim"
check "--serial write landed" grep -qxF 1:1:12=1 "$WORK/serial.sim"

# Several stations.
cat >"$WORK/two.txt" <<'MEM'
1:1:10=11
2:1:10=22
2:2:20=70000
MEM
run_host multi --quiet --cycles 4 --multi-station -v 1:w16:10 -v 2:w16:10 -v 2:d32:20 --dump "$WORK/multi.host" \
    --sim-args "--stations 1,2 --memory $WORK/two.txt"
check "multi-station run exits 0" [ "$(rc_of multi)" -eq 0 ] || show multi
check "multi-station values" [ "$(data_lines "$WORK/multi.host" | tr '\n' ' ')" = "1:1:10=11 2:1:10=22 2:2:20=70000 " ]

# Variables from a file, the demo set's values and a CSV log.
printf '# demo words\n1:w16:11   # comment\n\n1:w16b:30\n' >"$WORK/vars.txt"
run_host file --quiet --cycles 3 --vars "$WORK/vars.txt" --csv "$WORK/file.csv"
check "variable file run exits 0" [ "$(rc_of file)" -eq 0 ] || show file
check "CSV heading" grep -qx 'time,elapsed_s,1:w16:11,1:w16b:30' "$WORK/file.csv"

# Pid of a process's child, from /proc (procps may be missing).
child_of() {
    local stat
    for stat in /proc/[0-9]*/stat; do
        read -r pid _ _ ppid _ <"$stat" 2>/dev/null || continue
        [ "$ppid" = "$1" ] && { echo "$pid"; return; }
    done
}

# The embedded demo set, table output, stopped by SIGINT.
timeout -k 5 30 "$HOST" --refresh 200 --duration 20 --sim-args "--demo --dump-on-exit $WORK/sigint.sim" \
    >"$WORK/sigint.out" 2>&1 &
timeout_pid=$!
sleep 2
# Signal the host itself: timeout would pass the signal on twice (to the
# child and to its process group), and a second Ctrl-C ends the host at once.
host_pid=$(child_of "$timeout_pid")
kill -INT "${host_pid:-$timeout_pid}"
wait "$timeout_pid"
echo $? >"$WORK/sigint.rc"
check "SIGINT ends the run with exit 0" [ "$(rc_of sigint)" -eq 0 ] || show sigint
check "SIGINT run prints its summary" grep -q '^stopped: *signal' "$WORK/sigint.out"
check "demo table has the float row" grep -qE '^1:float:50 +1 float +0050 ' "$WORK/sigint.out"
check "demo table has a status-bit row" grep -qE '^1:bit:29 +1 bit +29 +[01] +1 ok$' "$WORK/sigint.out"
check "simulator was ended by the host" [ -s "$WORK/sigint.sim" ]

finish
