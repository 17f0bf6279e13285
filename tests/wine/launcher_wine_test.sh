#!/usr/bin/env bash
# Usage: launcher_wine_test.sh PREFIX LAUNCHER.exe RECORD_PRODUCT.exe CASE
#
# End-to-end tests of the real Windows launcher under wine. CASE "setup" makes
# a fresh wine prefix PREFIX and starts its wine server; "cleanup" stops it;
# every other CASE runs the launcher in that prefix as a browser would and
# checks what it did:
#   - its exit code (always 0);
#   - the Windows calls it made, from wine's relay trace of a few functions
#     (message boxes, the start of the product, the host window);
#   - what the started product saw (record_product.exe, installed as
#     C:\client\record_product.exe, records its command line, directory,
#     "=C:" entry and the launch file's content to C:\records\record.txt);
#   - the launch file's bytes on disk afterwards.
# The launcher does not wait for the product, so the record is polled for,
# with a time limit. Without a display, wine's message boxes return at once.
set -uo pipefail

prefix=$1
launcher=$2
product=$3
case_name=$4

drive=$prefix/drive_c
record=$drive/records/record.txt
work=$prefix.case
log=$prefix.log
WINEPREFIX=$prefix
WINEDEBUG=-all
LAUNCHER_TEST_RECORD='C:\records\record.txt'
export WINEPREFIX WINEDEBUG LAUNCHER_TEST_RECORD
unset DISPLAY WAYLAND_DISPLAY

CR=$'\r'
# The calls the relay trace shows, by their names in wine's DLLs.
RELAY_INCLUDE="user32.LoadIconA;user32.LoadCursorA;user32.CreateWindowExA;user32.MessageBoxA"
RELAY_INCLUDE+=";user32.PostQuitMessage;kernel32.WinExec;kernel32.SetEnvironmentVariableA"
RELAY_INCLUDE+=";kernel32.GetWindowsDirectoryA;kernel32.GetShortPathNameA"

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# expect_equal WHAT EXPECTED ACTUAL
expect_equal() {
    if [ "$2" != "$3" ]; then
        fail "$1"
        echo "  expected: $(printf '%q' "$2")"
        echo "  actual:   $(printf '%q' "$3")"
    fi
}

setup_prefix() {
    # A server left by an interrupted run would keep the old prefix open.
    [ -d "$prefix" ] && timeout 30 wineserver -k >/dev/null 2>&1
    rm -rf "$prefix" "$work"
    mkdir -p "$(dirname "$prefix")"
    {
        timeout 120 wineboot -i &&
            timeout 30 wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
                /d "$RELAY_INCLUDE" /f &&
            timeout 60 wineserver -w
    } </dev/null >"$log" 2>&1 || {
        cat "$log"
        echo "FAIL: could not make the wine prefix"
        exit 1
    }
    # One server for the whole run, ending 30 s after its last program (or at
    # cleanup); wine's own services start now, away from any test's output.
    wineserver -p30 </dev/null >>"$log" 2>&1
    timeout 60 wine wineboot </dev/null >>"$log" 2>&1
    echo "wine prefix ready: $prefix"
}

# Empties the prefix's drive C of what a case may have left, installs the
# launcher where an installer would put it and the product in C:\client, and
# removes the settings file.
installed_launcher='C:\Program Files\Talvin Launcher\launcher.exe'
reset_drive() {
    rm -rf "$drive/client" "$drive/temp" "$drive/Launch Files" "$drive/records" "$work" \
        "$drive/Program Files/Talvin Launcher"
    rm -f "$drive/windows/talvin.ini"
    mkdir -p "$drive/client" "$drive/temp" "$drive/records" "$work" \
        "$drive/Program Files/Talvin Launcher"
    cp "$product" "$drive/client/record_product.exe"
    cp "$launcher" "$drive/Program Files/Talvin Launcher/launcher.exe"
}

# write_file PATH LINE... : writes the lines with CR LF line ends.
write_file() {
    local path=$1
    shift
    mkdir -p "$(dirname "$path")"
    printf '%s\r\n' "$@" >"$path"
}

# The usual settings: the product in c:\client, and the user's identity.
write_settings() {
    write_file "$drive/windows/talvin.ini" \
        '[client]' 'path=c:\client' 'command=c:\client\record_product.exe' "$@" \
        '[identification]' 'user=alice' 'password=s3cret' 'email=alice@example.org'
}

