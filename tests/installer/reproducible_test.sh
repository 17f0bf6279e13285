#!/usr/bin/env bash
# Rebuilding from the same sources gives the same bytes: builds launcher.exe
# and its installer for both architectures twice, in two folders whose paths
# differ (one holds a blank), at different times, and compares them.
# Usage: reproducible_test.sh SOURCE_DIR WORK_DIR
set -uo pipefail
source_dir=$1 work=$2

failures=0
rm -rf "$work"
for arch in i686 x86_64; do
    dirs=("$work/first/$arch" "$work/second build/longer/$arch")
    for dir in "${dirs[@]}"; do
        mkdir -p "$(dirname "$dir")"
        if ! { timeout 300 cmake -S "$source_dir" -B "$dir" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/toolchain-$arch-w64-mingw32.cmake" \
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
echo "reproducible: $failures failed"
[ "$failures" -eq 0 ]
