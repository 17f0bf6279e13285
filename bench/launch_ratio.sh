#!/bin/sh
# Usage: bench/launch_ratio.sh [BUILD_DIR] [RUNS]
# The time of the launcher on the sample (product started, identification
# appended) against starting the same product directly, over many runs of
# each, measured together by hyperfine. The launch file is restored before
# every run, outside the timing.
set -eu
build=$(cd "${1:-build}" && pwd)
runs=${2:-1000}
work=$(mktemp -d "${TMPDIR:-/tmp}/launcher-ratio-XXXXXX")
trap 'rm -rf "$work"' EXIT
src=$(cd "$(dirname "$0")/.." && pwd)
cp "$src/examples/game.tvl" "$work/original.tvl"
export WINDIR="$build/examples/settings"
hyperfine -N --warmup 50 --runs "$runs" --style basic \
    --prepare "cp $work/original.tvl $work/game.tvl" \
    --export-csv "$work/times.csv" \
    -n launcher "$build/launcher $work/game.tvl" \
    -n direct "$build/examples/sample_product \"$work/game.tvl\""
awk -F, 'NR == 2 { l = $2; lm = $4 } NR == 3 { d = $2; dm = $4 }
    END { printf "launcher mean %.2f ms, product directly %.2f ms: ratio %.2f (medians %.2f)\n",
          l * 1000, d * 1000, l / d, lm / dm }' "$work/times.csv"
