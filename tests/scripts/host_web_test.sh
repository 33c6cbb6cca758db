#!/usr/bin/env bash
# The web panel against the TCP simulator: its API hammered by several clients
# at once while the loop polls (the tsan leg runs this too: a race makes the
# host exit 66), /metrics checked by promtool, and in a build without
# sanitizers the page in headless Chromium (tests/web/panel_test.js).
source "$(dirname "$0")/host_common.sh" "$1"
# Debian's cpp-httplib is not built for ThreadSanitizer, which cannot see the
# guard of its function-local statics and reports their first use from two
# server threads as a race. Accesses made inside such libraries are left out;
# every access of our own code is still checked.
export TSAN_OPTIONS="${TSAN_OPTIONS:-} ignore_noninstrumented_modules=1"

write_memory "$WORK/memory.txt"
printf '%s\n' 'speed = 1:w16:10 rw scale=0.1 unit=rpm' 'count = 1:d32:20 rw type=u32' 'level = 1:w16b:30' 'wave = 1:w16:11' \
    >"$WORK/web.tags"
start_sim sim --tcp 127.0.0.1:0 --memory "$WORK/memory.txt" --animate 1:1:11=sine --dump-on-exit "$WORK/sim.dump" || exit 1

# start_web NAME ARGS...: a host with the panel on a free port; sets URL and HOST_PID.
start_web() {
    "$HOST" -q --tags "$WORK/web.tags" --http 0 --duration 120 --turnaround 1 "${@:2}" >"$WORK/$1.out" 2>&1 &
    HOST_PID=$!
    url() { URL=$(sed -n 's/.*web panel on \(http[^ ]*\).*/\1/p' "$WORK/$1.out") && [ -n "$URL" ]; }
    wait_for url "$1" && return 0
    show "$1"
    return 1
}
start_web main --tcp "$SIM_LINE" --http-writes --http-trace || exit 1
MAIN_PID=$HOST_PID MAIN_URL=$URL
# The second panel serves HTTPS with a certificate made here.
tls_cert tls first
start_web readonly --http-cert "$WORK/tls.crt" --http-key "$WORK/tls.key" || exit 1
READONLY_PID=$HOST_PID READONLY_URL=$URL
sleep 2

code() { curl -s -o /dev/null -w '%{http_code}\n' --max-time 5 --cacert "$WORK/tls.crt" "$@"; }
post() { code -H 'Content-Type: application/json' -d "$2" "$1api/write"; }
# Repeats a request for four seconds, one status code a line.
hammer() {
    local end=$((SECONDS + 4))
    while [ "$SECONDS" -lt "$end" ]; do "$@"; done >>"$WORK/codes"
}
hammer code "${MAIN_URL}api/tags" & h1=$!
hammer code "${MAIN_URL}api/history?tag=wave" & h2=$!
hammer code "${MAIN_URL}metrics" & h3=$!
hammer code -N --max-time 1 "${MAIN_URL}api/events" & h4=$!
hammer post "$MAIN_URL" '{"tag": "count", "value": 7}' & h5=$!
wait $h1 $h2 $h3 $h4 $h5
check "hammered API: every answer 200 ($(sort | uniq -c <"$WORK/codes" | tr -s ' \n' ' '))" \
    [ "$(sort -u "$WORK/codes")" = 200 ]
check "hammered API: over 40 requests" [ "$(wc -l <"$WORK/codes")" -gt 40 ]
check "write acknowledged" [ "$(post "$MAIN_URL" '{"tag": "count", "value": 4000000000}')" = 200 ]
check "a value between raw steps is answered as written" [ "$(curl -s -H 'Content-Type: application/json' \
    -d '{"tag": "speed", "value": 12.34}' "${MAIN_URL}api/write")" = '{"result":"acknowledged","tag":"speed","value":12.3}' ]
