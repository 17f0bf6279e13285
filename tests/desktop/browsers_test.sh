#!/usr/bin/env bash
# talvin: links through the desktop, under a private X server: a page on
# 127.0.0.1 whose link talvin-sign made, clicked in Firefox ESR and in
# Chromium, starts the product with the decoded file, the scheme allowed
# without a prompt (Firefox's handlers.json, Chromium's
# AutoLaunchProtocolsFromOrigins policy) and the Debian package registered
# as dpkg's triggers would; gio open after the per-user install; and one
# link launched twice at once (two files, two products).
# Usage: browsers_test.sh BUILD_DIR RECORD_PRODUCT ARTIFACTS
source "$(dirname "$0")/../lib.sh"
build=$1 record_product=$(realpath "$2") artifacts=$3
mkdir -p "$artifacts"
need_tools Xvfb xdotool cpack dpkg-deb python3 gio desktop-file-validate update-mime-database update-desktop-database
policy=/etc/chromium/policies/managed/talvin-links-test.json
trap 'rm -f "$policy"; cleanup' EXIT

root=$scratch/root
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/package" >"$scratch/cpack.log" 2>&1 &&
    dpkg -x "$scratch"/package/*.deb "$root" || { cat "$scratch/cpack.log"; fail "package"; finish; }
desktop-file-validate "$root"/usr/share/applications/*.desktop || fail "desktop-file-validate"
sed -i "s|^Exec=/usr/bin/talvin-launcher |Exec=$root/usr/bin/talvin-launcher |" \
    "$root"/usr/share/applications/talvin-launcher*.desktop
update-mime-database "$root/usr/share/mime" && update-desktop-database "$root/usr/share/applications"

# The product takes only files its publisher signed; the page serves the link.
mkdir -p "$scratch/settings" "$scratch/product" "$scratch/site"
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$scratch/key.pem" 2>/dev/null
printf '[sample]\npath=%s\ncommand=%s\npublickey1=%s\n[identification]\nuser=guest\npassword=secret\n' \
    "$scratch/product" "$record_product" \
    "$("$root/usr/bin/talvin-sign" --key "$scratch/key.pem" --public)" >"$scratch/settings/talvin.ini"
printf '[launch]\r\napp=sample\r\nproduct=Sample\r\nmessages=0\r\n' >"$scratch/game.tvl"
link=$("$root/usr/bin/talvin-sign" --key "$scratch/key.pem" --link "$scratch/game.tvl")
{ cat "$scratch/game.tvl"; printf '[identification]\r\nuser=guest\r\npassword=secret\r\n'; } >"$scratch/expected"
printf '<!doctype html><title>Play</title><style>a{display:block;position:fixed;inset:0;font-size:60px}</style>
<a href="%s">Play</a>\n' "$link" >"$scratch/site/index.html"
start_group server python3 -m http.server --bind 127.0.0.1 --directory "$scratch/site" 0 \
    >"$scratch/server.log" 2>&1
wait_until 10 grep -q ' port [0-9]' "$scratch/server.log" || { fail "no web server"; finish; }
page=http://127.0.0.1:$(sed -n 's/.* port \([0-9]*\).*/\1/p' "$scratch/server.log" | head -1)/

# session_env HOME: the environment of a fresh user's desktop session that
# sees only the package's data folders, in the array `session`.
session_env() {
    local home=$1
    mkdir -p "$home/run" && chmod 700 "$home/run"
    session=(env -i PATH=/usr/bin:/bin HOME="$home" DISPLAY="$DISPLAY" LANG=C.UTF-8 XDG_DATA_DIRS="$root/usr/share"
        XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config"
        XDG_RUNTIME_DIR="$home/run" WINDIR="$scratch/settings" LAUNCHER_TEST_RECORD="$home/record")
}
# launched WHAT HOME [RECORD]: the product was handed a new file in the
# private folder holding the link's bytes and the block.
launched() {
    local what=$1 home=$2 record=${3:-$2/record} arg before=$failures
    await_record "$record" && sleep 0.2
    arg=$(recorded "$record" arg)
    [[ $arg == "$home/run/talvin/link-"*.tvl ]] || fail "$what: the product was handed [$arg]"
    cmp -s "$arg" "$scratch/expected" || fail "$what: $arg holds $(od -c "$arg" | head -5)"
    check "$what: product's folder" "$(recorded "$record" cwd)" "$scratch/product"
    check "$what: modes" "$(stat -c %a "$home/run/talvin" "$arg" | tr '\n' ' ')" "700 600 "
    [ "$failures" -eq "$before" ]
}
# page_window: the browser's window that shows the page.
page_window() {
    local id
    for id in $(xdotool search --name Play 2>/dev/null); do
        [[ $(xdotool getwindowname "$id") == Play* ]] && window=$id && return 0
    done
    return 1
}
# click WHAT: clicks the page's link once the browser shows it (the link
# fills the page); a screenshot of a failure goes to ARTIFACTS.
click() {
    window=
    wait_until 90 page_window || { fail "$1: the page did not show within 90 s"; return 1; }
    sleep 2
    timeout 5 xdotool windowfocus --sync "$window" 2>/dev/null
    timeout 5 xdotool mousemove --sync 300 300 click 1
}
shot() { import -window root "$artifacts/$1.png" 2>/dev/null; }

