#!/bin/sh
# Usage: memcheck_e2e.sh E2E_SUITE
# Runs the end-to-end suite with every launcher run under valgrind memcheck.
# A memory error or a leak of any kind makes valgrind end the launcher with
# 99, which the suite sees; each run's report also goes to a log of its own,
# and any log that is not empty fails the test. The started products are not
# traced.
set -u
suite=$1
logs=$(mktemp -d "${TMPDIR:-/tmp}/launcher-memcheck-e2e-XXXXXX")
trap 'rm -rf "$logs"' EXIT
LAUNCHER_E2E_WRAPPER="valgrind -q --error-exitcode=99 --leak-check=full --show-leak-kinds=all \
--errors-for-leak-kinds=all --trace-children=no --child-silent-after-fork=yes \
--log-file=$logs/valgrind.%p.log" "$suite"
status=$?
runs=$(ls "$logs" | wc -l)
for log in "$logs"/*; do
    [ -s "$log" ] || continue
    echo "--- $log"
    cat "$log"
    status=1
done
echo "$runs launcher runs under valgrind"
[ "$runs" -gt 0 ] || status=1
exit $status
