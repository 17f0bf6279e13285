#!/usr/bin/env bash
# Usage: wine_run.sh PREFIX PROGRAM.exe [ARGUMENT...]
# Runs a Windows test program under wine in PREFIX, made on first use (never
# ~/.wine), with no display (boxes return at once) and no standard input.
prefix=$1
shift
source "$(dirname "$0")/../lib.sh"
trap - EXIT
rm -rf "$scratch"
# Two tests may start at once on a fresh build; only one makes the prefix.
if [ ! -f "$prefix/.made-by-tests" ]; then
    mkdir -p "$(dirname "$prefix")"
    (
        flock 9
        [ -f "$prefix/.made-by-tests" ] || { make_wine_prefix "$prefix" && touch "$prefix/.made-by-tests"; }
    ) 9>"$prefix.lock"
fi
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all}
unset DISPLAY WAYLAND_DISPLAY
# A server that stays 10 s after the last program, so that each test does
# not pay for starting wine's services again; none may hold the output open.
if wineserver -p10 </dev/null >/dev/null 2>&1; then
    wine wineboot </dev/null >/dev/null 2>&1 || true
fi
exec wine "$@" </dev/null
