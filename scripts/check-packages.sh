#!/usr/bin/env bash
# Checks the Debian packages in dist/ (made by scripts/package.sh):
#
# - lintian on the native and on the armhf packages: no errors;
# - a bare Debian 12 (debootstrap --variant=minbase, kept in
#   build/pkg-check/bookworm between runs; each run works on a fresh copy)
#   installs the native packages with apt, the dependencies coming from the
#   mirror; in it the installed tools run from PATH, the gateway's example
#   config runs as its user, systemd-analyze accepts the unit, two lines run
#   side by side from the template unit's command line (JSON topics and a
#   Sparkplug edge node on one broker), a consumer
#   builds through pkg-config and find_package(Marovin), and a purge leaves
#   nothing behind;
# - the armhf packages hold ARM code, depend on what the native ones depend
#   on, and their tools run under qemu-arm: the ARM host, with the ARM
#   library, reads the ARM simulator over TCP.
#
# Prints one line per check and "N passed, N failed"; exits non-zero when one
# failed. Logs: build/pkg-check/log/. Needs root (debootstrap, chroot, mount).
# Environment: MAROVIN_DEBIAN_MIRROR (default http://deb.debian.org/debian).
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT" || exit 1

if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
        exec sudo -E bash "$0" "$@"
    fi
    echo "check-packages: needs root (debootstrap, chroot, mount)" >&2
    exit 1
fi

