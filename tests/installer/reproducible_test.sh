#!/usr/bin/env bash
# Rebuilds give the same bytes: launcher.exe and the installer of both
# architectures, and the Debian package, built twice from two copies of the
# sources into two folders whose paths differ (one holds a blank).
# Usage: reproducible_test.sh SOURCE_DIR WORK_DIR
source "$(dirname "$0")/../lib.sh"
source_dir=$1 work=$2
rm -rf "$work"
copy="$work/second copy/src"
mkdir -p "$copy"
(cd "$source_dir" && git ls-files -z -co --exclude-standard | tar -c --null -T - -f -) | tar -x -C "$copy" -f -
export SOURCE_DATE_EPOCH=1700000000
# build KIND SOURCES DIR: configure and build one kind (i686, x86_64 or deb).
build() {
    local options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) target=all
    [ "$1" = deb ] || options=(-DCMAKE_TOOLCHAIN_FILE="$2/cmake/toolchain-$1-w64-mingw32.cmake"
        -DCMAKE_BUILD_TYPE=MinSizeRel) target=installer
    mkdir -p "$(dirname "$3")"
    timeout 300 cmake -S "$2" -B "$3" -G Ninja "${options[@]}" -DLAUNCHER_TESTS=OFF >"$3.log" 2>&1 &&
        timeout 300 cmake --build "$3" --target $target -j 2 >>"$3.log" 2>&1 &&
        { [ "$1" != deb ] || (cd "$3" && timeout 300 cpack -G DEB >>"$3.log" 2>&1); } ||
        { tail -20 "$3.log"; fail "build $1 in $3"; }
}
for kind in i686 x86_64 deb; do
    build $kind "$source_dir" "$work/first/$kind"
    build $kind "$copy" "$work/second build/longer/$kind"
    for name in $(cd "$work/first/$kind" && ls launcher.exe talvin-launcher-setup-*.exe ./*.deb 2>/dev/null); do
        cmp "$work/first/$kind/$name" "$work/second build/longer/$kind/$name" || fail "$kind $name differs"
    done
done
finish
