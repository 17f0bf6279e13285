#!/usr/bin/env bash
# Installs what is missing, builds the POSIX program and runs it on the
# sample launch file, as a browser would after a click. It never waits for a
# person: no display is used and nothing is read from standard input.
set -euo pipefail
cd "$(dirname "$0")/.."
unset DISPLAY WAYLAND_DISPLAY # messages go to standard error only
./scripts/install-deps.sh build </dev/null
cmake --preset posix >/dev/null </dev/null
cmake --build --preset posix --target launcher sample_product </dev/null

# The settings name the product and its folder by absolute paths of at most
# 79 bytes, which a checkout's own path may exceed: the sample runs from a
# short scratch folder (always under /tmp, as TMPDIR may be long too).
sample=$(mktemp -d /tmp/talvin-sample.XXXXXX)
trap 'rm -rf "$sample"' EXIT
cp build/examples/sample_product "$sample/sample_product"
mkdir "$sample/settings"
sed -e "s|@SAMPLE_DIR@|$sample|" -e "s|@SAMPLE_PRODUCT@|$sample/sample_product|" \
    examples/talvin.ini.in >"$sample/settings/talvin.ini"
chmod 600 "$sample/settings/talvin.ini" # it holds a password
cp examples/game.tvl "$sample/game.tvl"

echo "--- WINDIR=$sample/settings build/launcher $sample/game.tvl"
# The pipe ends once the launcher and the product it started (which writes
# to the same pipe) have both finished, so nothing is cut off.
set +e
WINDIR="$sample/settings" build/launcher "$sample/game.tvl" </dev/null 2>&1 | cat
status=${PIPESTATUS[0]}
set -e
echo "--- launcher exited with $status"
exit "$status"
