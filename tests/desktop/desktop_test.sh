#!/usr/bin/env bash
# The POSIX program on a desktop under a private X server, from the Debian
# package and then a per-user install: boxes read back by OCR, files and
# signed talvin: links opened as a desktop and browsers open them.
# Usage: desktop_test.sh BUILD_DIR RECORD_PRODUCT EXTENSION ARTIFACTS
source "$(dirname "$0")/../lib.sh"
build=$1 record_product=$(realpath "$2") extension=$3 artifacts=$4
need_tools Xvfb xdotool import convert tesseract zenity xmessage cpack dpkg-deb lintian gio xdg-open \
    python3 desktop-file-validate update-mime-database update-desktop-database
# Chromium reads every file here: each run has its own, and all say the same
# (any port of 127.0.0.1: open talvin: links without asking, and launch files
# once saved), so that runs at once never take one another's away.
policy=/etc/chromium/policies/managed/talvin-test-$$.json
trap 'rm -f "$policy"; cleanup' EXIT
mkdir -p "$artifacts" "$scratch/settings" "$scratch/only-xmessage" "$scratch/product" "$scratch/site"
ln -s "$(command -v xmessage)" "$scratch/only-xmessage/xmessage"
start_xvfb

root=$scratch/root
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/package" >"$scratch/cpack.log" 2>&1 &&
    dpkg -x "$scratch"/package/*.deb "$root" || { cat "$scratch/cpack.log"; fail "package"; finish; }
lintian --fail-on error,warning "$scratch"/package/*.deb >"$scratch/lintian.log" 2>&1 &&
    ! grep -q '^[EW]:' "$scratch/lintian.log" || fail "lintian: $(cat "$scratch/lintian.log")"
desktop-file-validate "$root"/usr/share/applications/*.desktop || fail "desktop-file-validate"
# Its removal takes every account's files of talvin: links (an account the
# test makes; root only), as that account, and nothing else.
dpkg-deb -e "$scratch"/package/*.deb "$scratch/control"
links_user=talvin-links-$$ links_home=$(mktemp -d /tmp/talvin-links.XXXXXX)
if [ "$(id -u)" = 0 ] && useradd -M -d "$links_home" "$links_user" 2>/dev/null; then
    mkdir -p "$links_home/.cache/talvin" && touch "$links_home/.cache/talvin/link-000000000000000000000001.tvl" \
        "$links_home/.cache/talvin/notes" && chown -R "$links_user" "$links_home" && chmod 755 "$links_home"
    "$scratch/control/postrm" purge || fail "postrm purge"
    userdel "$links_user"
    check "purge: the links folder" "$(ls -A "$links_home/.cache/talvin")" notes
else
    echo "SKIP postrm: no account can be made here"
fi
rm -rf "$links_home"
# The unpacked program stands in for /usr/bin's.
sed -i "s|^Exec=/usr/bin/talvin-launcher |Exec=$root/usr/bin/talvin-launcher |" \
    "$root"/usr/share/applications/talvin-launcher*.desktop
update-mime-database "$root/usr/share/mime" && update-desktop-database "$root/usr/share/applications"

# [signed] takes only files its publisher signed; the page serves its link.
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$scratch/key.pem" 2>/dev/null
printf '[sample]\npath=%s\ncommand=%s\n[signed]\npath=%s\ncommand=%s\npublickey1=%s\n[identification]\nuser=guest\npassword=secret\n' \
    "$scratch/product" "$record_product" "$scratch/product" "$record_product" \
    "$("$root/usr/bin/talvin-sign" --key "$scratch/key.pem" --public)" >"$scratch/settings/talvin.ini"
printf '[launch]\r\napp=signed\r\nproduct=Sample\r\nmessages=0\r\n' >"$scratch/game.tvl"
link=$("$root/usr/bin/talvin-sign" --key "$scratch/key.pem" --link "$scratch/game.tvl")
{ cat "$scratch/game.tvl"; printf '[identification]\r\nuser=guest\r\npassword=secret\r\n'; } >"$scratch/expected"
# The page: the signed link above, a launch file to download below. Its title
# says what it can take: "Ready" once its first frame is painted, "Clicked
# ID" once its link ID took a click (the browser then opens it).
printf '<!doctype html><title>Loading</title><style>a{position:fixed;left:0;right:0;top:0;height:50%%;font-size:60px}
#file{top:50%%}</style><a id="link" href="%s">Play</a><a id="file" href="game.tvl">Download</a>
<script>requestAnimationFrame(() => setTimeout(() => document.title = "Ready"));
addEventListener("click", event => document.title = "Clicked " + event.target.id, true);</script>\n' \
    "$link" >"$scratch/site/index.html"
printf '[launch]\napp=sample\n' >"$scratch/site/game.tvl"
# The site is served by the handler docs/serving.md gives.
sed -n '/^```python$/,/^```$/{/^```/!p}' "$(dirname "$0")/../../docs/serving.md" >"$scratch/serve.py"
start_group server env PYTHONPATH="$scratch" python3 -uc 'import functools, http.server, serve, sys
handler = functools.partial(serve.LaunchFileHandler, directory=sys.argv[1])
with http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler) as server:
    print("port", server.server_address[1])
    server.serve_forever()' "$scratch/site" >"$scratch/server.log" 2>&1

# A downloaded file's text, shown as it is: markup, ampersand, format, dash.
text='-n & <b>bold</b> 100%s sure'
printf '[launch]\napp=absent\nmissing=%s\n' "$text" >"$scratch/absent.tvl"
flat() { tr -d ' \n' <<<"$1" | tr , .; } # as the recogniser may space it
for helper in zenity xmessage; do
    search_path=$PATH
    [ $helper = zenity ] || search_path=$scratch/only-xmessage
    start_group pid env PATH="$search_path" WINDIR="$scratch/settings" "$root/usr/bin/talvin-launcher" \
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

# session_env HOME DATA_DIRS [WINDIR]: a fresh user's desktop session that
# sees only DATA_DIRS, in the array `session`.
session_env() {
    local home=$1
    mkdir -p "$home/run" "$home/Downloads" "$home/.local/share" && chmod 700 "$home/run"
    session=(env -i PATH=/usr/bin:/bin HOME="$home" DISPLAY="$DISPLAY" LANG=C.UTF-8 XDG_DATA_DIRS="$2"
        XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$home/run"
        ${3:+WINDIR=$3} LAUNCHER_TEST_RECORD="$home/record")
}
name="game night, Tom's (1)$extension"
# opened WHAT FILE: the product was started on FILE, in its folder.
opened() {
    await_record "$home/record"
    check "$1: product's argument" "$(recorded "$home/record" arg)" "$2"
    check "$1: product's folder" "$(recorded "$home/record" cwd)" "$scratch/product"
    rm -f "$home/record"
}
# open_file HOW...: the session opens a downloaded launch file from its
# download folder (@FILE: its whole path).
open_file() {
    printf '[launch]\napp=sample\n' >"$home/Downloads/$name"
    (cd "$home/Downloads" && timeout 10 "${session[@]}" "${@/@FILE/$home/Downloads/$name}") ||
        fail "$*: failed"
    opened "$*" "$home/Downloads/$name"
}
# launched WHAT [RECORD]: the product was handed a new file in the private
# folder holding the link's bytes and the block.
launched() {
    local what=$1 record=${2:-$home/record} arg before=$failures
    await_record "$record"
    arg=$(recorded "$record" arg)
    [[ $arg == "$home/run/talvin/link-"*.tvl ]] || fail "$what: the product was handed [$arg]"
    cmp -s "$arg" "$scratch/expected" || fail "$what: $arg holds $(od -c "$arg" | head -5)"
    check "$what: product's folder" "$(recorded "$record" cwd)" "$scratch/product"
    check "$what: modes" "$(stat -c %a "$home/run/talvin" "$arg" | tr '\n' ' ')" "700 600 "
    [ "$failures" -eq "$before" ]
}
home=$scratch/home1 && session_env "$home" "$root/usr/share" "$scratch/settings"
open_file gio open @FILE
home=$scratch/home2 && session_env "$home" "$root/usr/share" "$scratch/settings"
open_file xdg-open "$name" # relative, as Chromium does

# titled PATTERN: the browser's window whose title matches PATTERN, in `window`
# (by its process: another browser's window may not have gone yet).
titled() {
    window=$(xdotool search --all --pid "$browser" --name "$1" 2>/dev/null | head -1)
    [ -n "$window" ]
}
# click WHAT ID TENTHS: clicks the page's link ID, TENTHS of the window's
# height down, once the page is painted, and again while the page took no
# click (a browser still starting may drop one), until 60 s.
click() {
    local deadline=$((SECONDS + 60)) clicks=0 WINDOW X Y WIDTH HEIGHT SCREEN
    wait_until 90 titled '^(Ready|Clicked)' || { fail "$1: the page was not ready within 90 s"; return 1; }
    eval "$(xdotool getwindowgeometry --shell "$window")"
    until [ $clicks -gt 0 ] && wait_until 5 titled "^Clicked $2"; do
        [ $SECONDS -lt $deadline ] || { fail "$1: the page's $2 took none of $clicks clicks"; return 1; }
        timeout 5 xdotool windowfocus --sync "$window" 2>/dev/null
        timeout 5 xdotool mousemove --window "$window" --sync 300 $((HEIGHT * $3 / 10)) click 1 &&
            clicks=$((clicks + 1))
    done
    [ $clicks -eq 1 ] || echo "$1: the page's $2 took click $clicks"
}
# answer_prompt: Firefox's prompt for the download, "Open with" the desktop's
# handler chosen, is answered with Return, again while it stays (its button
# takes no key for its first second).
answer_prompt() {
    local deadline=$((SECONDS + 30))
    wait_until 30 titled '^Opening ' || { fail "firefox: no prompt for the download"; return 1; }
    while titled '^Opening '; do
        [ $SECONDS -lt $deadline ] || { fail "firefox: the prompt took no Return"; return 1; }
        timeout 5 xdotool windowfocus --sync "$window" 2>/dev/null
        timeout 5 xdotool key Return
        wait_until 1 eval '! titled "^Opening "'
    done
}
# browse NAME OPEN COMMAND...: the session's browser opens the page; its link
# is clicked, then its launch file downloaded and opened (OPEN: what a person
# then does); the browser has gone before the next one starts.
browse() {
    local browser
    start_group browser "${session[@]}" "${@:3}" "$page" >"$home/browser.log" 2>&1
    { click "$1" link 4 && launched "$1" && rm "$home/record" && click "$1" file 9 && $2 &&
        opened "$1: download" "$home/Downloads/game.tvl"; } ||
        { import -window root "$artifacts/$1.png" 2>/dev/null; cp "$home/browser.log" "$artifacts/$1.log"; }
    kill -TERM -- "-$browser" 2>/dev/null
    wait_until 30 eval '! kill -0 -- -$browser 2>/dev/null' || kill -KILL -- "-$browser" 2>/dev/null
}
wait_until 10 grep -q '^port [0-9]' "$scratch/server.log" || { fail "no web server"; finish; }
page=http://127.0.0.1:$(sed -n 's/^port //p' "$scratch/server.log")/
if command -v firefox-esr >/dev/null; then
    home=$scratch/firefox profile=$scratch/firefox/profile
    mkdir -p "$profile"
    # The scheme's handler is the system's, asked for no more; a launch file's
    # prompt offers the system's handler first.
    printf '{"defaultHandlersVersion":{},"mimeTypes":{"%s":{"action":4,"ask":true}},%s}\n' \
        application/x-talvin-launch '"schemes":{"talvin":{"action":4,"ask":false}}' >"$profile/handlers.json"
    printf 'user_pref("%s", %s);\n' security.external_protocol_requires_permission false \
        network.protocol-handler.external.talvin true browser.shell.checkDefaultBrowser false \
        datareporting.policy.dataSubmissionEnabled false toolkit.telemetry.reportingpolicy.firstRun false \
        browser.aboutwelcome.enabled false >"$profile/user.js"
    session_env "$home" "$root/usr/share" "$scratch/settings"
    browse firefox answer_prompt firefox-esr --no-remote --profile "$profile"
else
    fail "firefox-esr is missing"
fi
if command -v chromium >/dev/null && mkdir -p "$(dirname "$policy")" 2>/dev/null &&
    printf '{"AutoLaunchProtocolsFromOrigins": [{"protocol": "talvin", "allowed_origins": ["%s"]}],
        "AutoOpenFileTypes": ["tvl"], "AutoOpenAllowedForURLs": ["%s"]}\n' "${page%:*}" "${page%:*}" >"$policy"; then
    home=$scratch/chromium
    session_env "$home" "$root/usr/share" "$scratch/settings"
    browse chromium true chromium --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --no-default-browser-check --disable-background-networking --disable-component-update \
        --disable-sync --password-store=basic --user-data-dir="$home/profile"
elif command -v chromium >/dev/null; then
    echo "SKIP chromium: its policy cannot be installed in $(dirname "$policy") (not root)"
else
    fail "chromium is missing"
fi

# Per user, no WINDIR: the products installed for this user are in the
# user's own talvin.ini (docs/install.md); gio open finds the handlers the
# install registered.
home=$scratch/home3 && session_env "$home" "$scratch/no-data"
cmake --install "$build" --prefix "$home/.local" >"$scratch/install.log" 2>&1 ||
    { cat "$scratch/install.log"; fail "per-user install"; }
mkdir -p "$home/.config/talvin" && (umask 077 && cp "$scratch/settings/talvin.ini" "$home/.config/talvin/")
open_file gio open @FILE
(timeout 10 "${session[@]}" gio open "$link") || fail "gio open of the link failed"
launched "gio open"
# The setup check finds this launcher; talvin-uninstall takes the install
# back, the links folder too, keeping talvin.ini unless asked.
version=$("$home/.local/bin/talvin-check" --version) && version=${version#talvin-check }
check "setup check" "$("${session[@]}" "$home/.local/bin/talvin-check" --setup | tail -1; echo "exit ${PIPESTATUS[0]}")" \
    "A click reaches this launcher, version $version, and it reads its settings."$'\nexit 0'
cp "$home/.local/bin/talvin-uninstall" "$scratch/uninstall-again"
"${session[@]}" "$home/.local/bin/talvin-uninstall" >/dev/null || fail "talvin-uninstall"
check "left by talvin-uninstall" "$(ls -d $(cat "$build/install_manifest.txt") "$home/run/talvin" \
    "$home/.local/share/mime" "$home/.local/share/applications" 2>/dev/null)" ""
check "talvin.ini kept" "$(cat "$home/.config/talvin/talvin.ini")" "$(cat "$scratch/settings/talvin.ini")"
"${session[@]}" "$scratch/uninstall-again" --settings >/dev/null && test ! -e "$home/.config/talvin" ||
    fail "talvin-uninstall --settings left $(ls -A "$home/.config/talvin")"

# Two launches of one link at once: two files, two products.
home=$scratch/twice twice=()
mkdir -p "$home/run" && chmod 700 "$home/run"
for n in 1 2; do
    XDG_RUNTIME_DIR="$home/run" WINDIR="$scratch/settings" LAUNCHER_TEST_RECORD="$home/record$n" \
        "$root/usr/bin/talvin-launcher" "$link" 2>>"$home/err" &
    twice+=($!)
done
wait "${twice[@]}"
for n in 1 2; do launched "twice, $n" "$home/record$n"; done
check "twice: files" "$(ls "$home/run/talvin" | wc -l)" 2
check "twice: boxes" "$(cat "$home/err")" ""
# A link's file goes once the product has had time to read it (a minute; 5 s
# here), though the launcher ended at once; another file of the folder stays.
touch "$home/run/talvin/notes"
XDG_RUNTIME_DIR="$home/run" WINDIR="$scratch/settings" LAUNCHER_TEST_RECORD="$home/record3" \
    TALVIN_TEST_LINK_KEEP=5 "$root/usr/bin/talvin-launcher" "$link"
launched "kept a while" "$home/record3"
kept=$(recorded "$home/record3" arg)
wait_until 10 test ! -e "$kept" || fail "the link's file is left after its time"
check "files after the time (the two above and notes)" "$(ls "$home/run/talvin" | wc -l)" 3
finish
