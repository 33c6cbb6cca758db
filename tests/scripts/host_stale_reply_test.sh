#!/usr/bin/env bash
# A device that stalls, answers late or answers twice never has one
# register's value stored as another's: over a pty, TCP and RFC 2217 through
# ser2net, stalls of several lengths (kill -STOP / -CONT of the simulator),
# then late and duplicated replies. Every good read in the trace carries the
# value of the register its request named, and the values are read again.
source "$(dirname "$0")/host_common.sh" "$1"

# Each register holds a value that names it: 0x1AA at area 1's address AA, 0x3AA at area 3's.
VARS=()
for a in 0 1 2 3 4 5; do printf '1:1:1%s=%d\n1:3:3%s=%d\n' $a $((0x110 + a)) $a $((0x330 + a)); VARS+=(-v "1:w16:1$a" -v "1:w16b:3$a"); done \
    >"$WORK/memory.txt"
# watched NAME SECONDS ARGS...: the host reads every register for SECONDS, with a trace and a dump.
watched() {
    run_host "$1" --timeout 100 --inter-byte 20 --retries 2 --quiet --duration "$2" "${VARS[@]}" \
        --trace "$WORK/$1.trace" --dump "$WORK/$1.host" "${@:3}"
}

# Good 13-byte replies whose value is not their request's register's; prints them, fails if any or none good.
values_named() {
    awk '/ TX \[08\]\[00\]\[10\]\[B0\]\[0[48]\]\[00\]\[11\]\[00\]/ {
             gsub(/[][]/, " ", $3); split($3, t, " "); want = (t[5] == "04" ? "01 " : "03 ") t[9]; next }
         / TX / { want = ""; next }
         / RX </ && $NF == "1" && $(NF - 1) == "status" && want != "" {
             gsub(/[<>]/, " ", $3); n = split($3, r, " ");
             if (n != 13 || r[11] " " r[12] != want) { print "  wrong: " $0; bad++ } else good++ }
         END { print "  " good + 0 " good reads, " bad + 0 " wrong"; exit !(good > 0 && bad == 0) }' "$1"
}

# Checks a finished run NAME against the simulator's memory.
check_run() {
    check "$1: exit 0 or 3" [ "$(rc_of "$1")" -le 3 ] || show "$1"
    check "$1: every good read carries its register's value" values_named "$WORK/$1.trace"
    check "$1: values held at the end are the device's" dump_within "$WORK/$1.host" "$WORK/memory.txt"
}

# stalled NAME PORT_ARGS...: a 7 s run on that port while the last simulator started stalls for
# 0.05, 0.3, 1.2 and 2.5 s; checked.
stalled() {
    local stall
    watched "$1" 7 "${@:2}" &
    local host=$!
    sleep 0.5
    for stall in 0.05 0.3 1.2 2.5; do
        kill -STOP "$SIM_PID"; sleep "$stall"; kill -CONT "$SIM_PID"; sleep 0.7
    done
    wait "$host"
    check_run "$1"
}

# bare: a device whose replies do not repeat their request's header: only the host keeps the line in step.
for name in tcp bare; do
    start_sim "$name" --tcp 0 --memory "$WORK/memory.txt" $([ "$name" = bare ] && echo --no-echo) || exit 1
    stalled "$name" --tcp "127.0.0.1:$SIM_LINE"
done
# Where the late answers land depends on when the stall ends: behind a reply, while the host
# waits for quiet, or in the flush before the next request; each way they are no answer.
check "tcp: a stall's late answers were no answers" \
    grep -qE 'out of step: [0-9]+ bytes behind|late reply dropped: [0-9]+|dropped: [0-9]+ bytes that were no reply' "$WORK/tcp.trace"

start_sim pty --pty --memory "$WORK/memory.txt" || exit 1
stalled pty --serial "$SIM_LINE"

start_sim rfc --pty --memory "$WORK/memory.txt" || exit 1
RFC=$(free_port)
start_ser2net "telnet(rfc2217),tcp" "$RFC" "$SIM_LINE"
stalled rfc --rfc2217 "127.0.0.1:$RFC"

# Late replies (a stall per reply) and replies sent twice, right behind or after the host gave up waiting.
n=0
for faults in "--delay 10:250" "--duplicate 10:0" "--duplicate 10:150 --delay 3:400"; do
    name=faults$((++n))
    watched "$name" 3 --sim-args "--memory $WORK/memory.txt $faults --seed $n"
    check_run "$name"
done
check "duplicates came when another reply was awaited" grep -qE 'out of step|late reply dropped' "$WORK/faults3.trace"

finish
