#!/usr/bin/env bash
# Usage: tool_faults.sh SHIM TALVIN_CONFIG TALVIN_SIGN TALVIN_CHECK
#        tool_faults.sh - TALVIN_CONFIG_TWIN (under wine, in $CONFIG_WINE_PREFIX)
# Each play below, clean and then once for each call that can fail, failing
# in each way it can (fault_shim.c; docs/testing.md, "Faults"): no crash or
# sanitizer report; 0 and the file as the clean play left it, or 1 (2:
# talvin-config's refusal) with the file as it was and a word on standard
# error; no scratch file left; a short or interrupted read or write changes
# nothing.
source "$(dirname "$0")/../lib.sh"
shim=$1 config=$2 sign=${3:-} check=${4:-} dir=$scratch/w plays=0 place=$scratch/w win=
under() { LD_PRELOAD=$shim "$@"; }
if [ "$shim" = - ]; then # the test twin fails its own calls (platform/win32/test_faults.cpp)
    "$(dirname "$0")/../support/wine_run.sh" "$CONFIG_WINE_PREFIX" cmd /c exit >/dev/null 2>&1
    export WINEPREFIX=$CONFIG_WINE_PREFIX WINEDEBUG=-all win=Z: place=Z:$dir
    under() { timeout 120 wine "$@"; }
fi
export ASAN_OPTIONS=verify_asan_link_order=0:${ASAN_OPTIONS:-}
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$scratch/key.pem" 2>/dev/null
chmod 600 "$scratch/key.pem" && mkdir "$dir"
ini=$'; kept\n[a]\ncommand=/a\n[identification]\nuser=u\npassword=p\n'
# run BEFORE COMMAND...: the command on a fresh file $dir/f holding BEFORE
# ("-": none), its password on standard input; its status in $status.
run() {
    rm -rf "$dir" && mkdir "$dir" && { [ "$1" = - ] || printf '%s' "$1" >"$dir/f"; } && shift
    under "$@" <<<"Pw-9" >"$scratch/out" 2>"$scratch/err"
    status=$?
}
# A signature differs each time: the file is the clean one's but for its
# value, whole, and a link printed is the file's.
signed() {
    local value='^ecdsa=[A-Za-z0-9+/=]{92,96}'$'\r$' link
    cmp -s <(sed 's/^ecdsa=.*//' "$dir/f") <(sed 's/^ecdsa=.*//' "$scratch/clean/f") &&
        [ "$(grep -cE "$value" "$dir/f")" = 1 ] && link=$(base64 -w0 "$dir/f" | tr '+/' '-_') &&
        { [ ! -s "$scratch/out" ] || [ "$(cat "$scratch/out")" = "talvin:${link%%=*}" ]; }
}
declare -A reasons=([i]="Input/output error" [s]="No space left on device" [f]="File too large"
    [a]="Permission denied" [m]="Cannot allocate memory")
# play NAME BEFORE COMMAND...
play() {
    local name=$1 before=$2 kind at call
    shift 2
    FAULT_LOG=$win$scratch/log run "$before" "$@"
    check "$name: clean" "$status" 0
    cp -r "$dir" "$scratch/clean" && cp "$scratch/out" "$scratch/clean.out" && mv "$scratch/log" "$scratch/calls"
    for kind in i s f t a v m r w; do
        for at in $(seq "$(cut -d' ' -f2 "$scratch/calls" | grep -c "$kind")"); do
            FAULT_KIND=$kind FAULT_AT=$at FAULT_LOG=$win$scratch/log run "$before" "$@"
            plays=$((plays + 1)) call=$(grep -o '!.*' "$scratch/log") && rm "$scratch/log"
            local what="$name: fault $kind at ${call#!}: status $status"
            grep -q 'Sanitizer\|runtime error' "$scratch/err" && fail "$what: a sanitizer report"
            if [ "$status" = 0 ]; then
                if [[ $name == talvin-sign* ]]; then
                    signed || fail "$what: not signed whole, or another link"
                elif ! diff -r "$dir" "$scratch/clean" >/dev/null || ! cmp -s "$scratch/out" "$scratch/clean.out"; then
                    fail "$what: not the clean play's files and output"
                fi
            elif [ "$status" = 1 ] || [[ $status$name == "2talvin-config"* ]]; then
                [[ $kind$call =~ ^[rwt]!(read|write|ReadFile|WriteFile) ]] && fail "$what: a short or interrupted call failed"
                [[ $status$kind$call =~ ^2[im]!(read|fread|ReadFile|HeapAlloc) ]] && fail "$what: a failure taken for a refusal"
                [ -s "$scratch/err" ] || fail "$what: nothing said"
                # A write that fails says the system's reason, not a stale one.
                [[ ! $call =~ ^!(write|fsync|fchmod|mkostemp|rename|link|close)\  ]] ||
                    grep -qF "${reasons[$kind]:-}" "$scratch/err" || fail "$what: no reason said"
                [ "$before" = - ] && [ -z "$(ls -A "$dir")" ] || cmp -s "$dir/f" <(printf '%s' "$before") ||
                    fail "$what: changed, or scratch left: $(ls -A "$dir")"
                [ "$(ls -A "$dir")" = "$([ "$before" = - ] || echo f)" ] || fail "$what: left $(ls -A "$dir")"
            else
                fail "$what"
            fi
        done
    done
    rm -r "$scratch/clean"
}
play "talvin-config set" "$ini" "$config" --file "$place/f" set a --command /bin/true
play "talvin-config set, no file" - "$config" --file "$place/f" set a --command /bin/true
[ "$shim" = - ] && echo "$plays plays with a call failing" && finish
play "talvin-config remove" "$ini" "$config" --file "$dir/f" remove a
play "talvin-config identification" "$ini" "$config" --file "$dir/f" identification --user ann
play "talvin-config show" "$ini" "$config" --file "$dir/f" show
play "talvin-sign" $'[launch]\r\napp=a\r\n' "$sign" --key "$scratch/key.pem" "$dir/f"
play "talvin-sign --link" $'[launch]\r\napp=a' "$sign" --key "$scratch/key.pem" --link "$dir/f"
# A report to a full device is a failure, said: never 0 with the text lost.
full() {
    "$@" >/dev/full 2>"$scratch/err"
    local status=$?
    [ "$status" != 0 ] && [ -s "$scratch/err" ] || fail "$*: to a full device: status $status"
}
printf '[a]\ncommand=/bin/true\n' >"$dir/s" && printf '[launch]\napp=a\n' >"$dir/g" && chmod 600 "$dir/s"
full "$config" --file "$dir/s" show
full "$check" --settings "$dir/s" "$dir/g"
full "$check" --json --settings "$dir/s" "$dir/g"
full "$config" --version; full "$sign" --version; full "$check" --version
echo "$plays plays with a call failing"
finish
