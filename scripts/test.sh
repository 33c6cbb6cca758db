#!/usr/bin/env bash
# Builds and tests the project in several configurations ("legs"), each in its
# own folder build/ci-<leg>, and prints a summary. Exits non-zero if any leg
# fails.
#
#   bash scripts/test.sh               all legs
#   bash scripts/test.sh native asan   only those
#
# Legs: native (RelWithDebInfo), soak (the native build's host for two
# minutes through line faults, broker restarts, clients and writes:
# scripts/soak.sh), memcheck (the native tests and a host run
# under valgrind), asan (AddressSanitizer + UBSan), tsan
# (ThreadSanitizer, with the thread stress test scaled up to a soak), armhf
# (cross build, tests under qemu-arm), fuzz (each libFuzzer target for a
# bounded time), bench (a short smoke run of every benchmark) and package (the
# Debian packages for amd64 and armhf, installed and checked in a bare Debian
# 12 chroot and under qemu-arm; needs root).
# Environment: MAROVIN_SOAK_MINUTES (default 2), MAROVIN_JOBS (default 2), MAROVIN_TEST_JOBS (tests at
# once, default twice MAROVIN_JOBS), MAROVIN_TEST_TIMEOUT (seconds per test, default 300),
# MAROVIN_FUZZ_SECONDS (per fuzz target, default 20; two run at once), MAROVIN_STRESS_SCALE (thread
# soak size in the tsan leg, default 20).
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

ALL_LEGS=(native soak memcheck asan tsan armhf fuzz bench package)
JOBS=${MAROVIN_JOBS:-2}
# The scripted tests wait on brokers, browsers and lines about half the time: two per core.
TEST_JOBS=${MAROVIN_TEST_JOBS:-$((JOBS * 2))}
TEST_TIMEOUT=${MAROVIN_TEST_TIMEOUT:-300}

usage() {
    echo "usage: $0 [${ALL_LEGS[*]}]..." >&2
    exit 2
}

LEGS=()
for arg in "$@"; do
    case "$arg" in
        -h|--help) usage ;;
        native|soak|memcheck|asan|tsan|armhf|fuzz|bench|package)
            case " ${LEGS[*]-} " in *" $arg "*) ;; *) LEGS+=("$arg") ;; esac ;;
        *) echo "unknown leg: $arg" >&2; usage ;;
    esac
done
[ "${#LEGS[@]}" -eq 0 ] && LEGS=("${ALL_LEGS[@]}")

note() { printf '==> %s\n' "$*"; }

fmt_time() { printf '%d:%02d' $(($1 / 60)) $(($1 % 60)); }

# ---------------------------------------------------------------- set-up

wants_leg() {
    local l
    for l in "${LEGS[@]}"; do [ "$l" = "$1" ] && return 0; done
    return 1
}

setup_packages() {
    local pkgs=(build-essential cmake pkg-config qtbase5-dev googletest libgtest-dev
                clang libclang-rt-14-dev locales valgrind libbenchmark-dev libmodbus-dev python3
                libcli11-dev nlohmann-json3-dev man-db help2man ser2net)
    # What the test scripts call beside the tools themselves.
    pkgs+=(curl procps coreutils)
    # The MQTT gateway and its broker tests; the Sparkplug payloads (protoc at
    # build time), jq for the tests' checks of JSON and decoded payloads.
    pkgs+=(libmosquitto-dev mosquitto mosquitto-clients openssl protobuf-compiler libprotobuf-dev jq)
    # The outbox (SQLite), the historian (libpq) and the PostgreSQL of its test.
    pkgs+=(libsqlite3-dev libpq-dev postgresql)
    # The web panel, its browser test and the metrics check.
    pkgs+=(libcpp-httplib-dev libjs-dygraphs chromium prometheus)
    # The browser test and the Sparkplug test's decoder (npm ci of
    # tests/web and tests/sparkplug) need node and npm; a node from elsewhere is kept.
    command -v node >/dev/null 2>&1 || pkgs+=(nodejs npm)
    if wants_leg armhf || wants_leg package; then
        pkgs+=(g++-arm-linux-gnueabihf qemu-user)
    fi
    if wants_leg package; then
        pkgs+=(debhelper fakeroot lintian debootstrap file)
    fi
    bash "$ROOT/scripts/install-deps.sh" "${pkgs[@]}"
}

# A test checks number formatting under a comma-decimal locale.
setup_locale() {
    if locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
        return 0
    fi
    note "generating locale de_DE.UTF-8"
    if [ -f /etc/locale.gen ] && command -v locale-gen >/dev/null 2>&1; then
        sed -i 's/^#[[:space:]]*\(de_DE\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
        grep -q '^de_DE\.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >>/etc/locale.gen
        locale-gen >/dev/null
    else
        localedef -i de_DE -f UTF-8 de_DE.UTF-8
    fi
}

note "checking packages"
if ! setup_packages; then
    echo "package installation failed" >&2
    echo "0 passed, 1 failed"
    exit 1
fi
if ! setup_locale; then
    echo "could not generate the de_DE.UTF-8 locale" >&2
    echo "0 passed, 1 failed"
    exit 1
