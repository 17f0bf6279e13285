#!/usr/bin/env bash
# Which box the launcher shows, and with what: stand-in helpers named zenity
# and xmessage record their arguments and standard input and end with a
# chosen status, so each session and each helper outcome is checked exactly.
# Then the real helpers on a display that cannot be reached.
# Usage: box_choice_test.sh LAUNCHER
source "$(dirname "$0")/lib.sh"
launcher=$(realpath "$1")
need_tools zenity xmessage

hostile='-n & <b>bold</b> 100%s sure'
mkdir "$scratch/settings" "$scratch/both" "$scratch/xmessage-only" "$scratch/none" \
    "$scratch/downloads" "$scratch/log"
# "denied" names a product that cannot be run: its message has line feeds.
: >"$scratch/not-executable"
printf '[denied]\ncommand=%s\n' "$scratch/not-executable" >"$scratch/settings/talvin.ini"
printf '[launch]\napp=absent\nmissing=%s\n' "$hostile" >"$scratch/downloads/absent.tvl"
printf '[launch]\napp=denied\n' >"$scratch/downloads/denied.tvl"

# Stand-ins: zenity ends with $ZENITY_STATUS; arguments are kept one per
# NUL so that any byte shows.
cat >"$scratch/both/zenity" <<'SHIM'
#!/bin/sh
printf '%s\0' "$@" >"$SHIM_LOG/zenity.args"
exit "$ZENITY_STATUS"
SHIM
cat >"$scratch/both/xmessage" <<'SHIM'
#!/bin/sh
printf '%s\0' "$@" >"$SHIM_LOG/xmessage.args"
/bin/cat >"$SHIM_LOG/xmessage.input"
SHIM
chmod +x "$scratch/both/zenity" "$scratch/both/xmessage"
cp "$scratch/both/xmessage" "$scratch/xmessage-only/"
# A zenity in the download folder must never be run, even with "" in PATH.
cp "$scratch/both/zenity" "$scratch/downloads/"

# use_message LAUNCH_FILE CAPTION TEXT: the message the next cases expect.
use_message() {
    launch=$1
    caption=$2
    text=$3
    zenity_args=$(printf '%s\0' --error --no-markup "--title=$caption" "--text=$text" | od -c)
    xmessage_args=$(printf '%s\0' -title "$caption" -buttons OK -default OK -file - | od -c)
}

# check_case NAME PATH ZENITY_STATUS EXPECTED(zenity|xmessage|both|none) ENV...
check_case() {
    local name=$1 path=$2 status=$3 expected=$4 started=none start end
    shift 4
    rm -f "$scratch/log/"*
    start=$(date +%s%N)
    (cd "$scratch/downloads" && timeout 10 env -u DISPLAY -u WAYLAND_DISPLAY PATH="$path" \
        ZENITY_STATUS="$status" SHIM_LOG="$scratch/log" WINDIR="$scratch/settings" "$@" \
        "$launcher" "$launch" 2>"$scratch/stderr")
    local exit_status=$?
    end=$(date +%s%N)
    [ "$exit_status" -eq 0 ] || fail "$name: the launcher ended with $exit_status"
    [ "$(od -c "$scratch/stderr")" = "$(printf '%s: %s\n' "$caption" "$text" | od -c)" ] ||
        fail "$name: standard error was '$(cat "$scratch/stderr")'"
    if [ -e "$scratch/log/zenity.args" ]; then
        started=zenity
        [ "$(od -c "$scratch/log/zenity.args")" = "$zenity_args" ] ||
            fail "$name: zenity was given $(tr '\0' '|' <"$scratch/log/zenity.args")"
    fi
    if [ -e "$scratch/log/xmessage.args" ]; then
        [ "$started" = zenity ] && started=both || started=xmessage
        [ "$(od -c "$scratch/log/xmessage.args")" = "$xmessage_args" ] ||
            fail "$name: xmessage was given $(tr '\0' '|' <"$scratch/log/xmessage.args")"
        [ "$(cat "$scratch/log/xmessage.input")" = "$text" ] &&
            [ "$(wc -c <"$scratch/log/xmessage.input")" -eq "${#text}" ] ||
            fail "$name: xmessage read '$(cat "$scratch/log/xmessage.input")'"
    fi
    [ "$started" = "$expected" ] || fail "$name: started $started, expected $expected"
    if [ "$expected" = none ] && [ $(((end - start) / 1000000)) -gt 1000 ]; then
        fail "$name: took $(((end - start) / 1000000)) ms with no box to show"
    fi
}

both=$scratch/both
use_message absent.tvl 'Product not installed!' "$hostile"
#          name                          PATH                      status  started   session
check_case "no display"                  "$both"                   0       none
check_case "empty DISPLAY"               "$both"                   0       none      DISPLAY= WAYLAND_DISPLAY=
check_case "zenity OK"                   "$both"                   0       zenity    WAYLAND_DISPLAY=wayland-0
check_case "zenity closed"               "$both"                   1       zenity    DISPLAY=:0
check_case "zenity timed out"            "$both"                   5       zenity    DISPLAY=:0
check_case "zenity failed"               "$both"                   255     both      DISPLAY=:0
check_case "zenity failed, Wayland"      "$both"                   255     both      WAYLAND_DISPLAY=w
check_case "no zenity"                   "$scratch/xmessage-only"  0       xmessage  DISPLAY=:0
check_case "neither helper"              "$scratch/none"           0       none      DISPLAY=:0
check_case "zenity in the download dir"  ":$scratch/none:."        0       none      DISPLAY=:0
use_message denied.tvl 'Launch failed' "Attempted to dynamically link to a task,
or sharing or network protection error."
check_case "line feeds, zenity"          "$both"                   0       zenity    DISPLAY=:0
check_case "line feeds, xmessage"        "$scratch/xmessage-only"  0       xmessage  DISPLAY=:0

# The real helpers on a display nobody serves: both fail at once, and the
# launcher still ends with the standard error line alone.
use_message absent.tvl 'Product not installed!' "$hostile"
number=100
while [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ]; do number=$((number + 1)); done
start=$(date +%s)
(cd "$scratch/downloads" && timeout 20 env -u WAYLAND_DISPLAY DISPLAY=":$number" \
    WINDIR="$scratch/settings" "$launcher" absent.tvl 2>"$scratch/stderr")
status=$?
[ "$status" -eq 0 ] || fail "unreachable display: the launcher ended with $status (124: hung)"
[ $(($(date +%s) - start)) -le 5 ] || fail "unreachable display: took over 5 s"
[ "$(cat "$scratch/stderr")" = "$caption: $text" ] ||
    fail "unreachable display: standard error was '$(cat "$scratch/stderr")'"
finish
