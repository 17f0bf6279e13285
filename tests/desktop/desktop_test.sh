#!/usr/bin/env bash
# The POSIX program on a desktop, under a private X server: a box a person
# sees (with zenity, and with xmessage alone), read back from a screenshot
# and dismissed with Return; and a launch file opened through the desktop's
# MIME database (gio open, and xdg-open as a browser does) after installing
# the Debian package into a scratch folder (lintian-clean), then after a
# per-user install whose product's section is in the user's own talvin.ini
# (no WINDIR in that session).
# Usage: desktop_test.sh BUILD_DIR RECORD_PRODUCT MIME_TYPE EXTENSION ARTIFACTS
source "$(dirname "$0")/../lib.sh"
build=$1 record_product=$(realpath "$2") mime_type=$3 extension=$4 artifacts=$5
need_tools Xvfb xdotool import convert tesseract zenity xmessage cpack dpkg-deb lintian gio xdg-open \
    update-mime-database update-desktop-database
mkdir -p "$artifacts" "$scratch/settings" "$scratch/signed" "$scratch/only-xmessage" "$scratch/product"
ln -s "$(command -v xmessage)" "$scratch/only-xmessage/xmessage"
start_xvfb
printf '[sample]\npath=%s\ncommand=%s\n' "$scratch/product" "$record_product" >"$scratch/settings/talvin.ini"

# A downloaded file's text, shown as it is: markup, ampersand, format, dash.
text='-n & <b>bold</b> 100%s sure'
printf '[launch]\napp=absent\nmissing=%s\n' "$text" >"$scratch/absent.tvl"
flat() { tr -d ' \n' <<<"$1" | tr , .; } # as the recogniser may space it
for helper in zenity xmessage; do
    search_path=$PATH
    [ $helper = zenity ] || search_path=$scratch/only-xmessage
    start_group pid env PATH="$search_path" WINDIR="$scratch/settings" "$build/launcher" \
        "$scratch/absent.tvl" 2>"$scratch/$helper.err"
    window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Product not installed!$' | head -1)
    [ -n "$window" ] || { fail "$helper: no box within 20 s"; continue; }
    import -window "$window" "$artifacts/$helper.png"
    convert "$artifacts/$helper.png" -resize 300% -colorspace Gray "$scratch/ocr.png"
    seen=$(flat "$(tesseract "$scratch/ocr.png" stdout --psm 6 2>/dev/null)")
    [[ "$seen" == *"$(flat "$text")"* ]] || fail "$helper: the box reads [$seen]"
    timeout 5 xdotool windowfocus --sync "$window" && timeout 5 xdotool key Return
    wait_until 5 eval '! kill -0 $pid 2>/dev/null' || fail "$helper: the launcher waits on after Return"
    check "$helper: standard error" "$(cat "$scratch/$helper.err")" "Product not installed!: $text"
done

name="game night, Tom's (1)$extension"
# open_in HOME DATA_DIRS WINDIR HOW...: a fresh user's desktop, seeing only
# the scratch folders, opens a downloaded launch file from its download folder.
open_in() {
    local home=$1 data=$2 windir=${3:+WINDIR=$3} record=$1/record
    shift 3
    set -- "${@/@FILE/$home/Downloads/$name}"
    mkdir -p "$home/Downloads" "$home/.local/share"
    printf '[launch]\napp=sample\n' >"$home/Downloads/$name"
    (cd "$home/Downloads" && timeout 10 env -i PATH=/usr/bin:/bin HOME="$home" DISPLAY="$DISPLAY" \
        XDG_DATA_HOME="$home/.local/share" XDG_DATA_DIRS="$data" XDG_CONFIG_HOME="$home" \
        $windir LAUNCHER_TEST_RECORD="$record" "$@") || fail "$*: failed"
    await_record "$record" && sleep 0.2
    check "$*: product's argument" "$(recorded "$record" arg)" "$home/Downloads/$name"
    check "$*: product's folder" "$(recorded "$record" cwd)" "$scratch/product"
    rm -f "$record"
}

root=$scratch/root
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/package" >"$scratch/cpack.log" 2>&1 &&
    dpkg -x "$scratch"/package/*.deb "$root" || { cat "$scratch/cpack.log"; fail "package"; finish; }
lintian --fail-on error,warning "$scratch"/package/*.deb >"$scratch/lintian.log" 2>&1 &&
    ! grep -q '^[EW]:' "$scratch/lintian.log" || fail "lintian: $(cat "$scratch/lintian.log")"
# The package's static launcher checks a signed file through the package's
# own talvin-verify (usr/libexec/talvin), signed by the package's talvin-sign.
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$scratch/key.pem" 2>/dev/null
printf '[signed]\npath=%s\ncommand=%s\npublickey1=%s\n' "$scratch/product" "$record_product" \
    "$("$root/usr/bin/talvin-sign" --key "$scratch/key.pem" --public)" >"$scratch/signed/talvin.ini"
printf '[launch]\napp=signed\nmessages=0\n' >"$scratch/signed.tvl"
"$root/usr/bin/talvin-sign" --key "$scratch/key.pem" "$scratch/signed.tvl"
WINDIR="$scratch/signed" LAUNCHER_TEST_RECORD="$scratch/signed.record" \
    "$root/usr/bin/talvin-launcher" "$scratch/signed.tvl" 2>"$scratch/signed.err"
await_record "$scratch/signed.record"
check "signed: standard error" "$(cat "$scratch/signed.err")" ""
# Registered there as dpkg's triggers would; the unpacked program stands in.
sed -i "s|^Exec=/usr/bin/talvin-launcher |Exec=$root/usr/bin/talvin-launcher |" "$root/usr/share/applications/talvin-launcher.desktop"
update-mime-database "$root/usr/share/mime" && update-desktop-database "$root/usr/share/applications"
open_in "$scratch/home1" "$root/usr/share" "$scratch/settings" gio open @FILE
open_in "$scratch/home2" "$root/usr/share" "$scratch/settings" xdg-open "$name" # relative, as Chromium does
cmake --install "$build" --prefix "$scratch/home3/.local" >"$scratch/install.log" 2>&1 ||
    { cat "$scratch/install.log"; fail "per-user install"; }
# A product installed for this user adds its section as docs/install.md shows.
mkdir -p "$scratch/home3/talvin" && (umask 077 && cp "$scratch/settings/talvin.ini" "$scratch/home3/talvin/")
open_in "$scratch/home3" "$scratch/no-data" "" gio open @FILE
finish
