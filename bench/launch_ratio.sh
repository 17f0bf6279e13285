#!/bin/sh
# Usage: bench/launch_ratio.sh [BUILD_DIR] [RUNS]
# The time of the launcher on the sample (product started, identification
# appended) against starting the same product directly, over many runs of
# each, measured together by hyperfine. The launch file is restored before
# every run, outside the timing. LAUNCHER names another build of the
# launcher to measure instead of BUILD_DIR/launcher.
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
    -n launcher "${LAUNCHER:-$build/launcher} $work/game.tvl" \
    -n direct "$build/examples/sample_product \"$work/game.tvl\""
# Columns: command, mean, stddev, median, user, system, min, max.
awk -F, 'NR == 2 { l = $2; lm = $4; ln = $7 } NR == 3 { d = $2; dm = $4; dn = $7 }
    END { printf "launcher %.3f ms, product directly %.3f ms (means): ratio %.2f\n", l * 1000, d * 1000, l / d
          printf "ratio of medians %.2f, of minimums %.2f\n", lm / dm, ln / dn }' "$work/times.csv"
