#!/usr/bin/env bash
# Builds the Debian packages libmarovin1, libmarovin-dev and marovin-tools
# into dist/ (their debug symbols into dist/dbgsym/), for the build machine's
# architecture and, cross-compiled, for armhf.
#
#   bash scripts/package.sh              both
#   bash scripts/package.sh armhf        only that one
#
# dpkg-buildpackage runs on a copy of the source in build/pkg/<arch>/ (it
# writes beside the source folder and into debian/; the worktree stays
# clean). The armhf build uses the armhf test leg's sysroot,
# build/ci-armhf/sysroot from scripts/armhf-sysroot.sh, and the control files
# kept there, so that dpkg-shlibdeps gives the armhf packages their
# dependencies as it does for native ones. Checks: scripts/check-packages.sh.
# Environment: MAROVIN_JOBS (default 2).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

NATIVE=$(dpkg --print-architecture)
CROSS=armhf
JOBS=${MAROVIN_JOBS:-2}
SYSROOT="$ROOT/build/ci-armhf/sysroot"

usage() {
    echo "usage: $0 [$NATIVE] [$CROSS]" >&2
    exit 2
}

ARCHES=("$@")
[ "${#ARCHES[@]}" -eq 0 ] && ARCHES=("$NATIVE" "$CROSS")
for arch in "${ARCHES[@]}"; do
    case "$arch" in "$NATIVE"|"$CROSS") ;; *) usage ;; esac
done

note() { printf 'package: %s\n' "$*"; }

# One version number: the project's, which debian/changelog must carry too.
VERSION=$(sed -nE 's/^project\(Marovin VERSION ([0-9][0-9.]*).*/\1/p' CMakeLists.txt)
DEB_VERSION=$(dpkg-parsechangelog -l debian/changelog -S Version)
if [ -z "$VERSION" ] || [ "$DEB_VERSION" != "$VERSION" ]; then
    echo "package: debian/changelog is at $DEB_VERSION, CMakeLists.txt at ${VERSION:-?}:" \
         "add an entry (dch -v $VERSION) or fix the version" >&2
    exit 1
fi

# Installs the packaging tools, the cross tools and the native build
# dependencies that debian/control names.
install_tools() {
    local pkgs=(build-essential dpkg-dev debhelper fakeroot lintian file)
    case " ${ARCHES[*]} " in *" $CROSS "*) pkgs+=(g++-arm-linux-gnueabihf qemu-user) ;; esac
    bash scripts/install-deps.sh "${pkgs[@]}"
    local unmet
    unmet=$(dpkg-checkbuilddeps 2>&1 | sed -n 's/.*Unmet build dependencies: //p' \
        | sed -E 's/\([^)]*\)//g; s/\|[^ ]*( |$)/ /g; s/:[a-z]+//g') || true
    if [ -n "${unmet// /}" ]; then
        # shellcheck disable=SC2086 # a list of package names
        bash scripts/install-deps.sh $unmet
    fi
}

# Copies the files git knows (committed or not, ignored ones left out) to $1.
stage_source() {
    local dest=$1
    rm -rf "$dest"
    mkdir -p "$dest"
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git ls-files -z --cached --others --exclude-standard \
            | tar --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -xf - -C "$dest"
    else
        tar --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -xf - -C "$dest"
    fi
}

# For dpkg-shlibdeps -S: the sysroot's library folders beside one DEBIAN
# folder with the symbols and shlibs files of every package unpacked there.
make_shlibs_root() {
    local out=$1 kind
    rm -rf "$out"
    mkdir -p "$out/DEBIAN"
    ln -s "$SYSROOT/lib" "$out/lib"
    ln -s "$SYSROOT/usr" "$out/usr"
    for kind in symbols shlibs; do
        find "$SYSROOT/.control" -mindepth 2 -maxdepth 2 -name "$kind" -print0 \
            | sort -z | xargs -0 -r awk 1 >"$out/DEBIAN/$kind"
    done
}

# Builds one architecture's packages and copies them into dist/.
build_arch() {
    local arch=$1 dir="$ROOT/build/pkg/$1"
    local src="$dir/marovin-$VERSION" start=$SECONDS
    local envs=(DEB_BUILD_OPTIONS="parallel=$JOBS nocheck") args=(-b -us -uc)
    rm -rf "$dir"
    mkdir -p "$dir"
    stage_source "$src"
    if [ "$arch" != "$NATIVE" ]; then
        note "[$arch] sysroot (log: $dir/sysroot.log)"
        if ! bash scripts/armhf-sysroot.sh "$SYSROOT" >"$dir/sysroot.log" 2>&1; then
            tail -n 30 "$dir/sysroot.log"
            return 1
        fi
        make_shlibs_root "$ROOT/build/pkg/$arch-shlibs"
        envs+=(MAROVIN_SYSROOT="$SYSROOT" MAROVIN_SHLIBS_ROOT="$ROOT/build/pkg/$arch-shlibs")
        # -d: the build dependencies are in the sysroot, not installed.
        args+=(--host-arch "$arch" -d)
    fi
    note "[$arch] dpkg-buildpackage ${args[*]} (log: $dir/build.log)"
    if ! (cd "$src" && env "${envs[@]}" dpkg-buildpackage "${args[@]}") >"$dir/build.log" 2>&1; then
        grep -E -B2 -A8 '(error|Error|warning: .*not found)' "$dir/build.log" | head -n 60
        tail -n 30 "$dir/build.log"
        return 1
    fi
    mkdir -p dist/dbgsym
    rm -f dist/*_"$arch".deb dist/dbgsym/*_"$arch".deb
    cp "$dir"/*-dbgsym_*_"$arch".deb dist/dbgsym/
    rm "$dir"/*-dbgsym_*_"$arch".deb
    cp "$dir"/*_"$arch".deb dist/
    note "[$arch] done in $((SECONDS - start)) s"
}

install_tools
for arch in "${ARCHES[@]}"; do
    build_arch "$arch"
done
ls -l dist/ dist/dbgsym/
