#!/usr/bin/env bash
# The Windows installer's round trip under wine64 in a fresh prefix: a silent
# install; a launch file whose name holds blanks opened through the
# registered open command as the shell would, and a talvin: link through
# the scheme's command; a silent uninstall that takes
# away all the installer's own keys and files and leaves what others added.
# Usage: installer_test.sh INSTALLER LAUNCHER_EXE RECORD_PRODUCT_EXE START_COMMAND_EXE
# (the file type comes from LAUNCH_FILE_EXTENSION, LAUNCH_FILE_MIME_TYPE, LAUNCH_FILE_PROGID).
source "$(dirname "$0")/windows_lib.sh"
installer=$1 launcher_exe=$2 record_product=$3 start_command=$4
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\TalvinLauncher'

w "$installer" /S
check "silent install" "$?" 0
check_installed "$launcher_exe"
open_launch_file "$record_product" "$start_command"

# A talvin: link: the scheme's registered command with %1 replaced by the
# link, as a browser hands it over; the product gets a new file in the
# launcher's folder under the local application data.
links='HKCU\Software\Classes\talvin'
w reg query "$links" /v "URL Protocol" >/dev/null 2>&1 || fail "no URL Protocol value"
check "link scheme" "$(value "$links" "URL Protocol")" ""
check "link description" "$(value "$links")" "URL:Talvin link"
command=$(value "$links\shell\open\command")
check "link command" "$command" "\"$install_win\\launcher.exe\" \"%1\""
w "$install_unix/talvin-config.exe" set clicktest --command 'c:\product\record_product.exe' \
    --path 'c:\product' || fail "talvin-config set"
launch_text=$'[launch]\r\napp=clicktest\r\nmessages=0\r\n'
link="talvin:$(printf '%s' "$launch_text" | base64 -w0 | tr '+/' '-_' | tr -d =)"
START_COMMAND_LINE=${command//%1/$link} LAUNCHER_TEST_RECORD='C:\link.record' w "$start_command"
await_record "$drive_c/link.record"
argument=$(recorded "$drive_c/link.record" arg)
links_win="$(w cmd /c 'echo %LOCALAPPDATA%' | tr -d '\r')"'\Talvin\links\'
[[ ${argument,,} == "${links_win,,}"link*.tvl ]] || fail "the product was handed [$argument]"
check "the link's file" "$(cat "$(winepath -u "$argument" | tr -d '\r')")" \
    "$launch_text"$'[identification]\r\nuser=tester\r\npassword=pw\r'
w "$install_unix/talvin-config.exe" remove clicktest || fail "talvin-config remove"

take_over
START_COMMAND_LINE=$(value "$uninstall_key" QuietUninstallString) w "$start_command"
check "silent uninstall" "$?" 0
wait_until 60 test ! -e "$install_unix/uninstall.exe" || fail "the uninstaller did not finish"
check_uninstalled "$uninstall_key" "$links"
finish
