#!/usr/bin/env bash
# A line that talks without pause must not stall the host: every read and
# every drain of late replies is bounded, --duration and signals are honoured
# within a reply timeout, and the bytes that were no reply are counted.
source "$(dirname "$0")/host_common.sh" "$1"

# peer.py MODE PORT [UPSTREAM]: flood (bytes without pause), trickle (a byte
# every 5 ms), junk (forwards to the simulator and adds junk after each reply).
cat >"$WORK/peer.py" <<'PY'
import socket, sys, threading, time
mode, port = sys.argv[1], int(sys.argv[2])
srv = socket.socket(); srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
srv.bind(("127.0.0.1", port)); srv.listen(1)
print("ready", flush=True)
c, _ = srv.accept()
try:
    if mode == "junk":
        up = socket.create_connection(("127.0.0.1", int(sys.argv[3])))
        threading.Thread(target=lambda: [up.sendall(d) for d in iter(lambda: c.recv(512), b"")], daemon=True).start()
        for d in iter(lambda: up.recv(512), b""):
            c.sendall(d + b"\xaa\x55junk")
    while True:
        c.sendall(b"\x0b\x00\x10" * 300 if mode == "flood" else b"\x4f")
        time.sleep(0 if mode == "flood" else 0.005)
except OSError:
    pass
PY

# start_peer NAME MODE [UPSTREAM]: sets PEER_PORT.
start_peer() {
    PEER_PORT=$(free_port)
    python3 "$WORK/peer.py" "$2" "$PEER_PORT" ${3:-} >"$WORK/$1.peer" 2>&1 &
    SIM_PIDS+=($!)
    wait_for grep -q ready "$WORK/$1.peer"
}

for mode in flood trickle; do
    start_peer "$mode" "$mode"
    run_host "$mode" --tcp "127.0.0.1:$PEER_PORT" -v 1:w16:10 --timeout 100 --duration 2 --retries 1
    elapsed=$(sed -n 's/^elapsed: *\([0-9.]*\) s/\1/p' "$WORK/$mode.out")
    check "$mode: --duration kept (${elapsed} s)" awk -v e="${elapsed:-99}" 'BEGIN { exit !(e < 2.2) }' || show "$mode"
    check "$mode: exchanges go on" [ "$(summary_value "$mode" exchanges)" -ge 5 ] || show "$mode"
    check "$mode: dropped bytes counted" grep -qE '^dropped: +[1-9][0-9]* bytes' "$WORK/$mode.out"
    check "$mode: said to be noisy" grep -q 'line noisy' "$WORK/$mode.out"
done

# A signal during a flood ends the run within about one reply timeout.
start_peer sig flood
timeout -k 5 30 "$HOST" --tcp "127.0.0.1:$PEER_PORT" -v 1:w16:10 --timeout 300 -q >"$WORK/sig.out" 2>&1 &
pid=$!
sleep 1
start=$(date +%s%N)
kill -INT "$pid"
wait "$pid"
ms=$(( ($(date +%s%N) - start) / 1000000 ))
check "signal honoured within a timeout (${ms} ms)" [ "$ms" -lt 700 ]

# Good replies with junk behind them: values right, junk counted.
start_sim junk --tcp 127.0.0.1:0 --set 1:1:10=4242
start_peer junk junk "$SIM_LINE"
expect junk 0 '^dropped: +[1-9]' --tcp "127.0.0.1:$PEER_PORT" -v 1:w16:10 --timeout 200 --cycles 20 \
    --dump "$WORK/junk.dump"
check "junk: value right" grep -qx '1:1:10=4242' "$WORK/junk.dump"
finish
