#!/usr/bin/env bash
# Runs every test: installs what is missing (a 32-bit wine too), builds the
# POSIX program, its sanitizer build and both Windows programs, and runs
# their test suites (each Windows build's under its own wine). Ends with one
# line: N passed, N failed.
set -uo pipefail
cd "$(dirname "$0")/.."
# In a graphical session the launcher's message boxes wait for a person;
# the desktop tests start their own X server, every other test runs without.
unset DISPLAY WAYLAND_DISPLAY

./scripts/install-deps.sh all || { echo "0 passed, 1 failed"; exit 1; }

passed=0
failed=0
logs=build-logs
mkdir -p "$logs"

# Counts the results of one ctest run from its closing summary.
count_ctest() {
    local log=$1 total fails
    total=$(sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\2/p' "$log" | tail -1)
    fails=$(sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
    if [ -z "$total" ]; then
        failed=$((failed + 1))
        return
    fi
    passed=$((passed + total - fails))
    failed=$((failed + fails))
}

# build PRESET: configure and build; a failed build, or a warning in the
# project's own code, counts as one failure.
build() {
    echo "=== build $1"
    if ! { cmake --preset "$1" >"$logs/configure-$1.log" 2>&1 &&
        cmake --build --preset "$1" >"$logs/build-$1.log" 2>&1; }; then
        echo "build $1 FAILED"
        tail -40 "$logs/configure-$1.log" "$logs/build-$1.log"
        failed=$((failed + 1))
        return 1
    fi
    if grep "warning:" "$logs/build-$1.log" | grep -v "/usr/src/googletest"; then
        echo "build $1 has warnings"
        failed=$((failed + 1))
    fi
}

# check PRESET: run its tests.
check() {
    echo "=== test $1"
    ctest --preset "$1" --timeout 600 2>&1 | tee "$logs/test-$1.log" | grep -vE "^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed"
    count_ctest "$logs/test-$1.log"
}

build posix && check posix
# A newcomer's first command, from a checkout whose path is long.
echo "=== try.sh from a deep checkout"
if ./scripts/try-from-deep-checkout.sh >"$logs/try-deep.log" 2>&1; then
    passed=$((passed + 1))
else
    tail -40 "$logs/try-deep.log"
    failed=$((failed + 1))
fi
build asan && check asan
build win64 && check win64
# The shipped 32-bit programs and packages, under the 32-bit wine.
build win32 && check win32

echo
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
