#!/usr/bin/env bash
# Rebuilding from the same sources gives the same bytes: builds launcher.exe
# and its installer for both architectures, and the Debian package, twice,
# at different times, from two copies of the sources into two build folders
# whose paths differ (one holds a blank), and compares them.
# Usage: reproducible_test.sh SOURCE_DIR WORK_DIR
set -uo pipefail
source_dir=$1 work=$2

failures=0
rm -rf "$work"
# The second copy of the sources: the files git knows of, or every file
# outside the build folders when this is no git checkout.
copy="$work/second copy/src"
mkdir -p "$copy"
if git -C "$source_dir" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    (cd "$source_dir" && git ls-files -z -co --exclude-standard | tar -c --null -T - -f -) |
        tar -x -C "$copy" -f -
else
    (cd "$source_dir" && tar -c --exclude='./build*' -f - .) | tar -x -C "$copy" -f -
fi

for arch in i686 x86_64; do
    dirs=("$work/first/$arch" "$work/second build/longer/$arch")
    sources=("$source_dir" "$copy")
    for i in 0 1; do
        dir=${dirs[$i]} src=${sources[$i]}
        mkdir -p "$(dirname "$dir")"
        if ! { timeout 300 cmake -S "$src" -B "$dir" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchain-$arch-w64-mingw32.cmake" \
            -DCMAKE_BUILD_TYPE=MinSizeRel -DLAUNCHER_TESTS=OFF >"$dir.log" 2>&1 &&
            timeout 300 cmake --build "$dir" --target installer -j 2 >>"$dir.log" 2>&1; }; then
            echo "FAIL - build in $dir"
            tail -20 "$dir.log"
            failures=$((failures + 1))
            continue 2
        fi
    done
    for file in launcher.exe talvin-launcher-setup-*.exe; do
        # The installer's name is the same in both folders; find it in the first.
        name=$(cd "${dirs[0]}" && ls $file | head -1)
        if [ -n "$name" ] && cmp "${dirs[0]}/$name" "${dirs[1]}/$name"; then
            echo "ok - $arch $name is byte-identical ($(stat -c %s "${dirs[0]}/$name") bytes)"
        else
            echo "FAIL - $arch ${name:-$file} differs between the two builds"
            failures=$((failures + 1))
        fi
    done
done
# The Debian package, where the tools to build one are here: file times come
# from SOURCE_DATE_EPOCH, as a packager sets it.
if command -v dpkg-deb >/dev/null && command -v dpkg-shlibdeps >/dev/null; then
    export SOURCE_DATE_EPOCH=1700000000
    dirs=("$work/first/deb" "$work/second build/longer/deb")
    sources=("$source_dir" "$copy")
    for i in 0 1; do
        dir=${dirs[$i]} src=${sources[$i]}
        mkdir -p "$(dirname "$dir")"
        if ! { timeout 300 cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DLAUNCHER_TESTS=OFF >"$dir.log" 2>&1 &&
            timeout 300 cmake --build "$dir" -j 2 >>"$dir.log" 2>&1 &&
            (cd "$dir" && timeout 300 cpack -G DEB >>"$dir.log" 2>&1); }; then
            echo "FAIL - package build in $dir"
            tail -20 "$dir.log"
            failures=$((failures + 1))
        fi
    done
    name=$(cd "${dirs[0]}" && ls ./*.deb 2>/dev/null | head -1)
    if [ -n "$name" ] && cmp "${dirs[0]}/$name" "${dirs[1]}/$name"; then
        echo "ok - ${name#./} is byte-identical ($(stat -c %s "${dirs[0]}/$name") bytes)"
    else
        echo "FAIL - the Debian package differs between the two builds"
        failures=$((failures + 1))
    fi
fi
echo "reproducible: $failures failed"
[ "$failures" -eq 0 ]
