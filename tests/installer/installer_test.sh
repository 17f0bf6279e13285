#!/usr/bin/env bash
# The Windows installer's round trip under wine64 in a fresh prefix: a silent
# install; a launch file whose name holds blanks opened through the
# registered open command as the shell would, and a talvin: link through
# the scheme's command; a silent uninstall that takes
# away all the installer's own keys and files and leaves what others added.
# Usage: installer_test.sh INSTALLER LAUNCHER_EXE RECORD_PRODUCT_EXE START_COMMAND_EXE
# (the file type comes from LAUNCH_FILE_EXTENSION, LAUNCH_FILE_MIME_TYPE, LAUNCH_FILE_PROGID).
source "$(dirname "$0")/../lib.sh"
installer=$1 launcher_exe=$2 record_product=$3 start_command=$4
ext=$LAUNCH_FILE_EXTENSION progid=$LAUNCH_FILE_PROGID
classes='HKCU\Software\Classes'
mime_key="$classes\\MIME\\Database\\Content Type\\$LAUNCH_FILE_MIME_TYPE"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\TalvinLauncher'
make_wine_prefix "$scratch/prefix" || { fail "wineboot"; finish; }
w() { timeout 120 wine "$@"; }
# value KEY NAME: one value's data ("" for the default), or nothing.
value() {
    local which=(/ve)
    [ $# -eq 1 ] || which=(/v "$2")
    w reg query "$1" "${which[@]}" 2>/dev/null | tr -d '\r' | sed -n 's/^ .*  *REG_[A-Z_]*  *//p'
}
drive_c=$WINEPREFIX/drive_c
install_win="$(w cmd /c 'echo %LOCALAPPDATA%' | tr -d '\r')\\Programs\\Talvin Launcher"
install_unix=$(winepath -u "$install_win" | tr -d '\r')

w reg add "$classes\\MIME\\Database\\Content Type\\text/x-other" /v Extension /d .oth /f >/dev/null
w "$installer" /S
check "silent install" "$?" 0
cmp -s "$launcher_exe" "$install_unix/launcher.exe" || fail "launcher.exe is not the one built"
[ -f "$install_unix/talvin-config.exe" ] || fail "talvin-config.exe is not beside launcher.exe"
check "type of $ext" "$(value "$classes\\$ext" "Content Type")" "$LAUNCH_FILE_MIME_TYPE"
check "MIME extension" "$(value "$mime_key" Extension)" "$ext"

# A double click: the open command with %1 replaced by the long path.
mkdir -p "$drive_c/product" "$drive_c/launch files"
cp "$record_product" "$drive_c/product/record_product.exe"
# The product's installer writes its section as products' installers do.
w "$install_unix/talvin-config.exe" set clicktest --command 'c:\product\record_product.exe' \
    --path 'c:\product' || fail "talvin-config set"
printf 'pw\n' | w "$install_unix/talvin-config.exe" identification --user tester || fail "identification"
launch_text=$'[launch]\r\napp=clicktest\r\nmessages=0\r\n'
printf '%s' "$launch_text" >"$drive_c/launch files/space game$ext"
command=$(value "$classes\\$progid\\shell\\open\\command")
check "open command" "$command" "\"$install_win\\launcher.exe\" \"%1\""
START_COMMAND_LINE=${command//%1/C:\\launch files\\space game$ext} \
    LAUNCHER_TEST_RECORD='C:\click.record' w "$start_command"
check "launcher exit status" "$?" 0
await_record "$drive_c/click.record"
argument=$(recorded "$drive_c/click.record" arg)
[ "$(winepath -u "$argument" | tr -d '\r')" -ef "$drive_c/launch files/space game$ext" ] ||
    fail "the product's argument [$argument] does not name the launch file"
check "product folder" "$(recorded "$drive_c/click.record" cwd)" 'c:\product'
check "identification appended" "$(cat "$drive_c/launch files/space game$ext")" \
    "$launch_text"$'[identification]\r\nuser=tester\r\npassword=pw\r'

# A talvin: link: the scheme's registered command with %1 replaced by the
# link, as a browser hands it over; the product gets a new file in the
# launcher's folder under the local application data.
links='HKCU\Software\Classes\talvin'
check "link scheme" "$(value "$links" "URL Protocol")" ""
w reg query "$links" /v "URL Protocol" >/dev/null 2>&1 || fail "no URL Protocol value"
check "link description" "$(value "$links")" "URL:Talvin link"
command=$(value "$links\shell\open\command")
check "link command" "$command" "\"$install_win\\launcher.exe\" \"%1\""
link="talvin:$(printf '%s' "$launch_text" | base64 -w0 | tr '+/' '-_' | tr -d =)"
START_COMMAND_LINE=${command//%1/$link} LAUNCHER_TEST_RECORD='C:\link.record' w "$start_command"
await_record "$drive_c/link.record"
argument=$(recorded "$drive_c/link.record" arg)
links_win="$(w cmd /c 'echo %LOCALAPPDATA%' | tr -d '\r')"'\Talvin\links\'
[[ ${argument,,} == "${links_win,,}"link*.tvl ]] || fail "the product was handed [$argument]"
check "the link's file" "$(cat "$(winepath -u "$argument" | tr -d '\r')")" \
    "$launch_text"$'[identification]\r\nuser=tester\r\npassword=pw\r'

# The product's uninstaller takes its section away, and only that.
w "$install_unix/talvin-config.exe" remove clicktest || fail "talvin-config remove"
check "talvin.ini after the product's uninstall" "$(tr -d '\r' <"$drive_c/windows/talvin.ini")" \
    $'[identification]\nuser=tester\npassword=pw'

# Since the install another program took the extension over, and the user
# left a file in the install folder; then the silent uninstall.
w reg add "$classes\\$ext" /ve /d Other.Handler /f >/dev/null
echo note >"$install_unix/notes.txt"
START_COMMAND_LINE=$(value "$uninstall_key" QuietUninstallString) w "$start_command"
check "silent uninstall" "$?" 0
wait_until 60 test ! -e "$install_unix/uninstall.exe" || fail "the uninstaller did not finish"
check "the extension's new handler" "$(value "$classes\\$ext")" Other.Handler
check "its type" "$(value "$classes\\$ext" "Content Type")" ""
check "another type" "$(value "$classes\\MIME\\Database\\Content Type\\text/x-other" Extension)" .oth
for key in "$mime_key" "$classes\\$progid" "$uninstall_key" "$links"; do
    w reg query "$key" >/dev/null 2>&1 && fail "$key is left"
done
check "files left" "$(ls "$install_unix")" notes.txt
finish
