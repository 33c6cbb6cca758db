#!/usr/bin/env bash
# marovin-host through ser2net, a real serial-device server, in front of
# marovin-sim's pty: raw TCP and telnet with COM port control (RFC 2217).
# Values, writes and frames holding 0xFF pass intact both ways, the line
# settings reach the device, and a server that never answers or breaks the
# telnet protocol ends the run with a clear error instead of a hang.
source "$(dirname "$0")/host_common.sh" "$1"

write_memory "$WORK/memory.txt"
start_sim raw --memory "$WORK/memory.txt" --dump-on-exit "$WORK/raw.sim" || exit 1
RAW_PTY=$SIM_LINE
start_sim rfc --memory "$WORK/memory.txt" --dump-on-exit "$WORK/rfc.sim" || exit 1
RFC_PTY=$SIM_LINE
RAW=$(free_port)
RFC=$(free_port)
start_ser2net tcp "$RAW" "$RAW_PTY" "telnet(rfc2217),tcp" "$RFC" "$RFC_PTY"

# 0xFFFF is in the memory at 1:1:11; the writes put 0xFF bytes into request frames,
# and CR NUL, which telnet without binary transmission would turn into CR.
WRITES=(-w 1:w16:12=65535 -w 1:d32:20=0xFFFFFFFF -w 1:w16:13=0x0D00)
run_host raw --quiet --cycles 5 --tcp "127.0.0.1:$RAW" "${MEMORY_VARS[@]}" "${WRITES[@]}" --dump "$WORK/raw.host"
# The server and its line from a config file.
printf 'rfc2217 = "127.0.0.1:%s"\nbaud = 19200\nstop-bits = 2\n' "$RFC" >"$WORK/rfc.conf"
run_host rfc --quiet --duration 3 --config "$WORK/rfc.conf" "${MEMORY_VARS[@]}" "${WRITES[@]}" --dump "$WORK/rfc.host" &
for i in $(seq 1 25); do stty -F "$RFC_PTY" -a >"$WORK/stty.txt" 2>&1; grep -q 'speed 19200' "$WORK/stty.txt" && break; sleep 0.1; done
wait $!
check "rfc2217: the server set the device's line" grep -qE 'speed 19200 baud.* cstopb' <(tr '\n' ' ' <"$WORK/stty.txt")
check "rfc2217: port shown" grep -q "^port: *rfc2217 127.0.0.1:$RFC 19200 8N2" "$WORK/rfc.out"

# Without telnet behind the port, the settings are never confirmed.
expect mute 1 'rfc2217 port: no COM port control \(RFC 2217\) answer within 3 s' --rfc2217 "127.0.0.1:$RAW" -v 1:w16:10
# A server whose subnegotiation never ends.
python3 -c 'import socket, sys
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(1); print(s.getsockname()[1], flush=True)
c = s.accept()[0]; c.sendall(b"\xff\xfa\x2c" + b"\x01" * 100000); c.recv(1)' >"$WORK/bad.port" &
SIM_PIDS+=($!)
wait_for test -s "$WORK/bad.port"
expect endless 1 'rfc2217 port: the server broke the telnet protocol' --rfc2217 "127.0.0.1:$(cat "$WORK/bad.port")" \
    -v 1:w16:10

for pid in "${SIM_PIDS[@]:0:2}"; do stop_sim "$pid"; done
for mode in raw rfc; do
    check_rc "$mode" 0
    check "$mode: host holds every value" dump_count "$WORK/$mode.host" "$MEMORY_VALUES"
    check "$mode: host values equal the simulator's" dump_within "$WORK/$mode.host" "$WORK/$mode.sim"
    check "$mode: 0xFFFF read intact" grep -qxF 1:1:11=65535 "$WORK/$mode.host"
    check "$mode: 16-bit 0xFFFF write landed" grep -qxF 1:1:12=65535 "$WORK/$mode.sim"
    check "$mode: 32-bit 0xFFFFFFFF write landed" grep -qxF 1:2:20=4294967295 "$WORK/$mode.sim"
    check "$mode: CR NUL write landed" grep -qxF 1:1:13=3328 "$WORK/$mode.sim"
done

finish
