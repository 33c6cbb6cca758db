#!/usr/bin/env bash
# Runs the native test executables, and a short run of the host tool, under
# valgrind memcheck. Definite and indirect leaks count as errors, like invalid
# reads and writes; "still reachable" memory (Qt's global statics) and
# "possibly lost" do not. No suppression files are used.
#
#   bash scripts/memcheck.sh [BUILD_DIR] [TEST...]
#
# BUILD_DIR (default build/memcheck) is configured and built as a plain
# RelWithDebInfo build if needed. TEST names limit the run to those test
# executables (e.g. host_input_test reload_test). Environment: MAROVIN_JOBS
# (build jobs, default 2), MAROVIN_MEMCHECK_TIMEOUT (seconds per executable,
# default 1800), MAROVIN_GTEST_FILTER (a --gtest_filter for every test; the
# default leaves out the wall-clock speed tests, "*IsFast*", which valgrind's
# slowdown would fail for no memory reason).
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

DIR=${1:-build/memcheck}
[ $# -gt 0 ] && shift
ONLY=("$@")
JOBS=${MAROVIN_JOBS:-2}
TIMEOUT=${MAROVIN_MEMCHECK_TIMEOUT:-1800}
# A distinct exit code, so that memcheck's errors are told apart from failing tests.
VG_ERROR=99

note() { printf '==> %s\n' "$*"; }

if ! command -v valgrind >/dev/null; then
    echo "valgrind is not installed" >&2
    exit 1
fi

if grep -qE 'MAROVIN_SANITIZE:STRING=.+' "$DIR/CMakeCache.txt" 2>/dev/null; then
    echo "$DIR is a sanitizer build; valgrind needs a plain one" >&2
    exit 1
fi

note "configure $DIR"
mkdir -p "$DIR"
if ! cmake -S . -B "$DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMAROVIN_BUILD_TESTS=ON \
        -DMAROVIN_BUILD_TOOLS=ON >"$DIR/memcheck-configure.log" 2>&1; then
    tail -n 30 "$DIR/memcheck-configure.log"
    exit 1
fi
note "build (log: $DIR/memcheck-build.log)"
if ! cmake --build "$DIR" -j"$JOBS" >"$DIR/memcheck-build.log" 2>&1; then
    grep -nE '(error|undefined reference)' "$DIR/memcheck-build.log" | head -n 40
    exit 1
fi

LOGS="$DIR/memcheck"
mkdir -p "$LOGS"
VALGRIND=(valgrind --tool=memcheck --error-exitcode=$VG_ERROR --leak-check=full
          --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect
          --num-callers=40 --child-silent-after-fork=yes --trace-children=no)

declare -a NAMES RESULTS DETAILS
failed=0

# Runs one command under memcheck; records "name result details".
run_one() {
    local name=$1 log="$LOGS/$1.log"
    shift
    note "$name (log: $log)"
    local rc=0
    timeout --kill-after=30 "$TIMEOUT" "${VALGRIND[@]}" --log-file="$log.vg" "$@" >"$log" 2>&1 || rc=$?
    local errors definite indirect possible reachable result
    errors=$(sed -nE 's/.*ERROR SUMMARY: ([0-9]+) errors.*/\1/p' "$log.vg" | tail -n 1)
    definite=$(sed -nE 's/.*definitely lost: ([0-9,]+) bytes.*/\1/p' "$log.vg" | tail -n 1)
    indirect=$(sed -nE 's/.*indirectly lost: ([0-9,]+) bytes.*/\1/p' "$log.vg" | tail -n 1)
    possible=$(sed -nE 's/.*possibly lost: ([0-9,]+) bytes.*/\1/p' "$log.vg" | tail -n 1)
    reachable=$(sed -nE 's/.*still reachable: ([0-9,]+) bytes.*/\1/p' "$log.vg" | tail -n 1)
    case $rc in
        0) result=ok ;;
        "$VG_ERROR") result="MEMCHECK ERRORS" ;;
        124|137) result=TIMEOUT ;;
        *) result="FAIL ($rc)" ;;
    esac
    [ "$rc" -ne 0 ] && failed=1
    NAMES+=("$name")
    RESULTS+=("$result")
    DETAILS+=("errors ${errors:-?}, definitely lost ${definite:-0}, indirectly lost ${indirect:-0}, possibly lost ${possible:-0}, still reachable ${reachable:-0}")
    if [ "$rc" -ne 0 ]; then
        echo "---- $name: memcheck report (end)"
        grep -E '^==[0-9]+== ' "$log.vg" | grep -vE '^==[0-9]+== +(Memcheck|Copyright|Using Valgrind|Command|Parent PID)' | tail -n 60
        echo "---- $name: output (failures)"
        grep -E '(FAILED|Failure|error:|Expected|Which is)' "$log" | head -n 30
    fi
}

wanted() {
    local n
    [ "${#ONLY[@]}" -eq 0 ] && return 0
    for n in "${ONLY[@]}"; do [ "$n" = "$1" ] && return 0; done
    return 1
}

filter=("--gtest_filter=${MAROVIN_GTEST_FILTER:--*IsFast*}")

shopt -s nullglob
for exe in "$DIR"/tests/*_test; do
    [ -x "$exe" ] || continue
    name=$(basename "$exe")
    wanted "$name" || continue
    run_one "$name" "$exe" "${filter[@]}"
done

host="$DIR/tools/marovin-host/marovin-host"
if [ -x "$host" ] && wanted marovin-host; then
    # The simulator it starts is a child process and is not checked here.
    run_one marovin-host "$host" --duration 3 --quiet
elif wanted marovin-host; then
    note "marovin-host not built: host run skipped"
fi

echo
printf '%-24s %-16s %s\n' executable result memcheck
printf '%-24s %-16s %s\n' ---------- ------ --------
for i in "${!NAMES[@]}"; do
    printf '%-24s %-16s %s\n' "${NAMES[$i]}" "${RESULTS[$i]}" "${DETAILS[$i]}"
done
exit "$failed"
