#!/usr/bin/env bash
# The Windows installer's round trip under wine64 in a fresh prefix: a silent
# install; a launch file and a talvin: link opened through the registered
# commands (open_launch_file); a silent uninstall that takes
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

take_over
START_COMMAND_LINE=$(value "$uninstall_key" QuietUninstallString) w "$start_command"
check "silent uninstall" "$?" 0
wait_until 60 test ! -e "$install_unix/uninstall.exe" || fail "the uninstaller did not finish"
check_uninstalled "$uninstall_key" "$links_key"
finish
