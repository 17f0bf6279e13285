#!/usr/bin/env bash
# The Windows installer under wine64, in a wine prefix of its own under the
# build folder, with no display. One phase per call:
#   install    fresh prefix; silent install exits 0; every key and file in place
#   click      the registered open command, %1 replaced by a launch file whose
#              name holds blanks, starts the launcher, which starts the product
#   uninstall  the silent uninstall command from the Uninstall key; every key
#              and file is gone
#   foreign    fresh prefix; what another program or the user added beside the
#              installer's own keys and files survives an uninstall
# Usage: installer_test.sh PHASE WORK_DIR INSTALLER LAUNCHER_EXE RECORD_PRODUCT_EXE START_COMMAND_EXE
# The file type comes from the environment: LAUNCH_FILE_EXTENSION,
# LAUNCH_FILE_MIME_TYPE, LAUNCH_FILE_PROGID, LAUNCH_FILE_DESCRIPTION.
set -uo pipefail

phase=$1 work=$2 installer=$3 launcher_exe=$4 record_product=$5 start_command=$6
extension=$LAUNCH_FILE_EXTENSION mime_type=$LAUNCH_FILE_MIME_TYPE
progid=$LAUNCH_FILE_PROGID description=$LAUNCH_FILE_DESCRIPTION

classes='HKCU\Software\Classes'
mime_key="$classes\\MIME\\Database\\Content Type\\$mime_type"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\TalvinLauncher'
folder_name='Talvin Launcher'

export WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
unset DISPLAY WAYLAND_DISPLAY
case $phase in
    foreign) export WINEPREFIX=$work/prefix-foreign ;;
    *) export WINEPREFIX=$work/prefix ;;
esac
# No wine process outlives the test, whatever happened.
trap 'timeout 30 wineserver -k >/dev/null 2>&1' EXIT

failures=0
pass() { echo "ok - $1"; }
fail() {
    echo "FAIL - $1"
    failures=$((failures + 1))
}
# expect DESCRIPTION ACTUAL EXPECTED
expect() {
    if [ "$2" = "$3" ]; then pass "$1"; else fail "$1: got [$2], expected [$3]"; fi
}
finish() {
    echo "$phase: $failures failed"
    [ "$failures" -eq 0 ]
    exit
}

wine_run() { timeout 120 wine "$@"; }

