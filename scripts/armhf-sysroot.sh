#!/usr/bin/env bash
# Usage: armhf-sysroot.sh DIR
# Unpacks Debian's armhf QtCore (headers and library), the other libraries the
# tools use, and their run-time dependencies into DIR, for cross-building and for running under qemu-arm.
# The packages are unpacked with dpkg -x rather than installed, because the
# armhf index is often out of step with the native one and apt refuses them.
# Does nothing when DIR already holds the same package set.
set -euo pipefail

if [ "$#" -ne 1 ]; then
    echo "usage: $0 DIR" >&2
    exit 2
fi
mkdir -p "$1"
DIR=$(cd "$1" && pwd)

PACKAGES=(
    libqt5core5a qtbase5-dev
    libpcre2-16-0 zlib1g libzstd1 libdouble-conversion3 libicu72 libglib2.0-0
    libpcre2-8-0 libstdc++6 libgcc-s1 libc6 libffi8 libmount1 libselinux1
    libblkid1
    libmosquitto-dev libmosquitto1 libssl3
    libprotobuf-dev libprotobuf-lite32
    libcpp-httplib-dev libcpp-httplib0.11 libbrotli1
    libssl-dev zlib1g-dev libbrotli-dev
    libsqlite3-dev libsqlite3-0
    libpq-dev libpq5 libgssapi-krb5-2 libkrb5-3 libk5crypto3 libcom-err2 libkrb5support0 libkeyutils1
    libldap-2.5-0 libsasl2-2 libsasl2-modules-db libdb5.3 libgnutls30 libp11-kit0 libidn2-0 libunistring2
    libtasn1-6 libnettle8 libhogweed6 libgmp10
)
# Header-only libraries: one package for every architecture.
ALL_PACKAGES=(libcli11-dev nlohmann-json3-dev)
STAMP="$DIR/.sysroot-complete"
WANT="${PACKAGES[*]} ${ALL_PACKAGES[*]}"

if [ -f "$STAMP" ] && [ "$(cat "$STAMP")" = "$WANT" ] \
    && [ -e "$DIR/usr/include/arm-linux-gnueabihf/qt5/QtCore/QMutex" ] \
    && [ -d "$DIR/.control" ]; then
    echo "armhf sysroot: up to date in $DIR"
    exit 0
fi
rm -f "$STAMP"

SUDO=()
[ "$(id -u)" -ne 0 ] && SUDO=(sudo)
export DEBIAN_FRONTEND=noninteractive
APT_OPTS=(-q -o DPkg::Lock::Timeout=600 -o APT::Sandbox::User=root)

if ! dpkg --print-foreign-architectures | grep -qx armhf; then
    echo "armhf sysroot: adding the armhf architecture"
    "${SUDO[@]}" dpkg --add-architecture armhf
fi
if ! apt-cache show libqt5core5a:armhf >/dev/null 2>&1; then
    echo "armhf sysroot: apt-get update"
    # Part of the armhf index (security) often fails to download: not fatal,
    # the main armhf index is enough.
    "${SUDO[@]}" apt-get "${APT_OPTS[@]}" update >/dev/null 2>&1 \
        || echo "armhf sysroot: apt-get update reported errors (ignored)"
fi

DEBS="$DIR/.debs"
rm -rf "$DEBS"
mkdir -p "$DEBS"
(
    cd "$DEBS"
    apt-get "${APT_OPTS[@]}" download "${PACKAGES[@]/%/:armhf}" "${ALL_PACKAGES[@]}"
)
# Each package's control files go to .control/PACKAGE: their symbols and
# shlibs files give the dependencies of cross-built packages (package.sh).
rm -rf "$DIR/.control"
mkdir -p "$DIR/.control"
for deb in "$DEBS"/*.deb; do
    dpkg -x "$deb" "$DIR"
    dpkg -e "$deb" "$DIR/.control/$(dpkg-deb -f "$deb" Package)"
done
rm -rf "$DEBS"

printf '%s\n' "$WANT" >"$STAMP"
echo "armhf sysroot: ready in $DIR"