fi

# ---------------------------------------------------------------- helpers

# Prints the end of a build log, errors first, so a failure is readable in CI
# where the log files are gone afterwards.
show_build_failure() {
    local log=$1
    echo "---- first errors from $log"
    grep -E -A8 '(error:|undefined reference|Error [0-9]+)' "$log" | head -n 80
    echo "---- end of $log"
    tail -n 15 "$log"
    echo "----"
}

# Prints the failing tests' output from a ctest log, without the lines of
# tests that passed.
show_test_failure() {
    local log=$1
    echo "---- failing tests' output from $log"
    grep -vE '^ *(Start +[0-9]+:|[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed)' "$log" \
        | grep -vE '^(Could not find executable |Looked in the following places:|Unable to find executable: |([A-Za-z]+/)?[^ ]+_NOT_BUILT$)' \
        | head -n 400
    echo "----"
}

# GCC's TSan aborts ("unexpected memory mapping") when the kernel places
# mappings where it does not expect them, which depends on the randomisation
# of each run (vm.mmap_rnd_bits). With randomisation off the layout is fixed,
# so the tests run under setarch -R whenever that works here.
tsan_prefix() {
    local dir=$1 probe
    probe="$dir/tsan-probe"
    mkdir -p "$dir"
    cat >"$probe.cpp" <<'EOF'
#include <thread>
int value;
int main() { std::thread t([] { value = 1; }); t.join(); return value == 1 ? 0 : 1; }
EOF
    if ! g++ -fsanitize=thread -pthread "$probe.cpp" -o "$probe" >"$probe.log" 2>&1; then
        return 0
    fi
    if setarch "$(uname -m)" -R "$probe" >>"$probe.log" 2>&1; then
        echo "setarch $(uname -m) -R"
    fi
}

# Results, one entry per leg.
declare -A RESULT PASSED FAILED SKIPPED ELAPSED
TOTAL_PASSED=0
TOTAL_FAILED=0
TOTAL_SKIPPED=0