# reg_key KEY: loads the key's own values into $reg_values; fails when the
# key does not exist.
reg_key() {
    reg_values=$(wine_run reg query "$1" 2>/dev/null | tr -d '\r')
}
# reg_value NAME: the data of one value of the key last loaded ("(Default)"
# for the default value).
reg_value() {
    local line prefix="    $1    "
    while IFS= read -r line; do
        if [ "${line#"$prefix"}" != "$line" ]; then
            line=${line#"$prefix"}
            echo "${line#*    }"
            return
        fi
    done <<<"$reg_values"
    echo "<no value $1>"
}
# expect_values KEY NAME DATA [NAME DATA]...
expect_values() {
    local key=$1
    shift
    if ! reg_key "$key"; then
        fail "key $key exists"
        return
    fi
    while [ $# -gt 0 ]; do
        expect "$key [$1]" "$(reg_value "$1")" "$2"
        shift 2
    done
}
expect_no_key() {
    if reg_key "$1"; then fail "key $1 is gone"; else pass "key $1 is gone"; fi
}

fresh_prefix() {
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    timeout 180 wineboot -i >/dev/null 2>&1 || { fail "wineboot"; finish; }
}

# The folder the installer installs into, as Windows and as Unix name it.
find_install_folder() {
    local local_appdata
    local_appdata=$(wine_run cmd /c 'echo %LOCALAPPDATA%' | tr -d '\r')
    programs_win="$local_appdata\\Programs"
    install_win="$programs_win\\$folder_name"
    programs_unix="$(winepath -u "$local_appdata" | tr -d '\r')/Programs"
    install_unix="$programs_unix/$folder_name"
}

install_silently() {
    wine_run "$installer" /S
    expect "silent install exit code" "$?" 0
}

# Runs the command registered for silent removal and waits, at most a
# minute, for the uninstaller's copy in the temporary folder to finish: the
# command itself returns at once.
uninstall_silently() {
    local quiet deadline
    reg_key "$uninstall_key" || { fail "no Uninstall key to uninstall with"; return; }
    quiet=$(reg_value QuietUninstallString)
    expect "QuietUninstallString" "$quiet" "\"$install_win\\uninstall.exe\" /S"
    START_COMMAND_LINE=$quiet wine_run "$start_command"
    expect "silent uninstall exit code" "$?" 0
    deadline=$((SECONDS + 60))
    while [ -e "$install_unix/uninstall.exe" ] || reg_key "$uninstall_key"; do
        if [ "$SECONDS" -ge "$deadline" ]; then
            fail "the uninstaller did not finish within a minute"
            return
        fi
        sleep 0.5
    done
    pass "the uninstaller finished"
}

case $phase in
install)
    fresh_prefix
    find_install_folder
    install_silently
    expect_values "$classes\\$extension" "(Default)" "$progid" "Content Type" "$mime_type"
    expect_values "$classes\\$progid" "(Default)" "$description"
    expect_values "$classes\\$progid\\shell\\open\\command" \
        "(Default)" "\"$install_win\\launcher.exe\" \"%1\""
    expect_values "$mime_key" Extension "$extension"
    expect_values "$uninstall_key" \
        DisplayName "$folder_name" \
        InstallLocation "$install_win" \
        UninstallString "\"$install_win\\uninstall.exe\"" \
        QuietUninstallString "\"$install_win\\uninstall.exe\" /S" \
        NoModify 0x1 NoRepair 0x1
    expect "installed files" "$(cd "$install_unix" 2>/dev/null && ls | tr '\n' ' ')" \
        "launcher.exe uninstall.exe "
    if cmp -s "$launcher_exe" "$install_unix/launcher.exe"; then
        pass "launcher.exe is the one built"
    else
        fail "launcher.exe is the one built"
    fi
    ;;

click)
    drive_c=$WINEPREFIX/drive_c
    mkdir -p "$drive_c/product" "$drive_c/launch files"
    cp "$record_product" "$drive_c/product/record_product.exe"
    rm -f "$drive_c/click.record"
    printf '[clicktest]\r\npath=c:\\product\r\ncommand=c:\\product\\record_product.exe\r\n[identification]\r\nuser=tester\r\npassword=pw\r\n' \
        >"$drive_c/windows/talvin.ini"
    launch_unix="$drive_c/launch files/space game$extension"
    launch_text=$'[launch]\r\napp=clicktest\r\nmissing=not installed\r\nmessages=0\r\n'
    printf '%s' "$launch_text" >"$launch_unix"

    # What the shell does for a double click: the open command with %1
    # replaced by the long path, started as one command line.
    reg_key "$classes\\$progid\\shell\\open\\command" || { fail "no open command"; finish; }
    command=$(reg_value "(Default)")
    launch_win="C:\\launch files\\space game$extension"
    START_COMMAND_LINE=${command//%1/$launch_win} LAUNCHER_TEST_RECORD='C:\click.record' \
        wine_run "$start_command"
    expect "launcher exit code" "$?" 0

    # The launcher does not wait for the product: wait for its record.
    record=$drive_c/click.record
    deadline=$((SECONDS + 30))
    until grep -q '^env=C: ' "$record" 2>/dev/null || [ "$SECONDS" -ge "$deadline" ]; do
        sleep 0.2
    done
    [ -f "$record" ] || { fail "the product was not started"; finish; }
    record_value() { sed -n "s/^$1 [0-9]*://p" "$record"; }
    expect "product arguments" "$(grep -c '^arg ' "$record")" 1
    argument=$(record_value arg)
    # Under wine the launch path comes out in its short form, uppercased.
    expect "argument is one uppercase short path" \
        "$(printf '%s' "$argument" | grep -cE '^C:\\[A-Z0-9~_]{1,8}\\[A-Z0-9~_]{1,8}\.TVL$')" 1
    if [ "$(winepath -u "$argument" | tr -d '\r')" -ef "$launch_unix" ]; then
        pass "the argument names the launch file"
    else
        fail "the argument [$argument] names the launch file"
    fi
    expect "product command line" "$(record_value cmdline)" \
        "C:\\PRODUCT\\RECORD_PRODUCT.EXE \"$argument\""
    expect "product directory" "$(record_value cwd)" 'c:\product'
    expect "product =C: entry" "$(record_value 'env=C:')" 'c:\product'
    expect "identification appended to the launch file" "$(cat "$launch_unix")" \
        "$launch_text"$'[identification]\r\nuser=tester\r\npassword=pw\r'
    ;;

uninstall)
    find_install_folder
    uninstall_silently
    expect_no_key "$classes\\$extension"
    expect_no_key "$classes\\$progid"
    expect_no_key "$mime_key"
    expect_no_key "$classes\\MIME"
    expect_no_key "$uninstall_key"
    if [ -e "$install_unix" ]; then fail "install folder is gone"; else pass "install folder is gone"; fi
    # A fresh profile has no Programs folder; the installer made it.
    if [ -e "$programs_unix" ]; then fail "Programs folder is gone"; else pass "Programs folder is gone"; fi
    ;;

foreign)
    fresh_prefix
    find_install_folder
    other_mime="$classes\\MIME\\Database\\Content Type\\text/x-other"
    wine_run reg add "$other_mime" /v Extension /d .oth /f >/dev/null
    install_silently
    # Since the install, another program has taken the extension over and
    # given it a value of its own, and the user has left a file beside ours.
    wine_run reg add "$classes\\$extension" /ve /d Other.Handler /f >/dev/null
    wine_run reg add "$classes\\$extension" /v PerceivedType /d text /f >/dev/null
    echo note >"$install_unix/notes.txt"
    uninstall_silently
    expect_values "$classes\\$extension" "(Default)" Other.Handler PerceivedType text \
        "Content Type" "<no value Content Type>"
    expect_values "$other_mime" Extension .oth
    expect_no_key "$mime_key"
    expect_no_key "$classes\\$progid"
    expect_no_key "$uninstall_key"
    expect "files left in the install folder" "$(cd "$install_unix" 2>/dev/null && ls | tr '\n' ' ')" \
        "notes.txt "
    ;;

*)
    fail "unknown phase $phase"
    ;;
esac
finish
