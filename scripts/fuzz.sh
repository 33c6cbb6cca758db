#!/usr/bin/env bash
# Builds the libFuzzer targets in build/fuzz (clang, AddressSanitizer and
# UBSan) and runs each for a bounded time, one after the other, starting from
# its seed corpus in fuzz/corpus/<target>. Prints executions and coverage per
# target; exits non-zero if a target crashed, hung or ran out of memory.
#
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]     (default 60 s per target)
#
# New inputs collect in build/fuzz/corpus/<target>, crash inputs in
# build/fuzz/artifacts/<target>. Environment: MAROVIN_JOBS (build jobs,
# default 2), MAROVIN_FUZZ_DIR (build folder, default build/fuzz).
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

SECONDS_PER_TARGET=${1:-60}
if ! [[ "$SECONDS_PER_TARGET" =~ ^[0-9]+$ ]] || [ "$SECONDS_PER_TARGET" -lt 1 ]; then
    echo "usage: $0 [SECONDS] [TARGET...]" >&2
    exit 2
fi
shift $(($# > 0 ? 1 : 0))

ALL_TARGETS=(fuzz_exchange fuzz_address fuzz_sim_frames)
TARGETS=("$@")
[ "${#TARGETS[@]}" -eq 0 ] && TARGETS=("${ALL_TARGETS[@]}")

DIR=${MAROVIN_FUZZ_DIR:-build/fuzz}
JOBS=${MAROVIN_JOBS:-2}

# Longest input per target, and the time one input may take (sanitized build,
# so generous) before it counts as a hang.
declare -A MAX_LEN=([fuzz_exchange]=2048 [fuzz_address]=64 [fuzz_sim_frames]=1024)
UNIT_TIMEOUT=${MAROVIN_FUZZ_UNIT_TIMEOUT:-20}
RSS_LIMIT_MB=${MAROVIN_FUZZ_RSS_MB:-2048}

note() { printf '==> %s\n' "$*"; }

for t in "${TARGETS[@]}"; do
    if [ -z "${MAX_LEN[$t]:-}" ]; then
        echo "unknown target: $t (known: ${ALL_TARGETS[*]})" >&2
        exit 2
    fi
done

if ! command -v clang >/dev/null || ! command -v clang++ >/dev/null; then
    echo "clang and clang++ are needed for libFuzzer" >&2
    exit 1
fi

note "configure $DIR"
mkdir -p "$DIR"
if ! CC=clang CXX=clang++ cmake -S . -B "$DIR" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DMAROVIN_BUILD_FUZZ=ON "-DMAROVIN_SANITIZE=address;undefined" \
        -DMAROVIN_BUILD_TESTS=OFF -DMAROVIN_BUILD_TOOLS=OFF -DMAROVIN_WERROR=ON \
        >"$DIR/configure.log" 2>&1; then
    tail -n 40 "$DIR/configure.log"
    exit 1
fi

note "build (log: $DIR/build.log)"
if ! cmake --build "$DIR" -j"$JOBS" --target "${TARGETS[@]}" >"$DIR/build.log" 2>&1; then
    grep -nE '(error|undefined reference)' "$DIR/build.log" | head -n 40
    tail -n 20 "$DIR/build.log"
    exit 1
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

declare -A RESULT EXECS COV FT CORP
failed=0
for t in "${TARGETS[@]}"; do
    work="$DIR/corpus/$t"
    artifacts="$DIR/artifacts/$t"
    log="$DIR/$t.log"
    mkdir -p "$work" "$artifacts"
    note "$t for ${SECONDS_PER_TARGET}s (log: $log)"
    rc=0
    "$DIR/fuzz/$t" "$work" "fuzz/corpus/$t" \
        -max_total_time="$SECONDS_PER_TARGET" -max_len="${MAX_LEN[$t]}" -timeout="$UNIT_TIMEOUT" \
        -rss_limit_mb="$RSS_LIMIT_MB" -artifact_prefix="$artifacts/" -print_final_stats=1 \
        >"$log" 2>&1 || rc=$?

    # The last status line, e.g. "#81234 DONE cov: 1078 ft: 4515 corp: 574/13500b ...".
    line=$(grep -E '^#[0-9]+' "$log" | tail -n 1)
    EXECS[$t]=$(grep -E '^stat::number_of_executed_units:' "$log" | awk '{print $2}')
    [ -z "${EXECS[$t]}" ] && EXECS[$t]=$(sed -nE 's/^#([0-9]+).*/\1/p' <<<"$line")
    COV[$t]=$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$line")
    FT[$t]=$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$line")
    CORP[$t]=$(sed -nE 's/.* corp: ([0-9]+)\/.*/\1/p' <<<"$line")

    if [ "$rc" -eq 0 ]; then
        RESULT[$t]=ok
    else
        RESULT[$t]="FAIL ($rc)"
        failed=1
        echo "---- $t: end of $log"
        grep -vE '^#[0-9]+ +(NEW|REDUCE|pulse)' "$log" | tail -n 60
        echo "---- inputs kept in $artifacts:"
        ls -l "$artifacts"
    fi
done

echo
printf '%-16s %-10s %12s %8s %8s %8s\n' target result execs cov ft corpus
printf '%-16s %-10s %12s %8s %8s %8s\n' ------ ------ ----- --- -- ------
for t in "${TARGETS[@]}"; do
    printf '%-16s %-10s %12s %8s %8s %8s\n' "$t" "${RESULT[$t]}" "${EXECS[$t]:-?}" "${COV[$t]:-?}" \
        "${FT[$t]:-?}" "${CORP[$t]:-?}"
done
exit "$failed"
