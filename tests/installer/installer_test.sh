#!/usr/bin/env bash
# Both Windows packages of one build under its wine in one fresh prefix:
# installed, opening a file and a link, uninstalled leaving what others changed.
# Usage: installer_test.sh SETUP_PROGRAM MSI OLD_MSI LAUNCHER_EXE RECORD_PRODUCT_EXE START_COMMAND_EXE OTHER_ARCH_MSI
# (the file type comes from LAUNCH_FILE_EXTENSION, LAUNCH_FILE_MIME_TYPE, LAUNCH_FILE_PROGID).
source "$(dirname "$0")/../lib.sh"
need_tools msiinfo
ext=$LAUNCH_FILE_EXTENSION progid=$LAUNCH_FILE_PROGID
launcher_exe=$4 record_product=$5 start_command=$6
classes='HKCU\Software\Classes'
mime_key="$classes\\MIME\\Database\\Content Type\\$LAUNCH_FILE_MIME_TYPE"
other_mime_key="$classes\\MIME\\Database\\Content Type\\text/x-other"
links_key="$classes\\talvin"
setup_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\TalvinLauncher'
# Where wine 8 lists every Windows Installer product: an x86 package's in the
# registry's 32-bit view, as Windows does.
programs='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
[[ $(msiinfo suminfo "$2") != *"Template: Intel"* ]] ||
    programs='HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall'
