#!/usr/bin/env bash
# Builds the benchmarks in build/bench (Release, -DMAROVIN_BUILD_BENCH=ON) and
# runs them all: instruction counts under callgrind (the driver, libmodbus,
# marovin-host), heap calls, memory per cached value, Google Benchmark
# timings and the pseudo-terminal comparison. Prints a summary table; the
# figures are kept in build/bench/results (figures.json, summary.txt).
#
#   bash scripts/bench.sh [--skip counts,heap,memory,gbench,pty,host]
#
# Environment: MAROVIN_JOBS (default 2), MAROVIN_BENCH_DIR (default build/bench).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
BUILD=${MAROVIN_BENCH_DIR:-build/bench}
JOBS=${MAROVIN_JOBS:-2}
SMOKE=${MAROVIN_BENCH_SMOKE:-0}

note() { printf '==> %s\n' "$*"; }

note "checking packages"
bash scripts/install-deps.sh build-essential cmake pkg-config qtbase5-dev libcli11-dev nlohmann-json3-dev python3 \
    libmodbus-dev valgrind libbenchmark-dev libcpp-httplib-dev libjs-dygraphs

note "configure ($BUILD)"
mkdir -p "$BUILD"
cmake -S . -B "$BUILD" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=Release \
    -DMAROVIN_BUILD_BENCH=ON -DMAROVIN_BUILD_TESTS=OFF -DMAROVIN_BUILD_TOOLS=ON \
    >"$BUILD/configure.log" 2>&1 || { tail -n 40 "$BUILD/configure.log"; exit 1; }

note "build (log: $BUILD/build.log)"
if ! cmake --build "$BUILD" -j"$JOBS" --target marovin-bench marovin-bench-count marovin-bench-heap \
        marovin-bench-pty >"$BUILD/build.log" 2>&1; then
    grep -nE '(error|undefined reference)' "$BUILD/build.log" | head -n 40
    tail -n 20 "$BUILD/build.log"
    exit 1
fi
# The host tool and the simulator are measured when they build.
if ! cmake --build "$BUILD" -j"$JOBS" --target marovin-host marovin-sim >>"$BUILD/build.log" 2>&1; then
    note "marovin-host or marovin-sim did not build: their figures are skipped"
fi

ARGS=(--build "$BUILD")
[ "$SMOKE" = 1 ] && ARGS+=(--smoke --out "$BUILD/results-smoke")
exec python3 bench/run_benchmarks.py "${ARGS[@]}" "$@"
