#!/usr/bin/env bash
# The Windows Installer package under wine64 in a fresh prefix: refused per
# machine; a silent install of an older version, then of this one over it in
# place; a launch file and a talvin: link opened through the registered
# commands; a downgrade refused; a silent uninstall that takes back its own
# keys and files and leaves what others changed (the extension, then the
# link scheme taken over); refused beside the setup program's install.
# What wine cannot show is read back from the package's tables.
# Usage: msi_test.sh OLD_MSI MSI SETUP_PROGRAM LAUNCHER_EXE RECORD_PRODUCT_EXE START_COMMAND_EXE
source "$(dirname "$0")/windows_lib.sh"
need_tools msiinfo
old_msi=$1 msi=$2 setup_program=$3 launcher_exe=$4 record_product=$5 start_command=$6
# Where wine 8 lists every Windows Installer product.
programs='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
property() { msiinfo export "$1" Property | tr -d '\r' | sed -n "s/^$2\t//p"; }
old_code=$(property "$old_msi" ProductCode) code=$(property "$msi" ProductCode)
[ -n "$code" ] && [ "$code" != "$old_code" ] || fail "product codes [$old_code] [$code]"
check "upgrade code" "$(property "$msi" UpgradeCode)" '{4B7C2E1A-9D3F-4E6B-8A15-2C7F0D9E3B61}'
# Compressed (2), and no administrator rights asked for (8).
check "package source flags" "$(msiinfo suminfo "$msi" | sed -n 's/^Source: \([0-9]*\).*/\1/p')" 10
mkdir -p "$drive_c/packages"
cp "$old_msi" "$drive_c/packages/old.msi" && cp "$msi" "$drive_c/packages/new.msi"
msiexec() { w msiexec "$@" /qn; }
# ERROR_INSTALL_FAILURE, 1603, as a POSIX exit status.
refused=$((1603 % 256))

msiexec /i 'C:\packages\old.msi' ALLUSERS=1
check "per-machine install" "$?" "$refused"
test -e "$install_unix" && fail "the refused install left $install_unix"
msiexec /i 'C:\packages\old.msi'
check "install of the older version" "$?" 0
check "older version" "$(value "$programs\\$old_code" DisplayVersion)" 0.9.0
msiexec /i 'C:\packages\new.msi'
check "upgrade" "$?" 0
w reg query "$programs\\$old_code" >/dev/null 2>&1 && fail "the older version is still installed"
check "installed program" "$(value "$programs\\$code" DisplayName)" "Talvin Launcher"
check "installed version" "$(value "$programs\\$code" DisplayVersion)" "$(property "$msi" ProductVersion)"
check "install location" "$(value "$programs\\$code" InstallLocation)" "$install_win\\"
check_installed "$launcher_exe"
open_launch_file "$record_product" "$start_command"
msiexec /i 'C:\packages\old.msi'
check "downgrade" "$?" "$refused"

take_over
msiexec /x "$code"
check "silent uninstall" "$?" 0
check_uninstalled "$programs\\$code" "$links_key"

# Another program took the talvin: scheme over: its command and "URL
# Protocol" stay.
rm "$install_unix/notes.txt"
msiexec /i 'C:\packages\new.msi'
w reg add "$links_key\\shell\\open\\command" /ve /d other.exe /f >/dev/null
msiexec /x "$code"
check "the scheme's new command" "$(value "$links_key\\shell\\open\\command")" other.exe
w reg query "$links_key" /v "URL Protocol" >/dev/null 2>&1 || fail "URL Protocol was taken away"

w "$setup_program" /S
msiexec /i 'C:\packages\new.msi'
check "install over the setup program's" "$?" "$refused"
w reg query "$programs\\$code" >/dev/null 2>&1 && fail "installed over the setup program's install"
finish
