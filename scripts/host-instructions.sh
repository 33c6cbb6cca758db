#!/usr/bin/env bash
# The whole marovin-host process's instructions per exchange against the
# bundled simulator: callgrind's total of two runs that differ only in their
# number of cycles, the difference over the difference in exchanges (start-up
# and the end cancel out). Outside CI; needs valgrind.
#
#   bash scripts/host-instructions.sh [BUILD_DIR] [1|10]     (build/ci-native, 1 value)
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:-$ROOT/build/ci-native}
VALUES=${2:-1}
if [ "$VALUES" = 1 ]; then VAR=1:w16:10; SHORT=250; LONG=500; else VAR=1:w16:10:$VALUES; SHORT=50; LONG=100; fi
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# run CYCLES: "INSTRUCTIONS EXCHANGES" of one run.
run() {
    valgrind --tool=callgrind --trace-children=no --callgrind-out-file="$WORK/cg.$1" \
        "$BUILD/tools/marovin-host/marovin-host" --lib "$BUILD/lib/libMarovin.so.1" \
        --sim "$BUILD/tools/marovin-sim/marovin-sim" -q -v "$VAR" --cycles "$1" >"$WORK/out.$1" 2>&1
    echo "$(callgrind_annotate "$WORK/cg.$1" 2>/dev/null | awk '/PROGRAM TOTALS/ { gsub(",", "", $1); print $1; exit }')" \
         "$(sed -n 's/^exchanges: *\([0-9]*\).*/\1/p' "$WORK/out.$1")"
}
read -r i1 e1 < <(run "$SHORT")
read -r i2 e2 < <(run "$LONG")
python3 -c "print('%s value(s): %.1f instructions per exchange (%d and %d exchanges)' % ($VALUES, ($i2 - $i1) / ($e2 - $e1), $e1, $e2))"
