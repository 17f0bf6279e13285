#!/usr/bin/env bash
# Usage: config_cases.sh TALVIN_CONFIG LAUNCHER RECORD_PRODUCT FILE.cases
# Plays talvin-config's cases (their format: docs/testing.md). With
# CONFIG_WINE_PREFIX set, TALVIN_CONFIG is the Windows program under wine.
source "$(dirname "$0")/../lib.sh"
config=$1 launcher=$2 product=$3 cases=$4
wine_prefix=${CONFIG_WINE_PREFIX:-}
played=0
# The prefix of the build's wine tests, made on first use.
[ -z "$wine_prefix" ] || "$(dirname "$0")/../support/wine_run.sh" "$wine_prefix" cmd /c exit >/dev/null 2>&1

play() {
    [ -n "$name" ] || return 0
    [ -n "$wine_prefix" ] && [ "$only" = posix ] && return 0
    local DIR F PRODUCT words status_now out err
    DIR=$(mktemp -d /tmp/tcXXXXXX)
    mkdir -p "$DIR/prod" "$DIR/etc" && { [ ! -f "$product" ] || cp "$product" "$DIR/prod/product"; }
    PRODUCT=$DIR/prod/product F=$DIR/talvin.ini
    [ -z "$wine_prefix" ] || F="Z:$F"
    if [ -n "$before_set" ]; then
        printf '%b' "$(expand "$before")" >"$DIR/talvin.ini" && chmod "$mode" "$DIR/talvin.ini"
        [ -z "$acl" ] || setfacl -m "$acl" "$DIR/talvin.ini" || fail "$cases: $name: setfacl"
    fi
    eval "words=($run)"
    (
        cd "$DIR" || exit 99
        export WINDIR=$DIR HOME=$DIR/home TALVIN_TEST_SYSTEM_FOLDER=$DIR/etc LC_ALL=C
        for assignment in "${envs[@]}"; do
            if [[ $assignment == *=* ]]; then export "${assignment?}"; else unset "$assignment"; fi
        done
        if [ -n "$wine_prefix" ]; then
            printf '%b' "$stdin" | WINEPREFIX=$wine_prefix WINEDEBUG=-all timeout 60 wine "$config" "${words[@]}"
        else
            printf '%b' "$stdin" | timeout 20 "$config" "${words[@]}"
        fi
        echo $? >"$DIR/.status"
    ) >"$DIR/.out" 2>"$DIR/.err"
    status_now=$(cat "$DIR/.status")
    out=$(cat "$DIR/.out"; echo x) err=$(cat "$DIR/.err")
    [ -z "$wine_prefix" ] || out=${out//$'\r'/} # a console program's text lines
    local where="$cases: $name"
    check "$where: status" "$status_now" "$status"
    [ "$out" = "$(printf '%b' "$(expand "$output")"; echo x)" ] || fail "$where: output [${out%x}]"
    if [ -z "$error" ]; then
        [ -z "$err" ] || fail "$where: standard error [$err]"
    elif [[ $err != *"$error"* ]]; then
        fail "$where: standard error [$err] lacks [$error]"
    fi
    [ -n "$after_set" ] || { after=$before; [ -n "$before_set" ] && after_set=1; }
    local expected
    expected=$(printf '%b' "$(expand "$after")"; echo x)
    # A file without a line end gets the system's own.
    [[ -z $wine_prefix || $before == *'\n'* ]] || expected=${expected//$'\n'/$'\r\n'}
    if [ -n "$after_set" ]; then
        cmp -s "$DIR/talvin.ini" <(printf '%s' "${expected%x}") ||
            fail "$where: file after [$(od -c "$DIR/talvin.ini" 2>&1 | head -20)]"
    elif [ -e "$DIR/talvin.ini" ]; then
        fail "$where: a file was made"
    fi
    local mode_of
    for mode_of in "${after_modes[@]}"; do
        set -- $(expand "$mode_of")
        check "$where: mode of ${2:-$F}" "$(stat -c %a "${2:-$DIR/talvin.ini}" 2>&1)" "$1"
    done
    if [ -n "$launch" ]; then
        set -- $launch
        printf '[launch]\napp=%s\n' "$1" >"$DIR/game.tvl"
        WINDIR=$DIR LAUNCHER_TEST_RECORD=$DIR/record timeout 20 "$launcher" "$DIR/game.tvl" 2>"$DIR/.launch_err"
        await_record "$DIR/record"
        check "$where: launched in" "$(recorded "$DIR/record" cwd)" "$(expand "$2")"
    fi
    rm -rf "$DIR"
    played=$((played + 1))
}

# The case's places in a value.
expand() {
    local s=$1
    s=${s//\$PRODUCT/$PRODUCT}
    s=${s//\$DIR/$DIR}
    s=${s//\$VERSION/$LAUNCHER_VERSION}
    printf '%s' "${s//\$F/$F}"
}

name=
new_case() {
    play
    name=$1 before= before_set= mode=600 acl= envs=() stdin= run= status=0 after= after_set=
    after_modes=() output= error= launch= only=
}
directive() {
    local word=${1#"${1%%[![:space:]]*}"} value
    value=${word#* }
    [ "$value" = "$word" ] && value=
    case ${word%% *} in
    case) new_case "$value" ;;
    before) before=$value before_set=1 ;;
    mode) mode=$value ;;
    acl) acl=$value ;;
    env) envs+=("$value") ;;
    stdin) stdin=$value ;;
    run) run=$value ;;
    status) status=$value ;;
    after) after=$value after_set=1 ;;
    after-mode) after_modes+=("$value") ;;
    output) output=$value ;;
    error) error=$value ;;
    launch) launch=$value ;;
    only) only=$value ;;
    *) fail "$cases: unknown directive [$1]" ;;
    esac
}
while IFS= read -r line || [ -n "$line" ]; do
    [[ $line =~ ^[[:space:]]*(#|$) ]] && continue
    while [[ $line == *" | "* ]]; do
        directive "${line%% | *}"
        line=${line#* | }
    done
    directive "$line"
done <"$cases"
play
echo "$played cases played"
finish