start_xvfb
if command -v firefox-esr >/dev/null; then
    home=$scratch/firefox profile=$scratch/firefox/profile
    mkdir -p "$profile"
    # The scheme's handler is the system's, asked for no more.
    printf '{"defaultHandlersVersion":{},"mimeTypes":{},"schemes":{"talvin":{"action":4,"ask":false}}}\n' \
        >"$profile/handlers.json"
    printf 'user_pref("%s", %s);\n' security.external_protocol_requires_permission false \
        network.protocol-handler.external.talvin true browser.shell.checkDefaultBrowser false \
        datareporting.policy.dataSubmissionEnabled false toolkit.telemetry.reportingpolicy.firstRun false \
        browser.aboutwelcome.enabled false >"$profile/user.js"
    session_env "$home"
    start_group firefox "${session[@]}" firefox-esr --no-remote --profile "$profile" "$page" \
        >"$home/browser.log" 2>&1
    click firefox && launched firefox "$home" || shot firefox
    kill -TERM -- "-$firefox" 2>/dev/null
else
    fail "firefox-esr is missing"
fi
if command -v chromium >/dev/null && mkdir -p "$(dirname "$policy")" 2>/dev/null &&
    printf '{"AutoLaunchProtocolsFromOrigins": [{"protocol": "talvin", "allowed_origins": ["%s"]}]}\n' \
        "${page%/}" >"$policy"; then
    home=$scratch/chromium
    session_env "$home"
    start_group chromium "${session[@]}" chromium --no-sandbox --disable-gpu --disable-quic \
        --no-first-run --no-default-browser-check --disable-background-networking \
        --disable-component-update --disable-sync --password-store=basic \
        --user-data-dir="$home/profile" "$page" >"$home/browser.log" 2>&1
    click chromium && launched chromium "$home" || shot chromium
    kill -TERM -- "-$chromium" 2>/dev/null
elif command -v chromium >/dev/null; then
    echo "SKIP chromium: its policy cannot be installed in $(dirname "$policy") (not root)"
else
    fail "chromium is missing"
fi

# Per user: gio open finds the handler the install registered.
home=$scratch/home
cmake --install "$build" --prefix "$home/.local" >"$scratch/install.log" 2>&1 ||
    { cat "$scratch/install.log"; fail "per-user install"; }
mkdir -p "$home/run" && chmod 700 "$home/run"
env -i PATH=/usr/bin:/bin HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_DATA_DIRS="$scratch/none" \
    XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$home/run" WINDIR="$scratch/settings" \
    LAUNCHER_TEST_RECORD="$home/record" timeout 10 gio open "$link" || fail "gio open failed"
launched "gio open" "$home"

# Two launches of one link at once: two files, two products.
home=$scratch/twice twice=()
mkdir -p "$home/run" && chmod 700 "$home/run"
for n in 1 2; do
    XDG_RUNTIME_DIR="$home/run" WINDIR="$scratch/settings" LAUNCHER_TEST_RECORD="$home/record$n" \
        "$root/usr/bin/talvin-launcher" "$link" 2>>"$home/err" &
    twice+=($!)
done
wait "${twice[@]}"
for n in 1 2; do launched "twice, $n" "$home" "$home/record$n"; done
check "twice: files" "$(ls "$home/run/talvin" | wc -l)" 2
check "twice: boxes" "$(cat "$home/err")" ""
finish
