#!/usr/bin/env bash
# Builds the libFuzzer targets in build/fuzz (clang, AddressSanitizer and
# UBSan) and runs each for a bounded time, JOBS at a time, from its corpus in
# fuzz/corpus/<target> with its dictionary fuzz/dict/<target>.dict, if any.
# Prints executions, their rate and coverage per target; exits non-zero if a
# target crashed, hung or ran out of memory.
#
#   bash scripts/fuzz.sh [--keep] [--jobs N] [SECONDS] [TARGET...]   (60 s per target)
#
# New inputs collect in build/fuzz/corpus/<target>, crash inputs in
# build/fuzz/artifacts/<target>. --keep merges them into fuzz/corpus/<target>
# afterwards, minimised (libFuzzer's -merge: the fewest inputs that reach
# every feature), and fails when a corpus grows past MAROVIN_FUZZ_CORPUS_KB
# (default 256). Every run is appended to build/fuzz/campaign.tsv (date,
# target, seconds, executions, result). Environment: MAROVIN_JOBS (build
# jobs, default 2), MAROVIN_FUZZ_JOBS (targets at once, default 2),
# MAROVIN_FUZZ_DIR (build folder, default build/fuzz).
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

KEEP=0
RUN_JOBS=${MAROVIN_FUZZ_JOBS:-2}
while [ $# -gt 0 ]; do
    case "$1" in
        --keep) KEEP=1; shift ;;
        --jobs) RUN_JOBS=$2; shift 2 ;;
        *) break ;;
    esac
