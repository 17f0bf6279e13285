#!/usr/bin/env bash
# Both ways of installing, as the desktop uses them. The Debian package:
# built with cpack, its contents unpacked into a scratch folder (the system
# is not changed) and registered there as dpkg's triggers would. The
# per-user install: cmake --install into a scratch ~/.local. Each time a
# launch file is opened the way file managers and browsers do (gio open,
# xdg-open), and the test product must be started with exactly that file.
# Usage: install_test.sh BUILD_DIR RECORD_PRODUCT MIME_TYPE EXTENSION
source "$(dirname "$0")/lib.sh"
build=$1
record_product=$(realpath "$2")
mime_type=$3
extension=$4
need_tools cpack dpkg-deb dpkg-shlibdeps lintian desktop-file-validate update-mime-database \
    update-desktop-database xdg-mime xdg-open gio mimetype Xvfb

# --- The package: built, with exactly the expected files and dependencies.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/package" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; echo "FAIL: cpack" >&2; exit 1; }
debs=("$scratch"/package/*.deb)
[ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: no single .deb: ${debs[*]}" >&2; exit 1; }
deb=${debs[0]}
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

expected_contents='./usr/
./usr/bin/
./usr/bin/talvin-check
./usr/bin/talvin-launcher
./usr/bin/talvin-sign
./usr/share/
./usr/share/applications/
./usr/share/applications/talvin-launcher.desktop
./usr/share/doc/
./usr/share/doc/talvin-launcher/
./usr/share/doc/talvin-launcher/changelog.gz
./usr/share/doc/talvin-launcher/copyright
./usr/share/man/
./usr/share/man/man1/
./usr/share/man/man1/talvin-check.1.gz
./usr/share/man/man1/talvin-launcher.1.gz
./usr/share/man/man1/talvin-sign.1.gz
./usr/share/man/man5/
./usr/share/man/man5/talvin-launch.5.gz
./usr/share/mime/
./usr/share/mime/packages/
./usr/share/mime/packages/talvin-launcher.xml'
contents=$(dpkg-deb -c "$deb" | awk '{print $NF}' | sort)
[ "$contents" = "$expected_contents" ] || fail "package contents:
$contents"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends; Recommends: $(dpkg-deb -f "$deb" Recommends)"
# The C library, and libcrypto, which the launcher loads to check signatures.
[[ "$depends" =~ ^libc6\ \(\>=\ [0-9.]+\),\ libssl3\ \(\>=\ [0-9.]+\)$ ]] ||
    fail "Depends: $depends (the C library and libssl3 only)"
[ "$(dpkg-deb -f "$deb" Recommends)" = zenity ] || fail "Recommends: $(dpkg-deb -f "$deb" Recommends)"
dpkg-deb -e "$deb" "$scratch/control"
for script in preinst postinst prerm postrm triggers; do
    [ ! -e "$scratch/control/$script" ] || fail "the package has a $script"
done
# What Debian's own checker finds: no error and no warning.
if ! lintian --fail-on error,warning "$deb" >"$scratch/lintian.log" 2>&1 ||
    grep -q '^[EW]:' "$scratch/lintian.log"; then
    fail "lintian: $(cat "$scratch/lintian.log")"
fi
echo "lintian: no error, no warning"

root=$scratch/root
dpkg -x "$deb" "$root"
desktop_file=$root/usr/share/applications/talvin-launcher.desktop
report=$(desktop-file-validate "$desktop_file" 2>&1)
[ -z "$report" ] || fail "desktop-file-validate: $report"
grep -qx 'Exec=/usr/bin/talvin-launcher %f' "$desktop_file" || fail "Exec line: $(grep ^Exec= "$desktop_file")"
grep -qx "MimeType=$mime_type;" "$desktop_file" || fail "MimeType line: $(grep ^MimeType= "$desktop_file")"

# --- Registered in the scratch folder, as dpkg's triggers do on install.
# The unpacked program stands in for /usr/bin/talvin-launcher (its folder holds
# no blank, so Exec= stays unquoted).
sed -i "s|^Exec=/usr/bin/talvin-launcher |Exec=$root/usr/bin/talvin-launcher |" "$desktop_file"

product_dir=$scratch/product
mkdir -p "$product_dir" "$scratch/settings" "$scratch/xdg-config" "$scratch/no-data"
printf '[sample]\npath=%s\ncommand=%s\n' "$product_dir" "$record_product" \
    >"$scratch/settings/talvin.ini"
name="game night, Tom's (1)$extension"

# use_home HOME DATA_DIRS [WINDIR]: a fresh user home with a downloaded
# launch file; sets desktop_env, the environment of that user's desktop,
# which sees only the scratch folders and nothing of this machine's own
# desktop set-up.
use_home() {
    home=$1
    downloads=$home/Downloads
    launch_file=$downloads/$name
    mkdir -p "$home/.local/share" "$home/.config" "$downloads"
    printf '[launch]\napp=sample\n' >"$launch_file"
    desktop_env=(env -i PATH=/usr/bin:/bin HOME="$home" XDG_DATA_HOME="$home/.local/share"
        XDG_DATA_DIRS="$2" XDG_CONFIG_HOME="$home/.config" XDG_CONFIG_DIRS="$scratch/xdg-config")
    if [ $# -gt 2 ]; then desktop_env+=(WINDIR="$3"); fi
}

# expect_type_and_handler: the desktop knows the type and its handler.
expect_type_and_handler() {
    local answer
    answer=$("${desktop_env[@]}" xdg-mime query filetype "$launch_file")
    [ "$answer" = "$mime_type" ] || fail "$1: xdg-mime query filetype: '$answer'"
    answer=$("${desktop_env[@]}" xdg-mime query default "$mime_type")
    [ "$answer" = talvin-launcher.desktop ] || fail "$1: xdg-mime query default: '$answer'"
}

# expect_started HOW RECORD: the product ran in its folder with the launch
# file's absolute path as its one argument.
expect_started() {
    local how=$1 record=$2 expected
    wait_until 10 test -s "$record"
    sleep 0.2 # the product writes its record in one go; let it close the file
    expected=$(printf 'cwd %d:%s\narg %d:%s\nsigpipe 7:default' "${#product_dir}" "$product_dir" \
        "${#launch_file}" "$launch_file")
    if [ ! -s "$record" ]; then
        fail "$how: the product was not started within 10 s"
    elif [ "$(cat "$record")" != "$expected" ]; then
        fail "$how: the product recorded
$(cat "$record")
expected
$expected"
    else
        echo "$how: the product was started with '$launch_file'"
    fi
}

# gio_open HOW: opens the launch file as a file manager does: an absolute
# path, no display needed.
gio_open() {
    local record=$scratch/$1.record
    (cd "$home" && timeout 10 "${desktop_env[@]}" LAUNCHER_TEST_RECORD="$record" \
        gio open "$launch_file") || fail "$1: gio open failed"
    expect_started "$1" "$record"
}

# The packaged program's system folder, /etc, is not to be written here.
use_home "$scratch/package-home" "$root/usr/share" "$scratch/settings"
"${desktop_env[@]}" update-mime-database "$root/usr/share/mime" || fail "update-mime-database"
"${desktop_env[@]}" update-desktop-database "$root/usr/share/applications" ||
    fail "update-desktop-database"
expect_type_and_handler package
gio_open "package, gio open"

# xdg-open, as Chromium opens a download: from the download folder, with a
# relative name, in a graphical session.
start_xvfb
record=$scratch/xdg-open.record
(cd "$downloads" && timeout 10 "${desktop_env[@]}" DISPLAY="$DISPLAY" \
    LAUNCHER_TEST_RECORD="$record" xdg-open "$name") || fail "xdg-open failed"
expect_started "package, xdg-open" "$record"

# --- The per-user install, without root: cmake --install into ~/.local
# registers the type and handler there by itself, and a product installed
# for this user adds its section to the user's own talvin.ini, as README
# shows; no WINDIR in the session.
use_home "$scratch/user-home" "$scratch/no-data"
(
    export HOME=$home XDG_CONFIG_HOME=$home/.config
    case "${XDG_CONFIG_HOME:-}" in /*) config=$XDG_CONFIG_HOME ;; *) config=$HOME/.config ;; esac
    mkdir -p "$config/talvin"
    touch "$config/talvin/talvin.ini"
    chmod 600 "$config/talvin/talvin.ini"
    printf '[sample]\npath=%s\ncommand=%s\n' "$product_dir" "$record_product" >>"$config/talvin/talvin.ini"
)
cmake --install "$build" --prefix "$home/.local" >"$scratch/install.log" 2>&1 ||
    { cat "$scratch/install.log" >&2; fail "cmake --install --prefix ~/.local"; }
for file in bin/talvin-launcher bin/talvin-check share/man/man1/talvin-launcher.1.gz \
    share/man/man1/talvin-check.1.gz share/man/man5/talvin-launch.5.gz; do
    [ -f "$home/.local/$file" ] || fail "per-user install: no ~/.local/$file"
done
grep -qx "Exec=$home/.local/bin/talvin-launcher %f" "$home/.local/share/applications/talvin-launcher.desktop" ||
    fail "per-user Exec line: $(grep ^Exec= "$home/.local/share/applications/talvin-launcher.desktop")"
expect_type_and_handler "per-user install"
gio_open "per-user install, gio open"
finish
