# Shared by the desktop tests: a scratch folder, a private X server, waits
# with a time limit, and a cleanup that ends every process a test started,
# also when the test fails half-way.
set -uo pipefail

scratch=$(mktemp -d "${TMPDIR:-/tmp}/launcher-desktop.XXXXXX")
started_groups=() # process groups of launchers (with their boxes) and servers

cleanup() {
    local group
    for group in "${started_groups[@]}"; do kill -TERM -- "-$group" 2>/dev/null; done
    for group in "${started_groups[@]}"; do wait "$group" 2>/dev/null; done
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed" >&2
        exit 1
    fi
    echo "all checks passed"
}

need_tools() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/install-deps.sh all)" >&2; exit 1; }
    done
}

# start_group VAR COMMAND...: runs COMMAND in the background as the leader of
# a process group of its own, so that cleanup also ends what it started.
start_group() {
    local var=$1
    shift
    setsid "$@" &
    started_groups+=("$!")
    printf -v "$var" '%s' "$!"
}

# wait_until SECONDS COMMAND...: runs COMMAND every tenth of a second until
# it succeeds; fails when SECONDS have passed first.
wait_until() {
    local tenths=$(($1 * 10))
    shift
    until "$@"; do
        [ "$tenths" -gt 0 ] || return 1
        sleep 0.1
        tenths=$((tenths - 1))
    done
}

has_ended() { ! kill -0 "$1" 2>/dev/null; }

# wait_exit PID SECONDS: the exit status of PID, or 124 when it is still
# running after SECONDS.
wait_exit() {
    wait_until "$2" has_ended "$1" || return 124
    wait "$1"
}

# start_xvfb: a private X server on a display number it picks itself (other
# X servers may run on this machine); exports DISPLAY and drops the
# caller's Wayland session, so that every box opens on this server.
start_xvfb() {
    local number_file=$scratch/display-number xvfb
    : >"$number_file"
    start_group xvfb Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$number_file" \
        2>"$scratch/xvfb.log"
    wait_until 10 grep -q '^[0-9][0-9]*$' "$number_file" ||
        { echo "FAIL: Xvfb did not start" >&2; cat "$scratch/xvfb.log" >&2; exit 1; }
    export DISPLAY=":$(cat "$number_file")"
    unset WAYLAND_DISPLAY
}
