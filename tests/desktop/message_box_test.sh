#!/usr/bin/env bash
# Message boxes under Xvfb, as a person sees them: the launcher shows a box,
# a screenshot is kept, Return dismisses it, and the launcher then ends.
# Usage: message_box_test.sh LAUNCHER ARTIFACTS zenity|xmessage
#   zenity:   the boxes come from zenity (the whole PATH)
#   xmessage: only xmessage can be found (a PATH without zenity)
source "$(dirname "$0")/lib.sh"
launcher=$1
artifacts=$2
helper=$3
need_tools Xvfb xdotool import convert tesseract "$helper"
mkdir -p "$artifacts"

if [ "$helper" = xmessage ]; then
    mkdir "$scratch/bin"
    ln -s "$(command -v xmessage)" "$scratch/bin/xmessage"
    helper_path=$scratch/bin
else
    helper_path=$PATH
fi

mkdir "$scratch/settings"
: >"$scratch/not-executable" # its start is refused: a message with line feeds
printf '[denied]\ncommand=%s\n' "$scratch/not-executable" >"$scratch/settings/talvin.ini"
printf '[launch]\napp=denied\n' >"$scratch/denied.tvl"
# A downloaded file's text: markup, an ampersand, a format and a leading
# dash must all show as they are.
hostile='-n & <b>bold</b> 100%s sure'
printf '[launch]\napp=absent\nmissing=%s\n' "$hostile" >"$scratch/absent.tvl"

# comparable TEXT: blanks and line feeds taken out (the box's font decides
# where the recogniser sees them), and commas read as full stops (in
# xmessage's small font it takes a full stop for a comma).
comparable() {
    tr -d ' \n' <<<"$1" | tr , .
}

# Text recognised in a screenshot, comparable.
screen_text() {
    convert "$1" -resize 300% -colorspace Gray "$scratch/ocr.png" &&
        comparable "$(tesseract "$scratch/ocr.png" stdout --psm 6 2>/dev/null)"
}

# box_case NAME TITLE TEXT LAUNCH_PATH
box_case() {
    local name=$1 title=$2 text=$3 launch_path=$4 launcher_pid window seen status
    local shot=$artifacts/$helper-$name.png
    rm -f "$shot"
    start_group launcher_pid env PATH="$helper_path" WINDIR="$scratch/settings" \
        "$launcher" "$launch_path" 2>"$scratch/$name.err"
    window=$(timeout 20 xdotool search --sync --onlyvisible --name "^$title\$" 2>/dev/null | head -1)
    if [ -z "$window" ]; then
        fail "$name: no window titled '$title' within 20 s"
        return
    fi
    import -window "$window" "$shot" || fail "$name: no screenshot"
    seen=$(screen_text "$shot")
    echo "$name: the box reads '$seen'"
    case "$seen" in
    *"$(comparable "$text")"*) ;;
    *) fail "$name: the box does not show '$text'" ;;
    esac
    case "$seen" in
    *errorhasoccurred*) fail "$name: a generic error took the text's place" ;;
    esac
    timeout 5 xdotool windowfocus --sync "$window" || fail "$name: cannot focus the box"
    timeout 5 xdotool key Return || fail "$name: cannot press Return"
    wait_exit "$launcher_pid" 5
    status=$?
    [ "$status" -eq 0 ] || fail "$name: the launcher ended with $status (124: still running 5 s after Return)"
    [ "$(cat "$scratch/$name.err")" = "$title: $text" ] ||
        fail "$name: standard error was '$(cat "$scratch/$name.err")'"
}

start_xvfb
box_case missing-file Launcher "Unable to open launch file!" "$scratch/not there.tvl"
box_case not-installed "Product not installed!" "$hostile" "$scratch/absent.tvl"
box_case launch-failed "Launch failed" "Attempted to dynamically link to a task,
or sharing or network protection error." "$scratch/denied.tvl"
finish