# run_launcher [ARGUMENT...]: runs the installed launcher from C:\temp and
# leaves its exit code in $status and the calls it made, one per line without
# the addresses, in $calls. Its command line is then the program's name in
# double quotes (it holds blanks), a blank, and the argument, quoted by wine
# when it holds blanks, as a browser would quote it.
run_launcher() {
    (cd "$drive/temp" && WINEDEBUG=-all,+relay,+class timeout 60 wine "$installed_launcher" "$@") \
        </dev/null >"$work/stdout" 2>"$work/trace"
    status=$?
    # Only the launcher's own thread: the product runs with the same tracing.
    local thread
    thread=$(grep -a -m1 -E '^[0-9a-f]+:Call user32\.LoadIconA\(' "$work/trace" | cut -d: -f1)
    calls=$(grep -a -E "^${thread:-none}:(Call \w+\.\w+\(|Ret  KERNEL32\.WinExec|trace:class:.*->L\"DLG:MAIN)" \
        "$work/trace" | sed -E 's/^[0-9a-f]+:(Call |Ret  )?//; s/ ret=[0-9a-f]+$//;
                                  s/[0-9a-f]{6,} (L?")/\1/g')
}

# The calls of one kind, e.g. `calls_of MessageBoxA`.
calls_of() {
    grep -E "\.$1\(" <<<"$calls"
}

expect_exit_zero() {
    expect_equal "exit code" 0 "$status"
}

# Waits up to 20 s for the product's record, then loads it into $recorded.
wait_for_record() {
    local tries=0
    while [ ! -f "$record" ] && [ $tries -lt 400 ]; do
        sleep 0.05
        tries=$((tries + 1))
    done
    if [ ! -f "$record" ]; then
        fail "the product was not started (no record after 20 s)"
        recorded=""
        return 1
    fi
    recorded=$(cat "$record")
}

# The values of the record items with TAG, one a line, and the first one.
# (Values here hold no line feed but the launch file's content.)
record_items() {
    sed -n "s/^$1 [0-9]*://p" <<<"$recorded"
}

record_item() {
    record_items "$1" | head -1
}

# The launch file as the product found it, byte for byte: the item's length
# says where it ends.
record_content() {
    local found offset tag length
    found=$(grep -a -b -o -m1 '^content [0-9]*:' "$record") || return
    offset=${found%%:*}
    tag=${found#*:}
    length=${tag#content }
    length=${length%:}
    tail -c +$((offset + ${#tag} + 1)) "$record" | head -c "$length"
}

# expect_same_bytes WHAT EXPECTED_FILE ACTUAL_FILE
expect_same_bytes() {
    if ! cmp -s "$2" "$3"; then
        fail "$1"
        echo "  expected: $(od -c "$2" | head -20)"
        echo "  actual:   $(od -c "$3" | head -20)"
    fi
}

expect_nothing_started() {
    expect_equal "start calls" "" "$(calls_of WinExec)"
    [ -e "$record" ] && fail "a program was started: $(cat "$record")"
}

# expect_one_box TEXT CAPTION (as the relay trace writes them), with an OK
# button. The owner is not compared: without a display wine cannot make the
# host window, so it is always null here.
expect_one_box() {
    expect_equal "message boxes" "\"$1\",\"$2\",00000000)" \
        "$(calls_of MessageBoxA | sed 's/^[^,]*,//')"
}

expect_no_box() {
    expect_equal "message boxes" "" "$(calls_of MessageBoxA)"
}

# expect_started COMMAND_LINE: the launcher started exactly COMMAND_LINE,
# the start succeeded, and the product saw the same command line.
expect_started() {
    local escaped=${1//\\/\\\\}
    escaped=${escaped//\"/\\\"}
    expect_equal "start calls" \
        "KERNEL32.WinExec(\"$escaped\",00000001)"$'\n'"KERNEL32.WinExec() retval=00000021" \
        "$(grep -E 'WinExec' <<<"$calls")"
    wait_for_record || return
    expect_equal "product's command line" "$1" "$(record_item cmdline)"
}

# --- cases -----------------------------------------------------------------

# No argument: the host window is set up, one box, no start, exit 0.
case_no_argument() {
    write_settings
    run_launcher
    expect_exit_zero
    expect_nothing_started
    expect_equal "icon and cursor" \
        "user32.LoadIconA(00000000,00007f02)"$'\n'"user32.LoadCursorA(00000000,00007f03)" \
        "$(grep -E 'Load(Icon|Cursor)A' <<<"$calls")"
    local class window
    class=$(grep -E '^trace:class:.*->L"DLG:MAIN"' <<<"$calls")
    window=$(calls_of CreateWindowExA)
    [[ $class =~ bg=0x6\ style=00000000\ clsExt=0\ winExt=0 ]] ||
        fail "class DLG:MAIN not registered as expected: $class"
    # CreateWindowExA's 32-bit arguments, without what the 64-bit registers
    # hold above them.
    local args=() field instance
    window=${window#*(}
    IFS=, read -r -a args <<<"${window%)}"
    for field in 0 3 4 5 6 7 8 9 11; do
        args[field]=${args[field]: -8}
    done
    instance=${args[10]}
    expect_equal "host window" \
        '00000000 "DLG:MAIN" "Launcher" 00cf0000 80000000 00000000 80000000 00000000 00000000 00000000 00000000' \
        "${args[*]:0:10} ${args[11]}"
    [[ $class == *"hinst=0x$instance "* ]] || fail "class and window of other instances: $class / $window"
    expect_equal "windows directory query" "KERNEL32.GetWindowsDirectoryA(000000f0)" \
        "$(calls_of GetWindowsDirectoryA | sed -E 's/\([0-9a-f]+,/(/')"
    expect_one_box "Unable to open launch file!" "Launcher"
    expect_equal "last call" "user32.PostQuitMessage(00000000)" "$(tail -1 <<<"$calls")"
}

# A long path with blanks: the browser quotes it, the product gets its short
# form, uppercased, in double quotes, and finds the identification block
# already in the file.
case_long_path() {
    write_settings
    local launch_file="$drive/Launch Files/Game Night.tvl"
    write_file "$launch_file" '[launch]' 'app=client' 'messages=0' 'missing=Install the client.'
    cp "$launch_file" "$work/expected"
    printf '%s\r\n' '[identification]' 'user=alice' 'password=s3cret' \
        'email=alice@example.org' >>"$work/expected"
    run_launcher 'C:\Launch Files\Game Night.tvl'
    expect_exit_zero
    expect_no_box
    local short
    short=$(calls_of GetShortPathNameA)
    expect_equal "short path query" \
        'KERNEL32.GetShortPathNameA("C:\\Launch Files\\Game Night.tvl",00000100)' \
        "$(sed -E 's/,[0-9a-f]+,/,/' <<<"$short")"
    wait_for_record || return
    short=$(record_item arg)
    [[ $short == *"~"* && $short != *" "* && $short == "${short^^}" ]] ||
        fail "the launch path was not passed in its short form, uppercased: $short"
    expect_equal "product's command line" "C:\\CLIENT\\RECORD_PRODUCT.EXE \"$short\"" \
        "$(record_item cmdline)"
    expect_equal "the short form names the launch file" 'C:\Launch Files\Game Night.tvl' \
        "$(record_item long)"
    expect_equal "product's directory" 'c:\client' "$(record_item cwd)"
    expect_equal "product's =C: entry" 'c:\client' "$(record_item 'env=C:')"
    expect_equal "=C: set by the launcher" \
        'KERNEL32.SetEnvironmentVariableA("=C:","c:\\client")' \
        "$(calls_of SetEnvironmentVariableA)"
    expect_same_bytes "launch file on disk" "$work/expected" "$launch_file"
    record_content >"$work/seen"
    expect_same_bytes "launch file as the product found it" "$work/expected" "$work/seen"
}

# A relative launch path from C:\temp names C:\temp\game.tvl even after the
# change to c:\client; messages=0 in the product section sends the block.
case_relative_path() {
    write_settings 'messages=0'
    write_file "$drive/temp/game.tvl" '[launch]' 'app=client'
    run_launcher game.tvl
    expect_exit_zero
    expect_no_box
    expect_started 'C:\CLIENT\RECORD_PRODUCT.EXE "C:\TEMP\GAME.TVL"' || return
    expect_equal "product's directory" 'c:\client' "$(record_item cwd)"
    [ -e "$drive/client/game.tvl" ] && fail "the block went to c:\\client\\game.tvl"
    local content
    content=$(cat "$drive/temp/game.tvl")
    [[ $content == *"[identification]${CR}"$'\n'"user=alice${CR}"* ]] ||
        fail "no identification block in C:\\temp\\game.tvl: $(printf '%q' "$content")"
}

# passlaunch=0: the command alone, with its own arguments, uppercased; the
# launch file is left as it was.
case_passlaunch_off() {
    write_file "$drive/windows/talvin.ini" \
        '[client]' 'path=c:\client' 'command=c:\client\record_product.exe -name x'
    write_file "$drive/temp/game.tvl" '[launch]' 'app=client' 'passlaunch=0'
    local before
    before=$(od -c "$drive/temp/game.tvl")
    run_launcher 'C:\temp\game.tvl'
    expect_exit_zero
    expect_no_box
    expect_started 'C:\CLIENT\RECORD_PRODUCT.EXE -NAME X' || return
    expect_equal "product's arguments" "-NAME"$'\n'"X" "$(record_items arg)"
    expect_equal "launch file" "$before" "$(od -c "$drive/temp/game.tvl")"
}

case_missing_launch_file() {
    write_settings
    run_launcher 'C:\temp\absent.tvl'
    expect_exit_zero
    expect_one_box "Unable to open launch file!" "Launcher"
    expect_nothing_started
    [ -e "$drive/temp/absent.tvl" ] && fail "the missing launch file was created"
}

# talvin.ini missing: one box, and nothing is appended to the launch file.
case_missing_settings() {
    write_file "$drive/temp/game.tvl" '[launch]' 'app=client' 'messages=0'
    local before
    before=$(od -c "$drive/temp/game.tvl")
    run_launcher 'C:\temp\game.tvl'
    expect_exit_zero
    expect_one_box "Unable to open talvin.ini file!" "Launcher"
    expect_nothing_started
    expect_equal "launch file" "$before" "$(od -c "$drive/temp/game.tvl")"
}

# No command for the product: the launch file's `missing` text, no directory
# change, nothing appended.
case_product_not_installed() {
    write_file "$drive/windows/talvin.ini" '[other]' 'command=c:\client\record_product.exe' \
        '[identification]' 'user=alice'
    write_file "$drive/temp/game.tvl" '[launch]' 'app=client' 'messages=0' \
        'missing=Install the client first.'
    local before
    before=$(od -c "$drive/temp/game.tvl")
    run_launcher 'C:\temp\game.tvl'
    expect_exit_zero
    expect_one_box "Install the client first." "Product not installed!"
    expect_nothing_started
    expect_equal "environment calls" "" "$(calls_of SetEnvironmentVariableA)"
    expect_equal "launch file" "$before" "$(od -c "$drive/temp/game.tvl")"
}

# The command names a program that is not there: the start fails with 2 and
# the `missing` text is shown under "File not found!".
case_missing_program() {
    write_file "$drive/windows/talvin.ini" \
        '[client]' 'path=c:\client' 'command=c:\client\absent.exe'
    write_file "$drive/temp/game.tvl" '[launch]' 'app=client' 'missing=Install the client.'
    run_launcher 'C:\temp\game.tvl'
    expect_exit_zero
    expect_equal "start calls" \
        'KERNEL32.WinExec("C:\\CLIENT\\ABSENT.EXE \"C:\\TEMP\\GAME.TVL\"",00000001)'$'\n''KERNEL32.WinExec() retval=00000002' \
        "$(grep -E 'WinExec' <<<"$calls")"
    expect_one_box "Install the client." "File not found!"
    [ -e "$record" ] && fail "a program was started: $(cat "$record")"
}

# Device names and directories are not launch files, even when a file of
# settings could be read from them.
case_not_a_file() {
    write_settings
    write_file "$drive/temp/game.tvl" '[launch]' 'app=client'
    local name
    for name in NUL CON COM1 'C:\temp\NUL' 'C:\temp' 'C:\temp\' 'C:\'; do
        run_launcher "$name"
        echo "-- $name"
        expect_exit_zero
        expect_one_box "Unable to open launch file!" "Launcher"
        expect_nothing_started
    done
}

# talvin-check.exe ($TALVIN_CHECK) foretells a launch and a failed start,
# and changes nothing.
run_check() {
    (cd "$drive/temp" && timeout 60 wine "$TALVIN_CHECK" --json "$@") </dev/null \
        >"$work/check.json" 2>"$work/check.err"
    status=$?
    calls=""
    tr -d '\r' <"$work/check.json" >"$work/check.txt"
}

expect_json() {
    grep -qF -- "$1" "$work/check.txt" || fail "talvin-check said no $1: $(cat "$work/check.txt")"
}

case_check() {
    write_settings
    write_file "$drive/temp/game.tvl" '[launch]' 'app=client' 'messages=0'
    local before
    before=$(od -c "$drive/temp/game.tvl")
    run_check 'C:\temp\game.tvl'
    expect_equal "exit status" 0 "$status"
    expect_json '"start": {"command_line": "C:\\CLIENT\\RECORD_PRODUCT.EXE \"C:\\TEMP\\GAME.TVL\"", "directory": "c:\\client", "result": 33}'
    expect_json 'password=******\u000D\u000Aemail=alice@example.org'
    expect_json '"boxes": []'
    write_file "$drive/windows/talvin.ini" '[client]' 'command=c:\client\absent.exe'
    run_check 'C:\temp\game.tvl'
    expect_equal "exit status" 1 "$status"
    expect_json '{"caption": "File not found!", "text": "", "why": "the program C:\\CLIENT\\ABSENT.EXE does not exist"}'
    expect_nothing_started
    expect_equal "launch file" "$before" "$(od -c "$drive/temp/game.tvl")"
}

# Signed launch files, checked by CNG: a file signed by talvin-sign (built for
# this machine) and one signed by the openssl command line start the product;
# one with a byte changed after signing and an unsigned one are refused.
case_signed() {
    openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/key.pem" 2>/dev/null
    local public refused signature
    public=$("$TALVIN_SIGN" --key "$work/key.pem" --public) || fail "talvin-sign --public"
    write_settings "publickey1=$public"
    refused='This launch file for Sample does not carry a valid signature of its publisher. It was not used.'
    write_file "$drive/temp/game.tvl" '[launch]' 'app=client' 'product=Sample' 'server=play'
    cp "$drive/temp/game.tvl" "$work/unsigned.tvl"
    "$TALVIN_SIGN" --key "$work/key.pem" "$drive/temp/game.tvl" || fail "talvin-sign"
    run_launcher 'C:\temp\game.tvl'
    expect_exit_zero
    expect_no_box
    expect_started 'C:\CLIENT\RECORD_PRODUCT.EXE "C:\TEMP\GAME.TVL"'

    rm -f "$record"
    sed 's/server=play/server=evil/' "$drive/temp/game.tvl" >"$drive/temp/changed.tvl"
    run_launcher 'C:\temp\changed.tvl'
    expect_one_box "$refused" "Launch file refused"
    expect_nothing_started

    cp "$work/unsigned.tvl" "$drive/temp/unsigned.tvl"
    run_launcher 'C:\temp\unsigned.tvl'
    expect_one_box "$refused" "Launch file refused"
    expect_nothing_started

    signature=$(openssl dgst -sha256 -sign "$work/key.pem" "$work/unsigned.tvl" | base64 -w0)
    cp "$work/unsigned.tvl" "$drive/temp/openssl.tvl"
    printf '[signature]\r\necdsa=%s\r\n' "$signature" >>"$drive/temp/openssl.tvl"
    run_launcher 'C:\temp\openssl.tvl'
    expect_no_box
    expect_started 'C:\CLIENT\RECORD_PRODUCT.EXE "C:\TEMP\OPENSSL.TVL"'
}

case "$case_name" in
setup)
    setup_prefix
    exit 0
    ;;
cleanup)
    timeout 30 wineserver -k >/dev/null 2>&1
    exit 0
    ;;
esac

if [ ! -f "$drive/windows/system32/kernel32.dll" ]; then
    echo "FAIL: no wine prefix at $prefix (the setup test makes it)"
    exit 1
fi
if ! declare -F "case_$case_name" >/dev/null; then
    echo "FAIL: no case $case_name"
    exit 1
fi
reset_drive
"case_$case_name"
if [ "$failures" -gt 0 ]; then
    echo "--- calls:"
    echo "$calls"
    exit 1
fi
echo "ok: $case_name"
