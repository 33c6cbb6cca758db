#!/usr/bin/env bash
# marovin-host against marovin-sim over TCP on loopback: values and writes
# match the simulator's memory, a link that goes away is reopened, and one
# that stays away ends the run with exit code 1.
source "$(dirname "$0")/host_common.sh" "$1"

write_memory "$WORK/memory.txt"

# Values and writes over TCP.
start_tcp_sim tcp --memory "$WORK/memory.txt" --dump-on-exit "$WORK/tcp.sim" || exit 1
run_host tcp --quiet --cycles 5 --tcp "127.0.0.1:$SIM_PORT" "${MEMORY_VARS[@]}" -w 1:w16b:30=-2 -w 1:float:50=0.5 \
    --dump "$WORK/tcp.host"
stop_sim "$SIM_PID"
check "tcp run exits 0" [ "$(rc_of tcp)" -eq 0 ] || show tcp
check "tcp port shown" grep -q "^port: *tcp 127.0.0.1:$SIM_PORT" "$WORK/tcp.out"
check "host holds every value" dump_count "$WORK/tcp.host" "$MEMORY_VALUES"
check "host values equal the simulator's" dump_within "$WORK/tcp.host" "$WORK/tcp.sim"
check "16-bit write landed" grep -qxF 1:3:30=65534 "$WORK/tcp.sim"
check "float write landed" grep -qxF 1:5:50=0.5 "$WORK/tcp.sim"

# The simulator goes away and comes back on the same port: the host reopens.
start_tcp_sim back --demo || exit 1
timeout -k 5 30 "$HOST" --duration 6 --tcp "127.0.0.1:$SIM_PORT" -v 1:w16:11 --trace "$WORK/back.trace" \
    >"$WORK/back.out" 2>&1 &
host_pid=$!
sleep 1.5
stop_sim "$SIM_PID"
sleep 1
start_tcp_sim back2 --demo || exit 1
wait "$host_pid"
echo $? >"$WORK/back.rc"
stop_sim "$SIM_PID"
check "reopened link run exits 0" [ "$(rc_of back)" -eq 0 ] || show back
check "link loss traced" grep -q ' LINK down: ' "$WORK/back.trace"
check "reopen attempts traced" grep -q ' LINK reconnecting (next try in 200 ms)' "$WORK/back.trace"
check "link up again traced" grep -q ' LINK up$' "$WORK/back.trace"
check "link state in the table" grep -q '| link reconnecting |\|| link down |' "$WORK/back.out"
check "summary counts the loss" grep -q '^link: *up, 1 losses' "$WORK/back.out"
check "exchanges after the reopen" [ "$(grep -c ' RX ' "$WORK/back.trace")" -gt \
    "$(sed -n '1,/LINK up$/p' "$WORK/back.trace" | grep -c ' RX ')" ]

# A link that stays away past --link-timeout is a runtime failure.
start_tcp_sim gone --demo || exit 1
timeout -k 5 30 "$HOST" --quiet --duration 20 --link-timeout 1 --tcp "127.0.0.1:$SIM_PORT" -v 1:w16:11 \
    >"$WORK/gone.out" 2>&1 &
host_pid=$!
sleep 1
stop_sim "$SIM_PID"
wait "$host_pid"
echo $? >"$WORK/gone.rc"
check "lost link exits 1" [ "$(rc_of gone)" -eq 1 ] || show gone
check "lost link message" grep -q 'marovin-host: link lost and not recovered' "$WORK/gone.out"

# Nobody listening: a clear message and exit code 1.
run_host refused --tcp "127.0.0.1:$SIM_PORT" -v 1:w16:11
check "refused connection exits 1" [ "$(rc_of refused)" -eq 1 ] || show refused
check "refused connection message" grep -q "^marovin-host: tcp port: .*127.0.0.1:$SIM_PORT" "$WORK/refused.out"

finish
