#!/bin/sh
# Usage: wine_run.sh PREFIX PROGRAM.exe [ARGUMENT...]
#
# Runs a Windows test program under wine in the wine prefix PREFIX, which is
# made on first use, so a test run never touches the user's own ~/.wine. The
# program gets no display (message boxes return at once instead of waiting
# for a click), no standard input and quiet wine diagnostics.
set -eu
prefix=$1
shift

WINEPREFIX=$prefix
WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX WINEDEBUG
unset DISPLAY WAYLAND_DISPLAY

# Two tests may start at once on a fresh build; only one makes the prefix.
# The marker is written once wineboot has finished and the server has
# written the registry out.
if [ ! -f "$prefix/.made-by-tests" ]; then
    mkdir -p "$(dirname "$prefix")"
    (
        flock 9
        if [ ! -f "$prefix/.made-by-tests" ]; then
            rm -rf "$prefix"
            timeout 120 wineboot -i </dev/null >/dev/null 2>&1
            timeout 60 wineserver -w
            touch "$prefix/.made-by-tests"
        fi
    ) 9>"$prefix.lock"
fi

# A server started by wine itself ends with its last program, so every test
# would pay for starting wine's services again (about 3 s). This one stays
# 10 s after the last program ends; when one already runs, this does nothing.
# The server and wine's own services outlive this test: none of them may
# hold its output open, or ctest waits for them to end.
if wineserver -p10 </dev/null >/dev/null 2>&1; then
    wine wineboot </dev/null >/dev/null 2>&1 || true
fi

exec wine "$@" </dev/null