done
SECONDS_PER_TARGET=${1:-60}
if ! [[ "$SECONDS_PER_TARGET" =~ ^[0-9]+$ ]] || [ "$SECONDS_PER_TARGET" -lt 1 ] || ! [[ "$RUN_JOBS" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [--keep] [--jobs N] [SECONDS] [TARGET...]" >&2
    exit 2
fi
shift $(($# > 0 ? 1 : 0))

# Longest input per target.
declare -A MAX_LEN=([fuzz_exchange]=256 [fuzz_session]=2048 [fuzz_address]=64 [fuzz_sim_frames]=1024
                    [fuzz_tag_file]=2048 [fuzz_config_file]=2048 [fuzz_variable_text]=128 [fuzz_write_payload]=300
                    [fuzz_mqtt_url]=300 [fuzz_telnet]=512 [fuzz_http]=4096 [fuzz_memory_text]=2048
                    [fuzz_historian_url]=300 [fuzz_sparkplug_command]=1024)
ALL_TARGETS=(fuzz_exchange fuzz_session fuzz_address fuzz_sim_frames fuzz_tag_file fuzz_config_file
             fuzz_variable_text fuzz_write_payload fuzz_mqtt_url fuzz_telnet fuzz_http fuzz_memory_text
             fuzz_historian_url fuzz_sparkplug_command)
TARGETS=("$@")
[ "${#TARGETS[@]}" -eq 0 ] && TARGETS=("${ALL_TARGETS[@]}")

DIR=${MAROVIN_FUZZ_DIR:-build/fuzz}
JOBS=${MAROVIN_JOBS:-2}
# The time one input may take (sanitized build, so generous) before it counts as a hang.
UNIT_TIMEOUT=${MAROVIN_FUZZ_UNIT_TIMEOUT:-20}
RSS_LIMIT_MB=${MAROVIN_FUZZ_RSS_MB:-2048}
CORPUS_KB=${MAROVIN_FUZZ_CORPUS_KB:-256}

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
        "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" \
        -DMAROVIN_BUILD_FUZZ=ON "-DMAROVIN_SANITIZE=address;undefined" \
        -DMAROVIN_BUILD_TESTS=OFF -DMAROVIN_BUILD_TOOLS=ON -DMAROVIN_BUILD_EXAMPLES=OFF -DMAROVIN_WERROR=ON \
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

# Runs one target for the time given; its exit status in $DIR/<target>.rc.
run_target() {
    local t=$1 dict=()
    mkdir -p "$DIR/corpus/$t" "$DIR/artifacts/$t" "fuzz/corpus/$t"
    [ -f "fuzz/dict/$t.dict" ] && dict=(-dict="fuzz/dict/$t.dict")
    "$DIR/fuzz/$t" "$DIR/corpus/$t" "fuzz/corpus/$t" "${dict[@]}" \
        -max_total_time="$SECONDS_PER_TARGET" -max_len="${MAX_LEN[$t]}" -timeout="$UNIT_TIMEOUT" \
        -rss_limit_mb="$RSS_LIMIT_MB" -artifact_prefix="$DIR/artifacts/$t/" -print_final_stats=1 \
        >"$DIR/$t.log" 2>&1
    echo $? >"$DIR/$t.rc"
}

note "${#TARGETS[@]} targets, ${SECONDS_PER_TARGET}s each, $RUN_JOBS at a time (logs: $DIR/<target>.log)"
running=0
for t in "${TARGETS[@]}"; do
    if [ "$running" -ge "$RUN_JOBS" ]; then
        wait -n
        running=$((running - 1))
    fi
    run_target "$t" &
    running=$((running + 1))
done
wait

# Merges the run's new inputs into the repository's corpus, minimised.
keep_corpus() {
    local t=$1 merged="$DIR/merged/$1"
    rm -rf "$merged"
    mkdir -p "$merged"
    "$DIR/fuzz/$t" -merge=1 -max_len="${MAX_LEN[$t]}" -timeout="$UNIT_TIMEOUT" -rss_limit_mb="$RSS_LIMIT_MB" \
        "$merged" "fuzz/corpus/$t" "$DIR/corpus/$t" >"$DIR/$t.merge.log" 2>&1 || return 1
    # An oversized merge leaves the repository's corpus as it was.
    [ "$(du -s --apparent-size -k "$merged" | cut -f1)" -le "$CORPUS_KB" ] ||
        { echo "$t: the merged corpus is over ${CORPUS_KB} KB; fuzz/corpus/$t left as it was (merged in $merged)" >&2; return 1; }
    rm -rf "fuzz/corpus/$t"
    mv "$merged" "fuzz/corpus/$t"
}

declare -A RESULT EXECS RATE COV
failed=0
for t in "${TARGETS[@]}"; do
    log="$DIR/$t.log"
    rc=$(cat "$DIR/$t.rc")
    # The last status line, e.g. "#81234 DONE cov: 1078 ft: 4515 corp: 574/13500b ...".
    line=$(grep -E '^#[0-9]+' "$log" | tail -n 1)
    EXECS[$t]=$(grep -E '^stat::number_of_executed_units:' "$log" | awk '{print $2}')
    [ -z "${EXECS[$t]}" ] && EXECS[$t]=$(sed -nE 's/^#([0-9]+).*/\1/p' <<<"$line")
    RATE[$t]=$(grep -E '^stat::average_exec_per_sec:' "$log" | awk '{print $2}')
    COV[$t]=$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$line")
    if [ "$rc" -eq 0 ]; then
        RESULT[$t]=ok
        if [ "$KEEP" = 1 ] && ! keep_corpus "$t"; then
            RESULT[$t]="merge failed"
            failed=1
        fi
    else
        RESULT[$t]="FAIL ($rc)"
        failed=1
        echo "---- $t: end of $log"
        grep -vE '^#[0-9]+ +(NEW|REDUCE|pulse)' "$log" | tail -n 60
        echo "---- inputs kept in $DIR/artifacts/$t:"
        ls -l "$DIR/artifacts/$t"
    fi
    printf '%s\t%s\t%s\t%s\t%s\n' "$(date -u +%FT%TZ)" "$t" "$SECONDS_PER_TARGET" "${EXECS[$t]:-0}" \
        "${RESULT[$t]}" >>"$DIR/campaign.tsv"
done

echo
printf '%-20s %-12s %12s %9s %8s %8s\n' target result execs exec/s cov corpus
printf '%-20s %-12s %12s %9s %8s %8s\n' ------ ------ ----- ------ --- ------
for t in "${TARGETS[@]}"; do
    printf '%-20s %-12s %12s %9s %8s %8s\n' "$t" "${RESULT[$t]}" "${EXECS[$t]:-?}" "${RATE[$t]:-?}" \
        "${COV[$t]:-?}" "$(ls "fuzz/corpus/$t" | wc -l)"
done
bad=$(for t in "${TARGETS[@]}"; do [ "${RESULT[$t]}" = ok ] || echo "$t"; done | wc -l)
echo "$((${#TARGETS[@]} - bad)) passed, $bad failed"
exit "$failed"
