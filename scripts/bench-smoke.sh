#!/usr/bin/env bash
# Builds the benchmarks and runs each of them briefly, to prove that they
# still build and run (no figure is meaningful). Ends with 'N passed, N failed'
# and exits non-zero when a part failed. The runs take well under two minutes.
#
# Environment: MAROVIN_JOBS (default 2), MAROVIN_BENCH_DIR (default build/bench;
# the results go to its results-smoke folder, so real figures are kept).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export MAROVIN_BENCH_SMOKE=1
exec bash "$ROOT/scripts/bench.sh" "$@"
