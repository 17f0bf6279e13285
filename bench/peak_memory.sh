#!/bin/sh
# Usage: bench/peak_memory.sh [BUILD_DIR]
# Peak resident size of the whole launcher process, for a settings file of
# 10 MB and one of 100 MB (generated realistic content, with the product's
# section at the end): the reader must not grow with the file.
set -eu
build=${1:-build}
work=$(mktemp -d "${TMPDIR:-/tmp}/launcher-peak-XXXXXX")
trap 'rm -rf "$work"' EXIT
printf '[launch]\r\napp=bench\r\nmessages=0\r\n' >"$work/game.tvl"
for mb in 10 100; do
    mkdir -p "$work/$mb"
    "$build/bench/make_settings_file" realistic "$mb" "$work/$mb/talvin.ini"
    printf '[bench]\r\npath=%s\r\ncommand=/bin/true\r\n' "$work" >>"$work/$mb/talvin.ini"
    cp "$work/game.tvl" "$work/launch.tvl"
    kb=$(WINDIR="$work/$mb" /usr/bin/time -f %M "$build/launcher" "$work/launch.tvl" 2>&1)
    grep -q "^password=" "$work/launch.tvl" || { echo "launch did not complete: $kb"; exit 1; }
    echo "settings file $mb MB: maximum resident size $kb KB"
done