check "a name given twice: 400" [ "$(post "$MAIN_URL" '{"tag": "count", "value": 1, "tag": "speed"}')" = 400 ]
check "write out of range: 422" [ "$(post "$MAIN_URL" '{"tag": "count", "value": -1e10}')" = 422 ]
check "write without --http-writes: 403" [ "$(post "$READONLY_URL" '{"tag": "count", "value": 1}')" = 403 ]
check "an unknown path: 404 in JSON" [ "$(curl -s "${MAIN_URL}api/none")" = '{"error":"nothing at GET /api/none"}' ]
check "trace after a word: 400" [ "$(code "${MAIN_URL}api/trace?after=-1")" = 400 ]
check "history before 1970: 400" [ "$(code "${MAIN_URL}api/history?tag=wave&from=-1")" = 400 ]
check "Range ignored: the answer whole" [ "$(curl -s -H 'Range: bytes=0-0,0-0' "${MAIN_URL}api/status" | head -c 1)$(code -H 'Range: bytes=0-1' "${MAIN_URL}api/status")" = "{200" ]
check "foreign Host header: 403" [ "$(code -H 'Host: example.com' "${MAIN_URL}api/tags")" = 403 ]
pad=()
for i in $(seq 20); do pad+=(-H "X-Pad-$i: $(printf '%04000d' 0)"); done
check "a request of over 64 KiB is cut off" [ "$(code "${pad[@]}" "${MAIN_URL}api/tags")" != 200 ]
# Slow clients (a header line a second, 12 of them from one address, and a
# TLS greeting a byte a second): each is closed once its request or handshake
# has not come in time, and meanwhile the API answers.
HOSTPORT=${MAIN_URL#http://}
HOSTPORT=${HOSTPORT%/}
TLSPORT=${READONLY_URL##*:}
python3 - "${HOSTPORT%:*}" "${HOSTPORT##*:}" "${TLSPORT%/}" >"$WORK/slow.out" 2>&1 <<'PY' &
import socket, ssl, sys, time
out = ssl.MemoryBIO()
try: ssl._create_unverified_context().wrap_bio(ssl.MemoryBIO(), out).do_handshake()
except ssl.SSLWantReadError: hello = out.read()
pieces = [[b"GET /api/status HTTP/1.1\r\n"] + [b"X-Slow: 1\r\n"] * 30 for _ in range(12)] + [[bytes([b]) for b in hello]]
conns = [socket.create_connection((sys.argv[1], int(sys.argv[2 if i < 12 else 3]))) for i in range(13)]
start, closed = time.time(), {}
[c.setblocking(False) for c in conns]
while len(closed) < len(conns) and time.time() - start < 20:
    for i, c in enumerate(conns):
        if i in closed:
            continue
        try:
            while c.recv(4096):
                pass
        except BlockingIOError:
            # Still open, nothing to read: the next piece.
            try:
                c.sendall(pieces[i].pop(0))
                continue
            except OSError:
                pass
        except OSError:
            pass
        closed[i] = time.time() - start
    time.sleep(1)
print("closed after", " ".join("%.0f" % t for t in sorted(closed.values())), "of", len(conns))
PY
slow=$!
sleep 3
check "the API answers while slow clients wait" [ "$(code --max-time 3 "${MAIN_URL}api/status")" = 200 ]
wait "$slow"
check "slow clients closed within 12 s ($(cat "$WORK/slow.out"))" \
    awk '{ n = 0; for (i = 3; i < NF - 1; ++i) { n++; if ($i > 12) exit 1 } exit n != 13 }' "$WORK/slow.out"
check "HTTPS with the certificate (${READONLY_URL})" [ "$(code "${READONLY_URL/http:/none:}api/status")" = 200 ]
check "no plain HTTP on the HTTPS port" [ "$(code "http${READONLY_URL#https}api/status")" = 000 ]
# SIGHUP reads the certificate again: the next connection gets the new one.
tls_cert tls second
kill -HUP "$READONLY_PID"
served() { openssl s_client -connect "${1#https://}" -servername 127.0.0.1 </dev/null 2>/dev/null | openssl x509 -noout -subject; }
check "SIGHUP: the new certificate served" wait_for eval 'served "${READONLY_URL%/}" | grep -q second'
curl -s "${MAIN_URL}metrics" >"$WORK/metrics.txt"
check "promtool accepts /metrics" promtool check metrics <"$WORK/metrics.txt"
check "/metrics has the tag values" grep -q '^marovin_tag_value{tag="level",.*} 4321$' "$WORK/metrics.txt"

if grep -q '^MAROVIN_SANITIZE:STRING=$' "$BUILD_DIR/CMakeCache.txt"; then
    # playwright-core, pinned by tests/web/package-lock.json; it never fetches a browser.
    npm_deps web || fail "npm ci in $BUILD_DIR/web-test"
    timeout -k 5 120 node "$SOURCE_DIR/tests/web/panel_test.js" "$MAIN_URL" "$READONLY_URL" "$SIM_PID" \
        "$BUILD_DIR/web-panel.png" "$WORK/chromium" | tee "$WORK/browser.out"
    check "browser test (screenshot: $BUILD_DIR/web-panel.png)" [ "${PIPESTATUS[0]}" -eq 0 ]
    last=4294967295  # the browser's write
else
    echo "skip: the browser test runs only in a build without sanitizers"
fi

stop_sim "$SIM_PID"
# A hangup stops a host whose SIGHUP reads no certificate as cleanly as SIGTERM.
kill -HUP "$MAIN_PID" && kill -TERM "$READONLY_PID"
wait "$MAIN_PID"
main_rc=$?
wait "$READONLY_PID"
ro_rc=$?
check "hosts exit 0 (with writes $main_rc, without $ro_rc; 66 is a race report)" [ "$main_rc$ro_rc" = 00 ] ||
    tail -n 40 "$WORK/main.out" "$WORK/readonly.out"
check "the last write landed in the simulator" grep -qx "1:2:20=${last:-4000000000}" "$WORK/sim.dump"
finish
