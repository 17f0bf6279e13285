#!/bin/sh
# Usage: run_fuzzer.sh TARGET SEEDS WORK [libFuzzer options...]
# Runs TARGET on a fresh copy of the seed corpus SEEDS made in WORK, so the
# seeds in the repository are never changed. A crash or a broken invariant
# leaves its input in WORK as crash-* and fails the test.
set -eu
target=$1 seeds=$2 work=$3
shift 3
rm -rf "$work"
mkdir -p "$work/corpus"
cp "$seeds"/* "$work/corpus/"
exec "$target" "$work/corpus" -artifact_prefix="$work/" -timeout=10 -rss_limit_mb=1024 \
    -print_final_stats=1 "$@"
