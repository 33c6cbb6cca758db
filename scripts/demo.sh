#!/usr/bin/env bash
# The quickest look at the driver: installs what a bare Debian 12 lacks,
# builds the library, the simulator and marovin-host into build/, then runs
# marovin-host against the bundled simulator's demo memory for a few seconds
# (live table, then the summary).
#
#   bash scripts/demo.sh            6 seconds
#   DEMO_SECONDS=20 bash scripts/demo.sh
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
SECONDS_TO_RUN=${DEMO_SECONDS:-6}
BUILD="$ROOT/build"

note() { printf '==> %s\n' "$*"; }

# Debian packages, installed only when missing.
bash "$ROOT/scripts/install-deps.sh" build-essential cmake pkg-config qtbase5-dev libcli11-dev nlohmann-json3-dev libcpp-httplib-dev \
    libjs-dygraphs libmosquitto-dev protobuf-compiler libprotobuf-dev libsqlite3-dev libpq-dev

# Build output goes to a log, shown only when a step fails.
mkdir -p "$BUILD"
LOG="$BUILD/demo-build.log"
quietly() {
    if ! "$@" >>"$LOG" 2>&1; then
        tail -n 40 "$LOG" >&2
        echo "demo: failed: $* (full log: $LOG)" >&2
        exit 1
    fi
}
: >"$LOG"
note "configuring into build/"
quietly cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMAROVIN_BUILD_TESTS=OFF
note "building libMarovin.so.1, marovin-sim and marovin-host (a few minutes the first time)"
quietly cmake --build "$BUILD" --target marovin-host marovin-sim -j2

note "marovin-host against marovin-sim --demo for ${SECONDS_TO_RUN} s (Ctrl-C stops earlier)"
status=0
"$BUILD/tools/marovin-host/marovin-host" --duration "$SECONDS_TO_RUN" || status=$?
exit "$status"
