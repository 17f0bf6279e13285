#!/usr/bin/env bash
# Installs what is missing, builds the POSIX program and runs it on the
# sample launch file, as a browser would after a click.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh build
cmake --preset posix >/dev/null
cmake --build --preset posix
sample=build/examples
cp examples/game.tvl "$sample/game.tvl" # a fresh download: each run appends
echo "--- WINDIR=$sample/settings build/launcher $sample/game.tvl"
WINDIR="$PWD/$sample/settings" build/launcher "$sample/game.tvl"
echo "--- launcher exited with $?"
sleep 0.5 # the product runs on its own; give it a moment to print
