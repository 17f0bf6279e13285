#!/bin/sh
# Usage: memcheck.sh LAUNCHER RECORD_PRODUCT
# Runs the POSIX launcher under valgrind memcheck on representative runs:
# a typical start with the identification appended, and each way a launch
# stops with a message. Any memory error or leak of any kind fails the run,
# and so does a run that does not do what it should. The started product is
# not traced: the launcher does not wait for it.
set -u
launcher=$1
# The launcher changes to the product's directory before starting it.
product=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
work=$(mktemp -d "${TMPDIR:-/tmp}/launcher-memcheck-XXXXXX")
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
failures=0

settings="$work/windows"
mkdir -p "$settings" "$work/client" "$work/empty"

# run NAME EXPECTED_STDERR WINDIR ARGS...: one launch under valgrind; an
# expected text of "*" is not compared.
run() {
    name=$1 expected=$2 windir=$3
    shift 3
    WINDIR=$windir valgrind -q --error-exitcode=99 --leak-check=full --show-leak-kinds=all \
        --errors-for-leak-kinds=all --trace-children=no --child-silent-after-fork=yes --log-file="$work/$name.valgrind" \
        "$launcher" "$@" 2>"$work/$name.stderr"
    status=$?
    if [ "$status" -ne 0 ] || [ -s "$work/$name.valgrind" ]; then
        echo "FAIL $name: valgrind exit $status"
        cat "$work/$name.valgrind"
        failures=$((failures + 1))
        return 1
    fi
    if [ "$expected" != "*" ] && [ "$(cat "$work/$name.stderr")" != "$expected" ]; then
        echo "FAIL $name: messages differ"
        echo "expected: $expected"
        echo "got:      $(cat "$work/$name.stderr")"
        failures=$((failures + 1))
        return 1
    fi
    echo "ok   $name"
}

# wait_for FILE: the product runs on its own after the launcher has ended.
wait_for() {
    i=0
    while [ ! -s "$1" ] && [ $i -lt 100 ]; do
        sleep 0.1
        i=$((i + 1))
    done
    [ -s "$1" ]
}

printf '[launch]\r\napp=client\r\nmissing=The client is not installed.\r\nmessages=0\r\n' >"$work/game.tvl"
printf '[client]\npath=%s\ncommand=%s\n[identification]\nuser=guest\npassword=secret\nemail=g@example.org\n' \
    "$work/client" "$product" >"$settings/talvin.ini"

export LAUNCHER_TEST_RECORD="$work/record"
if run typical "" "$settings" "$work/game.tvl"; then
    if ! wait_for "$work/record" || ! grep -q "^arg [0-9]*:$work/game.tvl\$" "$work/record" ||
        ! grep -q "^cwd [0-9]*:$work/client\$" "$work/record" ||
        ! grep -q "password=secret" "$work/game.tvl"; then
        echo "FAIL typical: product not started as expected or block not appended"
        cat "$work/record" 2>/dev/null
        failures=$((failures + 1))
    fi
fi

run missing_launch_file "Launcher: Unable to open launch file!" "$settings" "$work/none.tvl"

printf '[my app]\n[launch]\napp=client\n' >"$work/bad.tvl"
rm -f "$work/record"
run bad_header "Launcher: no matching ']' found on [my!" "$settings" "$work/bad.tvl" &&
    wait_for "$work/record"

run missing_settings "Launcher: Unable to open talvin.ini file!" "$work/empty" "$work/game.tvl"

printf '[launch]\napp=other\nmissing=Other is not installed.\n' >"$work/other.tvl"
run not_installed "Product not installed!: Other is not installed." "$settings" "$work/other.tvl"

printf '[launch]\napp=gone\nmissing=Gone.\n' >"$work/gone.tvl"
printf '[gone]\ncommand=%s/client/absent\n' "$work" >"$work/empty/talvin.ini"
# Under valgrind the start is a plain fork, so the failure to run the
# program is not seen by the launcher and no message is shown.
run product_missing "*" "$work/empty" "$work/gone.tvl"

long=$(printf '%0300d' 0)
run argument_too_long "Launcher: Unable to open launch file!" "$settings" "$work/$long.tvl"

[ "$failures" -eq 0 ]