NATIVE=$(dpkg --print-architecture)
CROSS=armhf
CROSS_TRIPLET=arm-linux-gnueabihf
MIRROR=${MAROVIN_DEBIAN_MIRROR:-http://deb.debian.org/debian}
WORK="$ROOT/build/pkg-check"
BASE="$WORK/bookworm"
JAIL="$WORK/root"
UPPER="$WORK/overlay-upper"
LOGS="$WORK/log"
SYSROOT="$ROOT/build/ci-armhf/sysroot"
VERSION=$(sed -nE 's/^project\(Marovin VERSION ([0-9][0-9.]*).*/\1/p' CMakeLists.txt)
# What the consumer build and the unit check need beside the packages (man:
# systemd-analyze verify looks up the unit's Documentation= pages).
BASE_PACKAGES=(g++ make cmake pkg-config systemd man-db)

mkdir -p "$LOGS"
rm -f "$LOGS"/*.log

PASSED=0
FAILED=0
MOUNTS=()
BACKGROUND=()

note() { printf '==> %s\n' "$*"; }

# Runs one check with its output in log/NAME.log; counts and reports it.
check() {
    local name=$1 start=$SECONDS
    shift
    if "$@" >"$LOGS/$name.log" 2>&1; then
        PASSED=$((PASSED + 1))
        printf 'ok    %-22s %3ds\n' "$name" $((SECONDS - start))
    else
        FAILED=$((FAILED + 1))
        printf 'FAIL  %-22s %3ds (log: %s)\n' "$name" $((SECONDS - start)) "$LOGS/$name.log"
        tail -n 40 "$LOGS/$name.log" | sed 's/^/    /'
    fi
}

# ---------------------------------------------------------------- the chroot

# Mounts what programs in the chroot DIR need: /proc, /dev, /dev/pts.
mount_system() {
    local dir=$1 m
    for m in proc dev dev/pts; do
        mkdir -p "$dir/$m"
        if [ "$m" = proc ]; then
            mount -t proc proc "$dir/proc"
        else
            mount --bind "/$m" "$dir/$m"
        fi || return 1
        MOUNTS+=("$dir/$m")
    done
}

# Unmounts everything mount_system mounted, innermost first.
unmount_all() {
    local i
    for ((i = ${#MOUNTS[@]} - 1; i >= 0; i--)); do
        umount "${MOUNTS[i]}" 2>/dev/null || umount -l "${MOUNTS[i]}" 2>/dev/null || true
    done
    MOUNTS=()
}

# True when nothing is mounted below DIR: only then may it be deleted.
nothing_mounted_below() {
    ! awk '{ print $2 }' /proc/mounts | grep -q "^$1/"
}

# Stops what the checks started in the background.
stop_background() {
    local pid
    for pid in "${BACKGROUND[@]}"; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    BACKGROUND=()
}

cleanup() {
    stop_background
    unmount_all
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The clean environment of commands in the chroot.
ROOT_ENV=(/usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
          HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive
          ${http_proxy:+"http_proxy=$http_proxy"} ${https_proxy:+"https_proxy=$https_proxy"})

# Runs a command in the chroot DIR.
in_root() {
    local dir=$1
    shift
    chroot "$dir" "${ROOT_ENV[@]}" "$@"
}
in_jail() { in_root "$JAIL" "$@"; }

# Starts a command in the background, as a process of its own (exec all the
# way down, so that its pid is the one that stop_background ends).
background() {
    ( exec "$@" ) &
    BACKGROUND+=($!)
}

# Makes the cached base system once: a minimal Debian 12 with the consumer's
# build tools and systemd. Nothing in it starts services.
make_base() {
    local want="bookworm minbase $MIRROR ${BASE_PACKAGES[*]}"
    if [ -f "$BASE/.complete" ] && [ "$(cat "$BASE/.complete")" = "$want" ]; then
        echo "base system up to date in $BASE"
        return 0
    fi
    nothing_mounted_below "$BASE" && nothing_mounted_below "$BASE.new" || return 1
    rm -rf "$BASE" "$BASE.new"
    # A throw-away system: dpkg need not sync every file (read by dpkg in
    # debootstrap's second stage too), apt wants no translations.
    mkdir -p "$BASE.new/etc/dpkg/dpkg.cfg.d" "$BASE.new/etc/apt/apt.conf.d"
    echo force-unsafe-io >"$BASE.new/etc/dpkg/dpkg.cfg.d/unsafe-io"
    echo 'Acquire::Languages "none";' >"$BASE.new/etc/apt/apt.conf.d/no-languages"
    local t=$SECONDS
    debootstrap --variant=minbase bookworm "$BASE.new" "$MIRROR" || return 1
    echo "debootstrap: $((SECONDS - t)) s"
    cat >"$BASE.new/etc/apt/sources.list" <<EOF
deb $MIRROR bookworm main
deb $MIRROR bookworm-updates main
deb ${MIRROR%/debian}/debian-security bookworm-security main
EOF
    printf '#!/bin/sh\nexit 101\n' >"$BASE.new/usr/sbin/policy-rc.d"
    chmod 755 "$BASE.new/usr/sbin/policy-rc.d"
    cp /etc/resolv.conf "$BASE.new/etc/resolv.conf"
    mount_system "$BASE.new" || return 1
    local rc=0
    in_root "$BASE.new" apt-get -q update || rc=1
    [ "$rc" -eq 0 ] && { in_root "$BASE.new" apt-get -y -q install --no-install-recommends "${BASE_PACKAGES[@]}" || rc=1; }
    in_root "$BASE.new" apt-get clean
    echo "debootstrap and ${BASE_PACKAGES[*]}: $((SECONDS - t)) s"
    unmount_all
    [ "$rc" -eq 0 ] || return 1
    mv "$BASE.new" "$BASE"
    printf '%s\n' "$want" >"$BASE/.complete"
}

# A fresh copy of the base for this run: an overlay on it where the kernel
# has overlayfs, else a full copy. apt's archive cache is part of the base, so
# the downloads of earlier runs are there.
make_jail() {
    unmount_all
    local d
    for d in "$JAIL" "$UPPER" "$WORK/overlay-work"; do
        if ! nothing_mounted_below "$d" || mountpoint -q "$d"; then
            echo "still mounted: $d"
            return 1
        fi
    done
    rm -rf "$JAIL" "$UPPER" "$WORK/overlay-work"
    mkdir -p "$JAIL" "$UPPER" "$WORK/overlay-work"
    if mount -t overlay overlay -o "lowerdir=$BASE,upperdir=$UPPER,workdir=$WORK/overlay-work" "$JAIL"; then
        MOUNTS+=("$JAIL")
        echo "overlay on $BASE"
    else
        rmdir "$JAIL" && cp -a "$BASE" "$JAIL" || return 1
        echo "copy of $BASE"
    fi
    cp /etc/resolv.conf "$JAIL/etc/resolv.conf"
    mount_system "$JAIL" || return 1
    mkdir -p "$JAIL/tmp/debs"
    cp dist/*_"$NATIVE".deb "$JAIL/tmp/debs/"
    in_jail apt-get -q update
}

# apt-get install ./*.deb, dependencies from the mirror.
install_packages() {
    in_jail sh -c 'cd /tmp/debs && apt-get -y -q install --no-install-recommends ./*.deb' || return 1
    in_jail dpkg-query -W libmarovin1 libmarovin-dev marovin-tools
}

# Keeps this run's downloads in the base for the next run (once the overlay
# on it is gone).
keep_downloads() {
    cp -n "$JAIL"/var/cache/apt/archives/*.deb "$BASE/var/cache/apt/archives/" 2>/dev/null || true
}

# ---------------------------------------------------------------- checks in the chroot

# Expects TEXT to equal WANT, naming what it is.
same() {
    echo "$1: $2"
    [ "$2" = "$3" ] || { echo "  expected: $3"; return 1; }
}

# Every place that carries the version carries the project's.
check_versions() {
    local ok=0 p
    same "marovin-host --version" "$(in_jail marovin-host --version)" "marovin-host $VERSION" || ok=1
    same "marovin-sim --version" "$(in_jail marovin-sim --version)" "marovin-sim $VERSION" || ok=1
    for p in libmarovin1 libmarovin-dev marovin-tools; do
        same "$p" "$(in_jail dpkg-query -W -f '${Version}' "$p")" "$VERSION" || ok=1
    done
    same "pkg-config --modversion marovin" "$(in_jail pkg-config --modversion marovin)" "$VERSION" || ok=1
    for p in man1/marovin-host.1 man1/marovin-sim.1; do
        same "$p" "$(zcat "$JAIL/usr/share/man/$p.gz" | sed -n 's/^\.TH .*"\(marovin-[a-z]* [0-9.]*\)".*/\1/p')" \
            "$(basename "$p" .1) $VERSION" || ok=1
    done
    ls -l "$JAIL"/usr/share/man/man*/marovin*
    [ -s "$JAIL/usr/share/man/man5/marovin-tags.5.gz" ] || ok=1
    return $ok
}