make_wine_prefix "$scratch/prefix" || { fail "wineboot"; finish; }
w() { timeout 120 wine "$@"; }
# reg in the registry's 64-bit view, which a wine with both sides gives its
# 32-bit reg.exe only when asked.
reg() { w reg "$@" /reg:64; }
# value KEY NAME: one value's data ("" for the default), or nothing.
value() {
    local which=(/ve)
    [ $# -eq 1 ] || which=(/v "$2")
    reg query "$1" "${which[@]}" 2>/dev/null | tr -d '\r' | sed -n 's/^ .*  *REG_[A-Z_]*  *//p'
}
# start LINE: a Windows command line started as the shell starts one.
start() { START_COMMAND_LINE=$1 w "$start_command"; }
drive_c=$WINEPREFIX/drive_c
mkdir -p "$drive_c/packages"
cp "$1" "$drive_c/packages/setup.exe" && cp "$2" "$drive_c/packages/new.msi" &&
    cp "$3" "$drive_c/packages/old.msi" && cp "$7" "$drive_c/packages/other.msi" || fail "copy the packages"
default_win="$(w cmd /c 'echo %LOCALAPPDATA%' | tr -d '\r')\\Programs\\Talvin Launcher"
default_unix=$(winepath -u "$default_win" | tr -d '\r')
links_unix=$(winepath -u "$(w cmd /c 'echo %LOCALAPPDATA%' | tr -d '\r')\\Talvin" | tr -d '\r')
# No blank, which wine's command line would quote.
odd_name="Tools;x[1]{a}%TEMP%'q'Łódź日本"
odd_win="C:\\$odd_name\\Talvin" odd_unix="$drive_c/$odd_name/Talvin"
# Another program's type, which no uninstall may touch.
reg add "$other_mime_key" /v Extension /d .oth /f >/dev/null

property() { msiinfo export "$1" Property | tr -d '\r' | sed -n "s/^$2\t//p"; }
version=$(property "$2" ProductVersion)
# check_installed: the programs and the file type's values.
check_installed() {
    cmp -s "$launcher_exe" "$install_unix/launcher.exe" || fail "launcher.exe in $install_unix is not the one built"
    [ -f "$install_unix/talvin-config.exe" ] || fail "talvin-config.exe is not beside launcher.exe"
    check "talvin-check.exe beside launcher.exe" "$(w "$install_unix/talvin-check.exe" --version | tr -d '\r')" \
        "talvin-check $version"
    check "type of $ext" "$(value "$classes\\$ext" "Content Type")" "$LAUNCH_FILE_MIME_TYPE"
    check "MIME extension" "$(value "$mime_key" Extension)" "$ext"
}

# open_launch_file: a product installed by talvin-config.exe; the open
# command with %1 replaced by the long path of a name with blanks, and the
# scheme's with a talvin: link (the product gets a new file in the
# launcher's folder under the local application data).
open_launch_file() {
    mkdir -p "$drive_c/product" "$drive_c/launch files"
    cp "$record_product" "$drive_c/product/record_product.exe"
    # The product's installer writes its section as products' installers do.
    w "$install_unix/talvin-config.exe" set clicktest --command 'c:\product\record_product.exe' \
        --path 'c:\product' || fail "talvin-config set"
    printf 'pw\n' | w "$install_unix/talvin-config.exe" identification --user tester ||
        fail "identification"
    local launch_text=$'[launch]\r\napp=clicktest\r\nmessages=0\r\n' command argument
    printf '%s' "$launch_text" >"$drive_c/launch files/space game$ext"
    rm -f "$drive_c/click.record" "$drive_c/link.record"
    command=$(value "$classes\\$progid\\shell\\open\\command")
    check "open command" "$command" "\"$install_win\\launcher.exe\" \"%1\""
    LAUNCHER_TEST_RECORD='C:\click.record' start "${command//%1/C:\\launch files\\space game$ext}"
    check "launcher exit status" "$?" 0
    await_record "$drive_c/click.record"
    argument=$(recorded "$drive_c/click.record" arg)
    [ "$(winepath -u "$argument" | tr -d '\r')" -ef "$drive_c/launch files/space game$ext" ] ||
        fail "the product's argument [$argument] does not name the launch file"
    check "product folder" "$(recorded "$drive_c/click.record" cwd)" 'c:\product'
    check "identification appended" "$(cat "$drive_c/launch files/space game$ext")" \
        "$launch_text"$'[identification]\r\nuser=tester\r\npassword=pw\r'

    reg query "$links_key" /v "URL Protocol" >/dev/null 2>&1 || fail "no URL Protocol value"
    check "link scheme" "$(value "$links_key" "URL Protocol")" ""
    check "link description" "$(value "$links_key")" "URL:Talvin link"
    command=$(value "$links_key\\shell\\open\\command")
    check "link command" "$command" "\"$install_win\\launcher.exe\" \"%1\""
    local link="talvin:$(printf '%s' "$launch_text" | base64 -w0 | tr '+/' '-_' | tr -d =)"
    # Its file goes once the product has had time to read it (10 s here).
    LAUNCHER_TEST_RECORD='C:\link.record' TALVIN_TEST_LINK_KEEP=10 start "${command//%1/$link}" &
    await_record "$drive_c/link.record"
    argument=$(recorded "$drive_c/link.record" arg)
    local links_win="$(w cmd /c 'echo %LOCALAPPDATA%' | tr -d '\r')"'\Talvin\links\'
    [[ ${argument,,} == "${links_win,,}"link*.tvl ]] || fail "the product was handed [$argument]"
    local file=$(winepath -u "$argument" | tr -d '\r')
    check "the link's file" "$(cat "$file")" "$launch_text"$'[identification]\r\nuser=tester\r\npassword=pw\r'
    wait
    test ! -e "$file" || fail "the link's file is left after its time"
    printf x >"${file%/*}/link-0123456789abcdef01234567.tvl" # as a killed launcher left it
}

# setup_check EXE STATUS TEXT: talvin-check --setup exits with STATUS and
# its report holds TEXT.
setup_check() {
    local report
    report=$(w "$1" --setup | tr -d '\r'; echo "exit ${PIPESTATUS[0]}")
    [[ $report == *"$3"*"exit $2" ]] || fail "setup check: [$report] lacks [$3] or exit $2"
}

# take_over: since the install another program took the extension over, and
# the user left a file in the install folder.
take_over() {
    reg add "$classes\\$ext" /ve /d Other.Handler /f >/dev/null
    echo note >"$install_unix/notes.txt"
}

# check_uninstalled KEY...: after take_over and the uninstall, the other
# program's values and the user's file are left, and none of KEY.
check_uninstalled() {
    local key
    check "the extension's new handler" "$(value "$classes\\$ext")" Other.Handler
    check "its type" "$(value "$classes\\$ext" "Content Type")" ""
    check "another type" "$(value "$other_mime_key" Extension)" .oth
    for key in "$mime_key" "$classes\\$progid" "$links_key" "$@"; do
        reg query "$key" >/dev/null 2>&1 && fail "$key is left"
    done
    check "files left" "$(ls "$install_unix")" notes.txt
    [ -e "$links_unix" ] && fail "the links folder is left: $(ls -A "$links_unix")"
    rm -r "$install_unix"
}

# ERROR_INSTALL_FAILURE, 1603, as a POSIX exit status: each package's refusal.
refused=$((1603 % 256))
msiexec() { w msiexec "$@" /qn; }

# The setup program, first into the odd folder, then moved.
install_win=$odd_win install_unix=$odd_unix
w "$drive_c/packages/setup.exe" /S "/D=$odd_win"
check "setup: silent install" "$?" 0
check_installed
cp "$odd_unix/uninstall.exe" "$drive_c/kept-uninstall.exe"
install_win=$default_win install_unix=$default_unix
start "C:\\packages\\setup.exe /S /D=$default_win"
check "setup: install into another folder" "$?" 0
[ -e "$odd_unix" ] && fail "the first folder is left: $(ls "$odd_unix")"
# The first folder's uninstaller, kept, finds nothing of its own.
w "$drive_c/kept-uninstall.exe" /S "_?=$odd_win"
check "setup: install location" "$(value "$setup_key" InstallLocation)" "$default_win"
check_installed
open_launch_file
setup_check "$install_unix/talvin-check.exe" 0 "A click reaches this launcher, version $version,"
# Over a program of the install that runs (talvin-config.exe, a byte longer
# than the one built, waiting for a password), a silent setup puts the new
# one in place; over that one too, while the first runs on, it fails (32).
cp "$install_unix/talvin-config.exe" "$scratch/config.exe" && echo >>"$install_unix/talvin-config.exe"
mkfifo "$scratch/password" && exec 9<>"$scratch/password"
held= holders=()
for n in 1 2; do
    w "$install_unix/talvin-config.exe" --file 'C:\held.ini' identification --user x <"$scratch/password" &
    holders+=($!)
    # Its Windows command line (an emulated 32-bit side shows none: time enough).
    wait_until 30 test "$(pgrep -fc '\\talvin-config\.exe --file C:')" = $n
    w "$drive_c/packages/setup.exe" /S
    held+="$?:$(cmp -s "$scratch/config.exe" "$install_unix/talvin-config.exe" && echo new) "
done
exec 9>&- && wait "${holders[@]}"
check "setup over a running program: replaced, then refused" "$held" "0:new 32:new "
msiexec /i 'C:\packages\new.msi'
check "package: install over the setup program's" "$?" "$refused"
take_over
setup_check "$install_unix/talvin-check.exe" 1 \
    "A click would not reach a product: launch files open with Other.Handler, which starts no program (the class Other.Handler has no open command)."
start "$(value "$setup_key" QuietUninstallString)"
check "setup: silent uninstall" "$?" 0
# It returns at once and goes on from the temporary folder: until wine is idle.
timeout 60 wineserver -w && test ! -e "$install_unix/uninstall.exe" || fail "the uninstaller did not finish"
check_uninstalled "$setup_key"

# The Windows Installer package.
old_code=$(property "$3" ProductCode) code=$(property "$2" ProductCode)
[ -n "$code" ] && [ "$code" != "$old_code" ] || fail "product codes [$old_code] [$code]"
check "upgrade code" "$(property "$2" UpgradeCode)" '{4B7C2E1A-9D3F-4E6B-8A15-2C7F0D9E3B61}'
# Compressed (2), and no administrator rights asked for (8).
check "package source flags" "$(msiinfo suminfo "$2" | sed -n 's/^Source: \([0-9]*\).*/\1/p')" 10
msiexec /i 'C:\packages\old.msi' ALLUSERS=1
check "per-machine install" "$?" "$refused"
test -e "$install_unix" && fail "the refused install left $install_unix"
msiexec /i 'C:\packages\old.msi'
check "install of the older version" "$?" 0
check "older version" "$(value "$programs\\$old_code" DisplayVersion)" 0.9.0
msiexec /i 'C:\packages\new.msi'
check "upgrade" "$?" 0
reg query "$programs\\$old_code" >/dev/null 2>&1 && fail "the older version is still installed"
check "installed program" "$(value "$programs\\$code" DisplayName)" "Talvin Launcher"
check "installed version" "$(value "$programs\\$code" DisplayVersion)" "$version"
check "install location" "$(value "$programs\\$code" InstallLocation)" "$install_win\\"
check_installed
open_launch_file
# The other architecture's product of this version and this one replace each
# other, and the setup program refuses beside it: one launcher per account.
other_code=$(property "$7" ProductCode)
listed() {
    local view
    for view in '' 'Wow6432Node\'; do
        reg query "HKLM\\Software\\${view}Microsoft\\Windows\\CurrentVersion\\Uninstall\\$1" >/dev/null 2>&1 && printf '%s ' "$1"
    done
}
msiexec /i 'C:\packages\other.msi'
check "the other architecture's package over this one" "$?:$(listed "$code")$(listed "$other_code")" "0:$other_code "
w "$drive_c/packages/setup.exe" /S
check "setup: install over the other architecture's package" "$?" "$refused"
msiexec /i 'C:\packages\new.msi'
check "this package over the other architecture's" "$?:$(listed "$code")$(listed "$other_code")" "0:$code "
msiexec /i 'C:\packages\old.msi'
check "downgrade" "$?" "$refused"
w "$drive_c/packages/setup.exe" /S
check "setup: install over the package's" "$?" "$refused"
reg query "$setup_key" >/dev/null 2>&1 && fail "installed over the package's install"
check_installed

# Another program took the talvin: scheme over: its command and "URL
# Protocol" stay.
reg add "$links_key\\shell\\open\\command" /ve /d other.exe /f >/dev/null
msiexec /x "$code"
check "package: silent uninstall" "$?" 0
check "the scheme's new command" "$(value "$links_key\\shell\\open\\command")" other.exe
reg query "$links_key" /v "URL Protocol" >/dev/null 2>&1 || fail "URL Protocol was taken away"
reg delete "$links_key" /f >/dev/null

install_win=$odd_win install_unix=$odd_unix
msiexec /i 'C:\packages\new.msi' "INSTALLFOLDER=$odd_win\\"
check "package: install into $odd_win" "$?" 0
check_installed
take_over
msiexec /x "$code"
check "package: uninstall from $odd_win" "$?" 0
check_uninstalled "$programs\\$code" 'HKCU\Software\Talvin\Launcher'
setup_check "$(dirname "$launcher_exe")/talvin-check.exe" 1 "; nothing opens talvin: links (install the launcher)."
finish
