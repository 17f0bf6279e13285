# The one library of the shell suites: pass/fail counting, a scratch folder
# cleaned up with every process group a test started, waits with a limit,
# the wine prefix, a private X server, and the test product's record.
set -uo pipefail
scratch=$(mktemp -d "${TMPDIR:-/tmp}/launcher-test.XXXXXX")
started_groups=()
failures=0
cleanup() {
    local group
    for group in "${started_groups[@]}"; do kill -TERM -- "-$group" 2>/dev/null; done
    [ -z "${WINEPREFIX:-}" ] || timeout 30 wineserver -k >/dev/null 2>&1
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# The wine of the build under test: LAUNCHER_WINE names the folder of its
# commands (the 32-bit build's, see docs/building.md); empty, the system's.
if [ -n "${LAUNCHER_WINE:-}" ]; then
    [ -x "$LAUNCHER_WINE/wine" ] || { fail "no wine in $LAUNCHER_WINE: run scripts/install-deps.sh all"; exit 1; }
    PATH=$LAUNCHER_WINE:$PATH
fi
# check WHAT ACTUAL EXPECTED
check() { [ "$2" = "$3" ] || fail "$1: got [$2], expected [$3]"; }
finish() { echo "$failures failed"; [ "$failures" -eq 0 ]; exit; }
need_tools() {
    local tool
    for tool in "$@"; do command -v "$tool" >/dev/null || { fail "$tool is missing"; finish; }; done
}
# wait_until SECONDS COMMAND...: COMMAND every tenth of a second until it succeeds.
wait_until() {
    local tenths=$(($1 * 10))
    shift
    until "$@"; do
        [ "$tenths" -gt 0 ] || return 1
        sleep 0.1
        tenths=$((tenths - 1))
    done
}
# start_group VAR COMMAND...: COMMAND in the background, leading a process group.
start_group() {
    local var=$1
    shift
    setsid "$@" &
    started_groups+=("$!")
    printf -v "$var" '%s' "$!"
}

# make_wine_prefix DIR: a fresh wine prefix with no display, quiet.
make_wine_prefix() {
    export WINEPREFIX=$1 WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES='mscoree,mshtml='
    unset DISPLAY WAYLAND_DISPLAY
    rm -rf "$WINEPREFIX" && mkdir -p "$WINEPREFIX"
    timeout 180 wineboot -i </dev/null >/dev/null 2>&1 && timeout 60 wineserver -w
}

# start_xvfb: a private X server; exports DISPLAY. It never resets: a server
# that resets when its last client leaves refuses whoever connects meanwhile.
start_xvfb() {
    local xvfb
    : >"$scratch/display"
    start_group xvfb Xvfb -displayfd 3 -noreset -screen 0 800x600x24 -nolisten tcp 3>"$scratch/display" 2>/dev/null
    wait_until 10 grep -q '^[0-9]' "$scratch/display" || { fail "Xvfb did not start"; finish; }
    export DISPLAY=":$(cat "$scratch/display")"
    unset WAYLAND_DISPLAY
}

# recorded FILE TAG: the values of TAG in the test product's record, one a line.
recorded() { sed -n "s/^$2 [0-9]*://p" "$1"; }
# await_record FILE: the product runs on its own; wait until its record is there.
await_record() { wait_until 30 test -s "$1" || fail "the product was not started ($1)"; }
