#!/usr/bin/env bash
# marovin-host against marovin-sim over TCP on loopback: values and writes
# match the simulator's memory, a link that goes away is reopened, and one
# that stays away ends the run with exit code 1.
source "$(dirname "$0")/host_common.sh" "$1"

write_memory "$WORK/memory.txt"

# Values and writes over TCP.
start_sim tcp --tcp 127.0.0.1:0 --memory "$WORK/memory.txt" --dump-on-exit "$WORK/tcp.sim" || exit 1
PORT=$SIM_LINE
expect tcp 0 "^port: *tcp 127.0.0.1:$PORT" --quiet --cycles 5 --tcp "127.0.0.1:$PORT" "${MEMORY_VARS[@]}" \
    -w 1:w16b:30=-2 -w 1:float:50=0.5 --dump "$WORK/tcp.host"
# The simulator's own: a port taken, a bad host or a bad config line is an error; a request
# that comes in two pieces is answered.
timeout 5 "$SIM" --tcp "127.0.0.1:$PORT" >"$WORK/busy.out" 2>&1
check "port taken" grep -q "^marovin-sim: cannot listen on 127.0.0.1:$PORT" "$WORK/busy.out"
check "empty brackets refused" grep -q '^marovin-sim: cannot resolve \[\]' <(timeout 5 "$SIM" --tcp '[]:0' 2>&1)
printf 'tick = 10\ntick = abc\n' >"$WORK/sim.conf"
check "a config file's line named" grep -q "^marovin-sim: $WORK/sim.conf:2: 'tick' given again" <(timeout 5 "$SIM" --config "$WORK/sim.conf" 2>&1)
timeout 1 "$SIM" --tcp '[::1]:0' >"$WORK/v6.out" 2>&1
check "bracketed IPv6" grep -qE '^marovin-sim: (tcp ::1:[0-9]+|cannot listen .*(not supported|assign requested))' "$WORK/v6.out"
exec 3<>"/dev/tcp/127.0.0.1/$PORT"
{ printf '\x08\x00\x10\xB0'; sleep 0.1; printf '\x04\x00\x11\x00\x10\xED'; } >&3
check "request in two pieces" [ "$(timeout 2 head -c 13 <&3 | od -An -tx1 | tr -d ' \n')" = 0b0010b004001100100200644b ]
exec 3>&-
stop_sim "$SIM_PID" HUP  # a hangup ends it as cleanly: the dump below
check "host holds every value" dump_count "$WORK/tcp.host" "$MEMORY_VALUES"
check "host values equal the simulator's" dump_within "$WORK/tcp.host" "$WORK/tcp.sim"
check "16-bit write landed" grep -qxF 1:3:30=65534 "$WORK/tcp.sim"
check "float write landed" grep -qxF 1:5:50=0.5 "$WORK/tcp.sim"

# The simulator goes away and comes back on the same port: the host reopens.
# Then it goes away for good: past --link-timeout that is exit code 1.
start_sim back --tcp "127.0.0.1:$PORT" --demo || exit 1
run_host back --duration 20 --link-timeout 2 --tcp "127.0.0.1:$PORT" -v 1:w16:11 --trace "$WORK/back.trace" & host_pid=$!
sleep 1.5
stop_sim "$SIM_PID"
sleep 0.3
start_sim back2 --tcp "127.0.0.1:$PORT" --demo || exit 1
sleep 1.5
stop_sim "$SIM_PID"
wait "$host_pid"
check_rc back 1
check_in "$WORK/back.trace" ' LINK down: '
check_in "$WORK/back.trace" ' LINK reconnecting \(next try in 200 ms\)'
check_in "$WORK/back.trace" ' LINK up$'
check_in "$WORK/back.out" '\| link (reconnecting|down) \|' "link state in the table"
check_in "$WORK/back.out" 'marovin-host: link lost and not recovered'
check "exchanges after the reopen" [ "$(sed -n '/LINK up$/,$p' "$WORK/back.trace" | grep -c ' RX ')" -gt 0 ]

# Nobody listening: a clear message and exit code 1.
expect refused 1 "^marovin-host: tcp port: .*127.0.0.1:$PORT" --tcp "127.0.0.1:$PORT" -v 1:w16:11

finish
