#!/usr/bin/env bash
# What marovin-host does with the output of the simulator it starts: a
# simulator that writes a lot does not stall the exchange loop (the host
# empties its pipes from the loop, with no thread of its own), start-up
# output before the pty line is taken too, and the end of its standard error
# is shown when it fails mid-run.
source "$(dirname "$0")/host_common.sh" "$1"

# Exchange counts of the table headers, one per refresh, in order.
header_counts() { sed -n 's/.* | \([0-9][0-9]*\) exchanges, .*/\1/p' "$WORK/$1.out"; }

# The simulator traces every frame to its standard error, about 130 bytes per
# exchange: far more than a pipe holds within the run. Without --sim-log all
# of it goes through the host.
run_host chatty --duration 6 --refresh 1000 --sim-args "--demo --trace"
check "tracing simulator run exits 0" [ "$(rc_of chatty)" -eq 0 ] || show chatty
mapfile -t counts < <(header_counts chatty)
check "a table header per second" [ "${#counts[@]}" -ge 6 ] || show chatty
if [ "${#counts[@]}" -ge 6 ]; then
    last=${counts[${#counts[@]}-1]}
    earlier=${counts[${#counts[@]}-4]}
    # Stalled, the host would wait a whole reply timeout (1 s) per exchange.
    check "exchanges go on at a normal rate to the end ($earlier -> $last in 3 s)" \
        [ $((last - earlier)) -ge 600 ]
fi
check "no failures with a tracing simulator" [ "$(summary_value chatty failures)" = 0 ] || show chatty

# The host runs on one thread (the pipes are emptied by the loop itself).
"$HOST" --quiet --duration 3 --sim-args "--demo --trace" >"$WORK/threads.out" 2>&1 &
host_pid=$!
sleep 1.5
tasks=$(ls "/proc/$host_pid/task" 2>/dev/null | wc -l)
wait "$host_pid"
check "the host has one thread ($tasks)" [ "$tasks" -eq 1 ]

# With --sim-log the trace and the simulator's closing summary land in the file.
run_host logged --quiet --duration 1 --sim-args "--demo --trace" --sim-log "$WORK/sim.log"
check "logged run exits 0" [ "$(rc_of logged)" -eq 0 ] || show logged
check "simulator log has the frames" grep -qE ' rx (\[[0-9A-F]{2}\]){10}$' "$WORK/sim.log"
check "simulator log has its summary" grep -q 'garbage bytes' "$WORK/sim.log"

# A simulator that writes 3 MB to standard error before its pty line (more
# than a pipe holds, even an enlarged one) still starts.
cat >"$WORK/noisy-sim" <<EOF
#!/usr/bin/env bash
head -c 3000000 /dev/zero | tr '\\0' 'x' >&2
echo >&2
echo "noisy start-up done" >&2
exec "$SIM" "\$@"
EOF
chmod +x "$WORK/noisy-sim"
run_host noisy --quiet --cycles 3 --sim "$WORK/noisy-sim" -v 1:w16:10
check "simulator with noisy start-up runs" [ "$(rc_of noisy)" -eq 0 ] || show noisy

# A simulator that ends mid-run: the host stops with exit 1 and shows the
# end of its standard error.
cat >"$WORK/dying-sim" <<EOF
#!/usr/bin/env bash
"$SIM" "\$@" &
sim=\$!
sleep 1
kill -KILL \$sim
wait \$sim
echo "dying-sim: the device went away" >&2
exit 4
EOF
chmod +x "$WORK/dying-sim"
run_host dying --quiet --duration 20 --link-timeout 15 --sim "$WORK/dying-sim" -v 1:w16:10
check "simulator ending mid-run exits 1" [ "$(rc_of dying)" -eq 1 ] || show dying
check "its standard error is shown" \
    grep -q '^marovin-host: simulator exited (.*): .*dying-sim: the device went away' "$WORK/dying.out" || show dying

finish
