#!/usr/bin/env bash
# What marovin-host does with the output of the simulator it starts: a
# simulator that writes a lot does not stall the exchange loop (the host
# empties its pipes from the loop, with no thread of its own), start-up
# output before the pty line is taken too, and the end of its standard error
# is shown when it fails mid-run.
source "$(dirname "$0")/host_common.sh" "$1"

# The simulator traces every frame to its standard error, about 130 bytes per
# exchange: far more than a pipe holds within the run. Without --sim-log all
# of it goes through the host, which runs on one thread.
"$HOST" --duration 5 --refresh 1000 --sim-args "--demo --trace" >"$WORK/chatty.out" 2>&1 &
host_pid=$!
sleep 2
tasks=$(ls "/proc/$host_pid/task" 2>/dev/null | wc -l)
wait "$host_pid"
echo $? >"$WORK/chatty.rc"
check "the host has one thread ($tasks)" [ "$tasks" -eq 1 ]
check_rc chatty 0
mapfile -t counts < <(sed -n 's/.* | \([0-9][0-9]*\) exchanges, .*/\1/p' "$WORK/chatty.out")
# Stalled, the host would wait a whole reply timeout (1 s) per exchange.
rate=0
[ "${#counts[@]}" -ge 4 ] && rate=$((counts[-1] - counts[-3]))
check "exchanges go on at a normal rate to the end (${counts[*]})" [ "$rate" -ge 400 ]
check "no failures with a tracing simulator" [ "$(summary_value chatty failures)" = 0 ]

# With --sim-log the trace and the simulator's closing summary land in the file,
# with the usual mode; in the trace, a station not served and delays; a sine bit
# is set in its first half period.
run_host logged --quiet --timeout 50 --duration 1 --multi-station --retries 0 -v 1:bit:16 -v 3:w16:10 \
    --dump "$WORK/logged.host" --sim-log "$WORK/sim.log" \
    --sim-args "--demo --trace --drop 0 --delay 50:1 --tick 100 --animate 1:0:16=sine"
check_rc logged 3
for pattern in ' rx (\[[0-9A-F]{2}\]){10}$' 'station not served, no reply' 'fault: delay 1 ms' 'garbage bytes'; do
    check_in "$WORK/sim.log" "$pattern"
done
check "sine bit set" grep -qxF 1:0:16=1 "$WORK/logged.host"
check "replies sent counted" [ "$(sed -n 's/^  requests *//p' "$WORK/sim.log")" = "$(sed -n 's/^  replies sent *//p' "$WORK/sim.log")" ]
check "log mode" [ "$(stat -c %a "$WORK/sim.log")" = "$(printf %o $((0644 & ~0$(umask))))" ]

# A simulator that writes 3 MB to standard error before its pty line (more
# than a pipe holds) still starts; one that ends mid-run stops the host with
# exit 1 and the end of its standard error shown.
printf '#!/usr/bin/env bash\nhead -c 3000000 /dev/zero | tr "\\\\0" x >&2\necho >&2\nexec "%s" "$@"\n' "$SIM" \
    >"$WORK/noisy-sim"
printf '#!/usr/bin/env bash\n"%s" "$@" &\nsleep 1\nkill -KILL $!\necho "dying-sim: the device went away" >&2\nexit 4\n' \
    "$SIM" >"$WORK/dying-sim"
chmod +x "$WORK/noisy-sim" "$WORK/dying-sim"
run_host noisy --quiet --cycles 3 --sim "$WORK/noisy-sim" -v 1:w16:10
check_rc noisy 0
expect dying 1 '^marovin-host: simulator exited \(.*\): .*dying-sim: the device went away' --quiet --duration 20 \
    --link-timeout 15 --sim "$WORK/dying-sim" -v 1:w16:10

finish