# Legs that are a script of their own: 1 passed or 1 failed by its exit
# status, or its own 'N passed, N failed' line when it prints one.
run_script_leg() {
    local leg=$1 dir="build/ci-$1" start=$SECONDS status=PASS rc=0
    shift
    mkdir -p "$dir"
    note "[$leg] $* (log: $dir/test.log)"
    "$@" >"$dir/test.log" 2>&1 || rc=$?
    local passed=0 failed=0 line
    line=$(grep -E '^([A-Za-z]+: )?[0-9]+ passed, [0-9]+ failed' "$dir/test.log" | tail -n 1)
    if [ -n "$line" ]; then
        passed=$(sed -E 's/^([A-Za-z]+: )?([0-9]+) passed.*/\2/' <<<"$line")
        failed=$(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")
    elif [ "$rc" -eq 0 ]; then
        passed=1
    fi
    if [ "$rc" -ne 0 ]; then
        status="FAIL"
        [ "$failed" -eq 0 ] && failed=1
        tail -n 60 "$dir/test.log"
    fi
    # The summary table of the script, for the CI log.
    tail -n 8 "$dir/test.log"
    RESULT[$leg]=$status
    PASSED[$leg]=$passed
    FAILED[$leg]=$failed
    SKIPPED[$leg]=0
    ELAPSED[$leg]=$((SECONDS - start))
    TOTAL_PASSED=$((TOTAL_PASSED + passed))
    TOTAL_FAILED=$((TOTAL_FAILED + failed))
    note "[$leg] $status: $passed passed, $failed failed in $(fmt_time "${ELAPSED[$leg]}")"
}

run_leg() {
    local leg=$1 dir="build/ci-$1"
    case "$leg" in
        # valgrind over the native leg's tests and a host run (its own build when native is not run).
        memcheck) run_script_leg memcheck bash scripts/memcheck.sh "$(wants_leg native && echo build/ci-native || echo build/ci-memcheck/build)"; return ;;
        fuzz) run_script_leg fuzz env MAROVIN_FUZZ_DIR=build/ci-fuzz/build bash scripts/fuzz.sh "${MAROVIN_FUZZ_SECONDS:-20}"; return ;;
        # The native leg's build through faults, broker restarts and clients for a while.
        soak) run_script_leg soak env MAROVIN_BUILD_DIR=build/ci-native bash scripts/soak.sh "${MAROVIN_SOAK_MINUTES:-2}"; return ;;
        bench) run_script_leg bench env MAROVIN_BENCH_DIR=build/ci-bench/build bash scripts/bench-smoke.sh; return ;;
        package) run_script_leg package bash -c 'bash scripts/package.sh && bash scripts/check-packages.sh'; return ;;
    esac
    local start=$SECONDS status=PASS
    # Line tables (-g1) are all the reports of sanitizers and valgrind use, at half the compile time of -g.
    # The sanitizers' instrumented code at -O1, as they advise: -O2 takes twice as long to compile there.
    local opt=-O2
    case "$leg" in asan|tsan) opt=-O1 ;; esac
    local cfg=(-G "Unix Makefiles" -DMAROVIN_WERROR=ON "-DCMAKE_C_FLAGS_RELWITHDEBINFO=$opt -g1 -DNDEBUG"
               "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$opt -g1 -DNDEBUG")
    local envs=() prefix=()

    mkdir -p "$dir"
    case "$leg" in
        native)
            cfg+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
            ;;
        asan)
            cfg+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DMAROVIN_SANITIZE=address;undefined")
            envs+=(ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1)
            ;;
        tsan)
            cfg+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DMAROVIN_SANITIZE=thread)
            envs+=(MAROVIN_STRESS_SCALE="${MAROVIN_STRESS_SCALE:-20}")
            local p
            p=$(tsan_prefix "$dir")
            if [ -n "$p" ]; then
                note "[$leg] tests run with address randomisation off ($p)"
                read -r -a prefix <<<"$p"
            fi
            ;;
        armhf)
            note "[$leg] armhf sysroot"
            if ! bash scripts/armhf-sysroot.sh "$dir/sysroot" >"$dir/sysroot.log" 2>&1; then
                tail -n 30 "$dir/sysroot.log"
                status="FAIL (sysroot)"
            fi
            cfg+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo
                  "-DCMAKE_TOOLCHAIN_FILE=$ROOT/cmake/toolchain-armhf.cmake"
                  "-DMAROVIN_QT_SYSROOT=$ROOT/$dir/sysroot")
            envs+=(MAROVIN_UNDER_QEMU=1)
            ;;
    esac

    local passed=0 failed=0 skipped=0

    if [ "$status" = PASS ]; then
        note "[$leg] configure"
        if ! cmake -S . -B "$dir" "${cfg[@]}" >"$dir/configure.log" 2>&1; then
            tail -n 40 "$dir/configure.log"
            status="FAIL (configure)"
        fi
    fi

    if [ "$status" = PASS ]; then
        note "[$leg] build (log: $dir/build.log)"
        # Keep going past a broken target so the rest still gets tested.
        if ! cmake --build "$dir" -j"$JOBS" -- -k >"$dir/build.log" 2>&1; then
            show_build_failure "$dir/build.log"
            status="FAIL (build)"
        fi

        note "[$leg] test (log: $dir/test.log)"
        local rc=0
        env "${envs[@]}" "${prefix[@]}" ctest --test-dir "$dir" --output-on-failure \
            -j"$TEST_JOBS" --timeout "$TEST_TIMEOUT" --no-tests=error >"$dir/test.log" 2>&1 || rc=$?

        local line total
        line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$dir/test.log" | tail -n 1)
        if [ -n "$line" ]; then
            failed=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
            total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
            skipped=$(grep -cE '^[[:space:]]*[0-9]+ - .*\(Skipped\)$' "$dir/test.log")
            passed=$((total - failed - skipped))
        fi
        if [ "$rc" -ne 0 ] || [ -z "$line" ]; then
            show_test_failure "$dir/test.log"
            [ "$status" = PASS ] && status="FAIL (tests)"
        fi
    fi

    # A leg that failed without a failing test (configure, build or a runner
    # problem) still counts as one failure in the totals.
    if [ "$status" != PASS ] && [ "$failed" -eq 0 ]; then
        failed=1
    fi

    RESULT[$leg]=$status
    PASSED[$leg]=$passed
    FAILED[$leg]=$failed
    SKIPPED[$leg]=$skipped
    ELAPSED[$leg]=$((SECONDS - start))
    TOTAL_PASSED=$((TOTAL_PASSED + passed))
    TOTAL_FAILED=$((TOTAL_FAILED + failed))
    TOTAL_SKIPPED=$((TOTAL_SKIPPED + skipped))
    note "[$leg] $status: $passed passed, $failed failed, $skipped skipped in $(fmt_time "${ELAPSED[$leg]}")"
}

# ---------------------------------------------------------------- run

overall_start=$SECONDS
for leg in "${LEGS[@]}"; do
    run_leg "$leg"
done

echo
printf '%-8s %-18s %8s %8s %8s %8s\n' leg result passed failed skipped time
printf '%-8s %-18s %8s %8s %8s %8s\n' --- ------ ------ ------ ------- ----
exit_code=0
for leg in "${LEGS[@]}"; do
    printf '%-8s %-18s %8d %8d %8d %8s\n' "$leg" "${RESULT[$leg]}" "${PASSED[$leg]}" \
        "${FAILED[$leg]}" "${SKIPPED[$leg]}" "$(fmt_time "${ELAPSED[$leg]}")"
    [ "${RESULT[$leg]}" = PASS ] || exit_code=1
done
echo "total time $(fmt_time $((SECONDS - overall_start)))"
echo
if [ "$TOTAL_SKIPPED" -gt 0 ]; then
    echo "$TOTAL_PASSED passed, $TOTAL_FAILED failed, $TOTAL_SKIPPED skipped"
else
    echo "$TOTAL_PASSED passed, $TOTAL_FAILED failed"
fi
exit "$exit_code"