# man finds the tools', the tag file's and the library's pages (a link page
# among them), and they render without warnings.
check_man_pages() {
    local ok=0 page warnings
    for page in 1:marovin-host 1:marovin-sim 5:marovin-tags 3:marovin 3:SetComInfo 3:OnceReadDoneFunc; do
        warnings=$(in_jail env MANWIDTH=80 man --warnings "${page%%:*}" "${page#*:}" 2>&1 >/dev/null)
        echo "man ${page%%:*} ${page#*:}: ${warnings:-renders}"
        [ -z "$warnings" ] || ok=1
    done
    return $ok
}

# The number N of a summary's "(N values read)", 0 when there is none.
values_read() {
    local n
    n=$(sed -nE 's/.*\(([0-9]+) values read\).*/\1/p' "$1" | tail -n 1)
    echo "${n:-0}"
}

# marovin-host from PATH with its defaults: it starts the installed
# marovin-sim on a pseudo-terminal and reads the demo set.
check_host_demo() {
    local out="$LOGS/host-demo.out" rc=0
    in_jail marovin-host --duration 2 >"$out" 2>&1 || rc=$?
    tail -n 18 "$out"
    echo "exit status $rc"
    [ "$rc" -eq 0 ] && grep -q '^port: .*(marovin-sim)' "$out" && [ "$(values_read "$out")" -gt 0 ]
}

