#!/usr/bin/env bash
# Usage: install-deps.sh PKG [PKG...]
# Installs with apt-get only the Debian packages that are not installed yet;
# does nothing (and needs no network) when all are there.
set -euo pipefail

if [ "$#" -eq 0 ]; then
    echo "usage: $0 PKG [PKG...]" >&2
    exit 2
fi

missing=()
for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done
[ "${#missing[@]}" -eq 0 ] && exit 0

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
        SUDO=(sudo)
    else
        echo "install-deps: need root to install: ${missing[*]}" >&2
        exit 1
    fi
fi

export DEBIAN_FRONTEND=noninteractive
# Wait for a concurrent apt run instead of failing on its lock.
APT=("${SUDO[@]}" apt-get -y -q -o DPkg::Lock::Timeout=600)

echo "install-deps: installing ${missing[*]}"
# A foreign architecture's index (e.g. armhf security) may fail to download;
# the native lists are still refreshed, so go on.
log=$(mktemp)
if ! "${APT[@]}" update >"$log" 2>&1; then
    echo "install-deps: apt-get update reported errors (ignored):" >&2
    grep -E '^(E|W):' "$log" | tail -n 5 >&2 || true
fi
rm -f "$log"
"${APT[@]}" install --no-install-recommends "${missing[@]}"
