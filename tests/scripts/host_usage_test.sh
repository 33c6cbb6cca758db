#!/usr/bin/env bash
# marovin-host's messages and exit codes for bad input and missing pieces:
# 2 for usage errors, 1 for runtime failures, each with a one-line message.
source "$(dirname "$0")/host_common.sh" "$1"

expect help 0 '--sim-args' --help

expect missing-value 2 '^marovin-host: --retries: .*missing' --retries
expect bad-parity 2 "^marovin-host: --parity: .*X" --parity X
# A token names where it came from (the parser's own refusals, the config file's among them:
# host_options_test).
MAROVIN_HTTP_TOKEN=short expect short-env-token 2 '^marovin-host: MAROVIN_HTTP_TOKEN: the token needs at least 16' \
    --http 0
# Each bad variable, once-read, write and file, and where it is said: host_app_test.
expect bad-area 2 "^marovin-host: bad variable '1:9:10': area must be 0..5 or bit" -v 1:9:10
expect http-half-tls 2 '^marovin-host: --http-cert and --http-key go together' --http 0 --http-cert "$0"

expect missing-library 1 '^marovin-host: cannot load the driver library: .*cannot open shared object file' \
    --lib "$WORK/libnone.so.1"
# A copy outside the build tree never loads the build's library: there its path is just a name.
cp "$HOST" "$WORK/marovin-host"
HOST="$WORK/marovin-host" expect copied-host 1 'cannot load the driver library' --tcp 127.0.0.1:9 -v 1:w16:10

# The default library is found beside the tool; an explicit one works too.
run_host explicit-lib --quiet --cycles 2 --lib "$BUILD_DIR/lib/libMarovin.so.1" -v 1:w16:11
check_rc explicit-lib 0

# A station other than the default is served from the default station, with a note;
# a duration of a millisecond ends the run.
expect station-note 0 "note: '12:w16:11' is served from station 1 .* address station 12$" --quiet --duration 0.001 \
    -v 12:w16:11
check_in "$WORK/station-note.out" '^stopped: *duration reached'

# The exchange thread's real-time priority: the summary says whether it got
# it, and why not when the system refuses (as an unprivileged user).
expect rt 0 '^priority: +real-time (10 for the exchange thread|refused: )' --quiet --cycles 2 --rt-priority 10 \
    -v 1:w16:11
# (Only where that user may run the build: a clone in a private folder it cannot.)
if nobody_runs; then
    setpriv --reuid=65534 --regid=65534 --clear-groups "$HOST" --quiet --cycles 2 --rt-priority 10 -v 1:w16:11 \
        >"$WORK/rt-user.out" 2>&1
    check_in "$WORK/rt-user.out" '^priority: +real-time refused: Operation not permitted \(run as root'
fi

# Options from a config file, the command line winning; tags named and scaled in the CSV;
# a line rate that paces the bundled simulator and gives the efficiency.
printf 'quiet = true\ncycles = 50\nline-rate = 115200\ntags = "%s"\ncsv = "%s"\n' "$WORK/ok.tags" "$WORK/ok.csv" \
    >"$WORK/ok.conf"
printf 'speed = 1:w16:11 scale=0.5 unit=rpm  # 1234 raw\nwords = 1:w16:10:2\n' >"$WORK/ok.tags"
run_host config --config "$WORK/ok.conf" --cycles 3 -v 1:w16:0x30
check_rc config 0
check "command line wins over the file" [ "$(summary_value config cycles)" -eq 3 ]
check "line rate from the file" grep -qE "^efficiency: +[0-9.]+ % of the line's limit \(11520 bytes/s" "$WORK/config.out"
check "CSV names tags" grep -qx 'time,elapsed_s,1:w16:30,speed,words\[0\],words\[1\]' "$WORK/ok.csv"
check "CSV scales" grep -qE ',617,[0-9-]+,1234$' "$WORK/ok.csv"

finish