# The service's user and its groups.
check_user() {
    local entry groups
    entry=$(in_jail getent passwd marovin) && in_jail getent group marovin || return 1
    echo "$entry"
    groups=$(in_jail id -nG marovin)
    echo "groups: $groups"
    case " $groups " in *" dialout "*) ;; *) return 1 ;; esac
    [ "$(cut -d: -f6 <<<"$entry")" = /nonexistent ]
}

# The config and the tag file are conffiles.
check_conffiles() {
    local list
    list=$(in_jail dpkg-query -W -f '${Conffiles}\n' marovin-tools)
    echo "$list"
    grep -q '^ /etc/marovin/marovin-host.conf ' <<<"$list" && grep -q '^ /etc/marovin/marovin.tags ' <<<"$list"
}

# The unit's command line with the example config and tag file, as the
# service's user: against a missing device it fails to open the port (1, not
# a usage error); against a simulator on a pseudo-terminal it reads all tags.
check_gateway_config() {
    local as=(setpriv --reuid=marovin --regid=marovin --init-groups) rc=0 pty="" i
    local cmd
    cmd=$(sed -n 's/^ExecStart=//p' "$JAIL/lib/systemd/system/marovin-host.service")
    echo "ExecStart: $cmd"
    read -r -a cmd <<<"$cmd"
    in_jail "${as[@]}" "${cmd[@]}" --duration 1 || rc=$?
    echo "without the device: exit status $rc"
    [ "$rc" -eq 1 ] || return 1

    background chroot "$JAIL" "${ROOT_ENV[@]}" "${as[@]}" marovin-sim --demo >"$JAIL/tmp/sim.out" 2>&1
    for i in $(seq 50); do
        pty=$(sed -n 's/^marovin-sim: pty //p' "$JAIL/tmp/sim.out")
        [ -n "$pty" ] && break
        sleep 0.1
    done
    echo "simulator on ${pty:-?}"
    [ -n "$pty" ] || return 1
    local out="$LOGS/gateway.out"
    rc=0
    in_jail "${as[@]}" "${cmd[@]}" --serial "$pty" --duration 2 >"$out" 2>&1 || rc=$?
    stop_background
    cat "$out"
    echo "exit status $rc"
    [ "$rc" -eq 0 ] && [ "$(values_read "$out")" -gt 0 ]
}

# systemd's own check of the unit, and its exposure score (for the log).
check_unit() {
    local out rc=0
    out=$(in_jail systemd-analyze verify /lib/systemd/system/marovin-host.service 2>&1) || rc=$?
    echo "$out"
    echo "exit status $rc"
    in_jail systemd-analyze security --offline=true /lib/systemd/system/marovin-host.service 2>&1 | tail -n 3
    [ "$rc" -eq 0 ] && ! grep -q 'marovin-host' <<<"$out"
}

