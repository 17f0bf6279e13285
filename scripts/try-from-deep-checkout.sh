#!/usr/bin/env bash
# Runs scripts/try.sh as a newcomer would, from a copy of this checkout whose
# path is over 100 bytes, with no standard input and no display, and checks
# that the sample product was started with the identification appended.
set -uo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
top=$(mktemp -d)
trap 'rm -rf "$top"' EXIT
copy="$top/$(printf 'a-checkout-folder-%.0s' 1 2 3 4 5 6)/launcher"
mkdir -p "$copy"
# The sources as they are, without build folders or git's own files.
tar -C "$src" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$copy" -xf -
echo "checkout copied to $copy (${#copy} bytes)"

out=$(env -u DISPLAY -u WAYLAND_DISPLAY timeout 900 "$copy/scripts/try.sh" </dev/null 2>&1)
status=$?
fail() {
    printf '%s\n' "$out" | tail -30
    echo "try.sh from a deep checkout: FAILED ($1)"
    exit 1
}
[ "$status" -eq 0 ] || fail "exit status $status"
for expected in "--- launcher exited with 0" "sample product started in /tmp/talvin-sample." \
    "user=guest~" "password=secret~"; do
    printf '%s\n' "$out" | grep -qF -- "$expected" || fail "no line with: $expected"
done
if printf '%s\n' "$out" | grep -qE '^(Launcher|Product not installed!|File not found!|Launch failed):'; then
    fail "a message"
fi
echo "try.sh from a deep checkout: passed"
