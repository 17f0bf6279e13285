# What the Windows installers' tests share under wine64: a fresh prefix, the
# registry read back, the install folder, a launch file opened through the
# registered open command as the shell opens it, and the uninstall's leftovers.
# Needs LAUNCH_FILE_EXTENSION, LAUNCH_FILE_MIME_TYPE and LAUNCH_FILE_PROGID.
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"
ext=$LAUNCH_FILE_EXTENSION progid=$LAUNCH_FILE_PROGID
classes='HKCU\Software\Classes'
mime_key="$classes\\MIME\\Database\\Content Type\\$LAUNCH_FILE_MIME_TYPE"
other_mime_key="$classes\\MIME\\Database\\Content Type\\text/x-other"
links_key="$classes\\talvin"
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
# Another program's type, which no uninstall may touch.
w reg add "$other_mime_key" /v Extension /d .oth /f >/dev/null

# check_installed LAUNCHER_EXE: the program and the file type's values.
check_installed() {
    cmp -s "$1" "$install_unix/launcher.exe" || fail "launcher.exe is not the one built"
    [ -f "$install_unix/talvin-config.exe" ] || fail "talvin-config.exe is not beside launcher.exe"
    check "type of $ext" "$(value "$classes\\$ext" "Content Type")" "$LAUNCH_FILE_MIME_TYPE"
    check "MIME extension" "$(value "$mime_key" Extension)" "$ext"
}

# open_launch_file RECORD_PRODUCT_EXE START_COMMAND_EXE: a product installed
# and uninstalled by talvin-config.exe; between, a double click, the open
# command with %1 replaced by the long path of a name with blanks, and a
# talvin: link, the scheme's command with %1 replaced by the link as a
# browser hands it over (the product gets a new file in the launcher's
# folder under the local application data).
open_launch_file() {
    mkdir -p "$drive_c/product" "$drive_c/launch files"
    cp "$1" "$drive_c/product/record_product.exe"
    # The product's installer writes its section as products' installers do.
    w "$install_unix/talvin-config.exe" set clicktest --command 'c:\product\record_product.exe' \
        --path 'c:\product' || fail "talvin-config set"
    printf 'pw\n' | w "$install_unix/talvin-config.exe" identification --user tester ||
        fail "identification"
    local launch_text=$'[launch]\r\napp=clicktest\r\nmessages=0\r\n' command argument
    printf '%s' "$launch_text" >"$drive_c/launch files/space game$ext"
    rm -f "$drive_c/click.record"
    command=$(value "$classes\\$progid\\shell\\open\\command")
    check "open command" "$command" "\"$install_win\\launcher.exe\" \"%1\""
    START_COMMAND_LINE=${command//%1/C:\\launch files\\space game$ext} \
        LAUNCHER_TEST_RECORD='C:\click.record' w "$2"
    check "launcher exit status" "$?" 0
    await_record "$drive_c/click.record"
    argument=$(recorded "$drive_c/click.record" arg)
    [ "$(winepath -u "$argument" | tr -d '\r')" -ef "$drive_c/launch files/space game$ext" ] ||
        fail "the product's argument [$argument] does not name the launch file"
    check "product folder" "$(recorded "$drive_c/click.record" cwd)" 'c:\product'
    check "identification appended" "$(cat "$drive_c/launch files/space game$ext")" \
        "$launch_text"$'[identification]\r\nuser=tester\r\npassword=pw\r'

    w reg query "$links_key" /v "URL Protocol" >/dev/null 2>&1 || fail "no URL Protocol value"
    check "link scheme" "$(value "$links_key" "URL Protocol")" ""
    check "link description" "$(value "$links_key")" "URL:Talvin link"
    command=$(value "$links_key\\shell\\open\\command")
    check "link command" "$command" "\"$install_win\\launcher.exe\" \"%1\""
    local link="talvin:$(printf '%s' "$launch_text" | base64 -w0 | tr '+/' '-_' | tr -d =)"
    START_COMMAND_LINE=${command//%1/$link} LAUNCHER_TEST_RECORD='C:\link.record' w "$2"
    await_record "$drive_c/link.record"
    argument=$(recorded "$drive_c/link.record" arg)
    local links_win="$(w cmd /c 'echo %LOCALAPPDATA%' | tr -d '\r')"'\Talvin\links\'
    [[ ${argument,,} == "${links_win,,}"link*.tvl ]] || fail "the product was handed [$argument]"
    check "the link's file" "$(cat "$(winepath -u "$argument" | tr -d '\r')")" \
        "$launch_text"$'[identification]\r\nuser=tester\r\npassword=pw\r'
    # The product's uninstaller takes its section away, and only that.
    w "$install_unix/talvin-config.exe" remove clicktest || fail "talvin-config remove"
    check "talvin.ini after the product's uninstall" "$(tr -d '\r' <"$drive_c/windows/talvin.ini")" \
        $'[identification]\nuser=tester\npassword=pw'
}

# take_over: since the install another program took the extension over, and
# the user left a file in the install folder.
take_over() {
    w reg add "$classes\\$ext" /ve /d Other.Handler /f >/dev/null
    echo note >"$install_unix/notes.txt"
}

# check_uninstalled KEY...: after take_over and the uninstall, the other
# program's values and the user's file are left, and none of KEY.
check_uninstalled() {
    local key
    check "the extension's new handler" "$(value "$classes\\$ext")" Other.Handler
    check "its type" "$(value "$classes\\$ext" "Content Type")" ""
    check "another type" "$(value "$other_mime_key" Extension)" .oth
    for key in "$mime_key" "$classes\\$progid" "$@"; do
        w reg query "$key" >/dev/null 2>&1 && fail "$key is left"
    done
    check "files left" "$(ls "$install_unix")" notes.txt
}