# Waits up to 10 s for the simulator's TCP port in FILE; prints it.
sim_port() {
    local i port=""
    for i in $(seq 100); do
        port=$(sed -n 's/^marovin-sim: tcp 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$1")
        [ -n "$port" ] && break
        sleep 0.1
    done
    echo "$port"
}

# Two lines on one box: the template unit's command line for instances line1
# (JSON topics under plant/line1) and line2 (Sparkplug edge node plant/line2),
# each with its own config, tag file and simulator, both on one mosquitto
# in the chroot; both lines' values arrive, and line2's state folder keeps
# its bdSeq. systemd accepts the template's instance.
check_two_lines() {
    local as=(setpriv --reuid=marovin --regid=marovin --init-groups) unit=/lib/systemd/system/marovin-host@.service
    in_jail apt-get -y -q install --no-install-recommends mosquitto mosquitto-clients || return 1
    local broker n cmd ok=0 out
    out=$(in_jail systemd-analyze verify marovin-host@line1.service 2>&1)
    echo "systemd-analyze verify marovin-host@line1.service: ${out:-no complaint}"
    grep -q 'marovin-host@' <<<"$out" && ok=1
    broker=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    background chroot "$JAIL" "${ROOT_ENV[@]}" mosquitto -p "$broker" >"$WORK/broker.out" 2>&1
    for n in 1 2; do
        background chroot "$JAIL" "${ROOT_ENV[@]}" marovin-sim --tcp 0 --set 1:1:10=432$n >"$WORK/sim$n.out" 2>&1
        printf 'level%s = 1:w16:10\n' "$n" >"$JAIL/etc/marovin/line$n.tags"
        printf 'tcp = "127.0.0.1:%s"\ntags = "/etc/marovin/line%s.tags"\nmqtt = "mqtt://127.0.0.1:%s"\n' \
            "$(sim_port "$WORK/sim$n.out")" "$n" "$broker" >"$JAIL/etc/marovin/line$n.conf"
        in_jail install -d -o marovin -g marovin "/var/lib/marovin/line$n"
    done
    echo 'mqtt-prefix = "plant/line1"' >>"$JAIL/etc/marovin/line1.conf"
    echo 'sparkplug = "plant/line2"' >>"$JAIL/etc/marovin/line2.conf"
    head -n 20 "$JAIL"/etc/marovin/line?.conf
    background chroot "$JAIL" "${ROOT_ENV[@]}" mosquitto_sub -h 127.0.0.1 -p "$broker" -v -t 'plant/#' -W 8 >"$WORK/line1.sub" 2>&1
    background chroot "$JAIL" "${ROOT_ENV[@]}" mosquitto_sub -h 127.0.0.1 -p "$broker" -F '%t %x' -t 'spBv1.0/#' -W 8 \
        >"$WORK/line2.sub" 2>&1
    sleep 0.5
    for n in 1 2; do
        cmd=$(sed -n 's/^ExecStart=//p' "$JAIL$unit" | sed "s/%i/line$n/g")
        read -r -a cmd <<<"$cmd"
        background chroot "$JAIL" "${ROOT_ENV[@]}" "${as[@]}" "${cmd[@]}" --duration 3 >"$WORK/line$n.out" 2>&1
    done
    sleep 5
    stop_background
    cat "$WORK/line1.out" "$WORK/line2.out"
    grep '^plant/line1/level1 ' "$WORK/line1.sub"
    grep '/DBIRTH/' "$WORK/line2.sub"
    grep -q '^plant/line1/level1 .*"value":4321' "$WORK/line1.sub" || { echo "line1's value missing"; ok=1; }
    # level2 in line2's DBIRTH: its name, then int_value 4322 (field 10, varint e2 21).
    grep -q '^spBv1.0/plant/DBIRTH/line2/station1 .*6c6576656c32.*50e221' "$WORK/line2.sub" ||
        { echo "line2's value missing"; ok=1; }
    [ -s "$JAIL/var/lib/marovin/line2/sparkplug-plant-line2.bdseq" ] || { echo "line2 kept no bdSeq"; ok=1; }
    # An admin's own files outlive a purge: take this check's away so the purge check sees the package's.
    rm -f "$JAIL"/etc/marovin/line?.conf "$JAIL"/etc/marovin/line?.tags
    return $ok
}

# A small program that includes <marovin/Marovin.h> and calls the driver's
# address parser: "10" in a word area is address 0x10.
write_consumer() {
    mkdir -p "$JAIL/tmp/consumer"
    cat >"$JAIL/tmp/consumer/consumer.cpp" <<'EOF'
#include <marovin/Marovin.h>

#include <cstdio>

int main()
{
    const int address = PLCAddressChangeIntef(1, QStringLiteral("10"));
    std::printf("address %d\n", address);
    return address == 0x10 ? 0 : 1;
}
EOF
    cat >"$JAIL/tmp/consumer/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.18)
project(consumer CXX)
find_package(Marovin 1 REQUIRED)
add_executable(consumer consumer.cpp)
target_link_libraries(consumer PRIVATE Marovin::Marovin)
EOF
}

check_consumer_pkgconfig() {
    write_consumer
    in_jail sh -c 'cd /tmp/consumer && set -x &&
        g++ -fPIC -Wall -Wextra -Werror consumer.cpp $(pkg-config --cflags --libs marovin) -o consumer-pc &&
        ./consumer-pc'
}

check_consumer_cmake() {
    write_consumer
    in_jail sh -c 'cd /tmp/consumer && set -x &&
        cmake -S . -B build -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" &&
        cmake --build build && ./build/consumer'
}

# A purge takes the user, the group, /etc/marovin and the files with it.
check_purge() {
    in_jail apt-get -y -q purge marovin-tools libmarovin-dev libmarovin1 || return 1
    local ok=0
    in_jail getent passwd marovin && { echo "user marovin left behind"; ok=1; }
    in_jail getent group marovin && { echo "group marovin left behind"; ok=1; }
    [ -e "$JAIL/etc/marovin" ] && { echo "/etc/marovin left behind"; ok=1; }
    [ -e "$JAIL/usr/bin/marovin-host" ] && { echo "/usr/bin/marovin-host left behind"; ok=1; }
    return $ok
}

# ---------------------------------------------------------------- lintian

# lintian on one architecture's packages: errors fail, the rest is shown.
check_lintian() {
    local arch=$1 out rc=0
    out=$(lintian --fail-on error --display-info dist/*_"$arch".deb 2>&1) || rc=$?
    grep -v 'running with root privileges' <<<"$out"
    echo "exit status $rc"
    [ "$rc" -eq 0 ] && ! grep -q '^E: ' <<<"$out"
}

# ---------------------------------------------------------------- armhf

ARM="$WORK/armhf"

# Every armhf package says armhf and holds ARM code.
check_armhf_binaries() {
    local deb ok=0 f
    for deb in dist/*_"$CROSS".deb; do
        same "$(basename "$deb") Architecture" "$(dpkg-deb -f "$deb" Architecture)" "$CROSS" || ok=1
    done
    rm -rf "$ARM"
    for deb in dist/libmarovin1_*_"$CROSS".deb dist/marovin-tools_*_"$CROSS".deb; do
        dpkg -x "$deb" "$ARM" || ok=1
    done
    for f in usr/bin/marovin-host usr/bin/marovin-sim "usr/lib/$CROSS_TRIPLET/libMarovin.so.1"; do
        file -L "$ARM/$f"
        file -L "$ARM/$f" | grep -q 'ELF 32-bit LSB .* ARM, EABI5' || ok=1
    done
    return $ok
}

# The names in a package's Depends, without versions, sorted, on one line.
depends_names() {
    dpkg-deb -f "$1" Depends | tr ',' '\n' | sed -E 's/\([^)]*\)//g; s/^ +| +$//g' | sort | paste -sd ' '
}

# dpkg-shlibdeps found the same dependencies for armhf as for the native build.
check_armhf_depends() {
    local ok=0 p native cross
    for p in libmarovin1 libmarovin-dev marovin-tools; do
        native=$(depends_names dist/"$p"_*_"$NATIVE".deb)
        cross=$(depends_names dist/"$p"_*_"$CROSS".deb)
        echo "$p ($CROSS): $(dpkg-deb -f dist/"$p"_*_"$CROSS".deb Depends)"
        same "$p dependencies" "$cross" "$native" || ok=1
    done
    return $ok
}

# Runs an unpacked armhf program under qemu-arm, with the sysroot's and the
# package's libraries.
QEMU=(qemu-arm -L "$SYSROOT"
      -E "LD_LIBRARY_PATH=$ARM/usr/lib/$CROSS_TRIPLET:$SYSROOT/lib/$CROSS_TRIPLET:$SYSROOT/usr/lib/$CROSS_TRIPLET")
qemu_run() { "${QEMU[@]}" "$@"; }

check_armhf_versions() {
    local ok=0
    same "marovin-host --version (qemu-arm)" "$(qemu_run "$ARM/usr/bin/marovin-host" --version)" "marovin-host $VERSION" || ok=1
    same "marovin-sim --version (qemu-arm)" "$(qemu_run "$ARM/usr/bin/marovin-sim" --version)" "marovin-sim $VERSION" || ok=1
    return $ok
}

# The ARM simulator on a TCP port, the ARM host with the ARM library reading
# it, both under qemu-arm: the demo values arrive.
check_armhf_exchange() {
    local out="$LOGS/armhf-exchange.out" port="" rc=0 i
    background "${QEMU[@]}" "$ARM/usr/bin/marovin-sim" --demo --tcp 0 >"$WORK/armhf-sim.out" 2>&1
    for i in $(seq 100); do
        port=$(sed -n 's/^marovin-sim: tcp 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$WORK/armhf-sim.out")
        [ -n "$port" ] && break
        sleep 0.1
    done
    echo "simulator on port ${port:-?}"
    [ -n "$port" ] || { cat "$WORK/armhf-sim.out"; return 1; }
    qemu_run "$ARM/usr/bin/marovin-host" --tcp "127.0.0.1:$port" --duration 2 --quiet \
        -v 1:w16:11 -v 1:d32:20 -v 1:d32b:40 --dump "$WORK/armhf-dump.txt" >"$out" 2>&1 || rc=$?
    stop_background
    cat "$out" "$WORK/armhf-dump.txt"
    echo "exit status $rc"
    [ "$rc" -eq 0 ] && [ "$(values_read "$out")" -gt 0 ] &&
        [ "$(grep -v "^#" "$WORK/armhf-dump.txt")" = "$(printf '1:1:11=1234\n1:2:20=123456\n1:4:40=305419896')" ]
}

# ---------------------------------------------------------------- run

start=$SECONDS
bash scripts/install-deps.sh debootstrap lintian file qemu-user >/dev/null || exit 1
have_native=0 have_cross=0
compgen -G "dist/*_$NATIVE.deb" >/dev/null && have_native=1
compgen -G "dist/*_$CROSS.deb" >/dev/null && have_cross=1
[ $((have_native + have_cross)) -gt 0 ] || { echo "no packages in dist/: run scripts/package.sh"; exit 1; }

if [ "$have_native" -eq 1 ]; then
    check "lintian-$NATIVE" check_lintian "$NATIVE"
fi
if [ "$have_cross" -eq 1 ]; then
    check "lintian-$CROSS" check_lintian "$CROSS"
    check armhf-binaries check_armhf_binaries
    [ "$have_native" -eq 1 ] && check armhf-depends check_armhf_depends
    check armhf-versions check_armhf_versions
    check armhf-exchange check_armhf_exchange
fi
if [ "$have_native" -eq 1 ]; then
    check base-system make_base
    if [ -f "$BASE/.complete" ]; then
        check chroot make_jail
        check install install_packages
        if in_jail dpkg-query -W marovin-tools >/dev/null 2>&1; then
            check versions check_versions
            check man-pages check_man_pages
            check host-demo check_host_demo
            check user check_user
            check conffiles check_conffiles
            check gateway-config check_gateway_config
            check unit check_unit
            check two-lines check_two_lines
            check consumer-pkgconfig check_consumer_pkgconfig
            check consumer-cmake check_consumer_cmake
            check purge check_purge
        fi
        unmount_all
        if mountpoint -q "$JAIL"; then
            echo "still mounted: $JAIL"
        elif [ -d "$UPPER/var/cache/apt/archives" ]; then
            JAIL=$UPPER keep_downloads
        else
            keep_downloads
        fi
    fi
fi

echo
echo "package checks: $((SECONDS - start)) s"
echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
