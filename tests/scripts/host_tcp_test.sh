#!/usr/bin/env bash
# marovin-host against marovin-sim over TCP on loopback: values and writes
# match the simulator's memory, a link that goes away is reopened, and one
# that stays away ends the run with exit code 1.
source "$(dirname "$0")/host_common.sh" "$1"

write_memory "$WORK/memory.txt"

# Values and writes over TCP.
start_sim tcp --tcp 127.0.0.1:0 --memory "$WORK/memory.txt" --dump-on-exit "$WORK/tcp.sim" || exit 1
PORT=$SIM_LINE
run_host tcp --quiet --cycles 5 --tcp "127.0.0.1:$PORT" "${MEMORY_VARS[@]}" -w 1:w16b:30=-2 -w 1:float:50=0.5 \
    --dump "$WORK/tcp.host"
stop_sim "$SIM_PID"
check_rc tcp 0
check_in "$WORK/tcp.out" "^port: *tcp 127.0.0.1:$PORT"
check "host holds every value" dump_count "$WORK/tcp.host" "$MEMORY_VALUES"
check "host values equal the simulator's" dump_within "$WORK/tcp.host" "$WORK/tcp.sim"
check "16-bit write landed" grep -qxF 1:3:30=65534 "$WORK/tcp.sim"
check "float write landed" grep -qxF 1:5:50=0.5 "$WORK/tcp.sim"

# The simulator goes away and comes back on the same port: the host reopens.
# Then it goes away for good: past --link-timeout that is exit code 1.
start_sim back --tcp "127.0.0.1:$PORT" --demo || exit 1
timeout -k 5 30 "$HOST" --duration 20 --link-timeout 2 --tcp "127.0.0.1:$PORT" -v 1:w16:11 --trace "$WORK/back.trace" \
    >"$WORK/back.out" 2>&1 &
host_pid=$!
sleep 1.5
stop_sim "$SIM_PID"
sleep 0.3
start_sim back2 --tcp "127.0.0.1:$PORT" --demo || exit 1
sleep 1.5
stop_sim "$SIM_PID"
wait "$host_pid"
echo $? >"$WORK/back.rc"
check_rc back 1
check_in "$WORK/back.trace" ' LINK down: '
check_in "$WORK/back.trace" ' LINK reconnecting \(next try in 200 ms\)'
check_in "$WORK/back.trace" ' LINK up$'
check_in "$WORK/back.out" '\| link (reconnecting|down) \|' "link state in the table"
check_in "$WORK/back.out" 'marovin-host: link lost and not recovered'
check "exchanges after the reopen" [ "$(sed -n '/LINK up$/,$p' "$WORK/back.trace" | grep -c ' RX ')" -gt 0 ]

# Nobody listening: a clear message and exit code 1.
run_host refused --tcp "127.0.0.1:$PORT" -v 1:w16:11
check_rc refused 1
check_in "$WORK/refused.out" "^marovin-host: tcp port: .*127.0.0.1:$PORT"

finish
