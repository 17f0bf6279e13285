#!/usr/bin/env bash
# Usage: wine_tools_test.sh PREFIX LAUNCHER.exe RECORD_PRODUCT.exe TALVIN-CHECK.exe TALVIN-SIGN
#
# What the launch cases cannot show under wine: a file signed by talvin-sign
# on this machine is taken by the Windows program (CNG), and one changed
# after signing is refused; talvin-check.exe foretells a launch and a failed
# start and changes nothing.
source "$(dirname "$0")/../lib.sh"
prefix=$1 launcher=$2 product=$3 checker=$4 signer=$5
need_tools wine openssl
make_wine_prefix "$prefix" || { fail "could not make the wine prefix"; finish; }
drive=$prefix/drive_c
mkdir -p "$drive/client" "$drive/temp"
cp "$product" "$drive/client/product.exe"
export LAUNCHER_TEST_RECORD='C:\temp\record'
settings() { printf '[client]\r\npath=c:\\client\r\ncommand=c:\\client\\product.exe\r\n%s[identification]\r\nuser=alice\r\npassword=s3cret\r\n' "$1" >"$drive/windows/talvin.ini"; }
launch() { (cd "$drive/temp" && WINEDEBUG=-all,+relay timeout 60 wine "$launcher" "$1") </dev/null >/dev/null 2>"$scratch/trace"; }
# The text and caption of each box in wine's trace of MessageBoxA.
boxes() { grep -a 'Call user32.MessageBoxA(' "$scratch/trace" | sed -E 's/^[^"]*"([^"]*)",[^"]*"([^"]*)".*/\2: \1/'; }

openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$scratch/key.pem" 2>/dev/null
public=$("$signer" --key "$scratch/key.pem" --public) || fail "talvin-sign --public"
settings "publickey1=$public"$'\r\n'
printf '[launch]\r\napp=client\r\nproduct=Sample\r\nserver=play\r\n' >"$drive/temp/game.tvl"
"$signer" --key "$scratch/key.pem" "$drive/temp/game.tvl" || fail "talvin-sign"
sed 's/server=play/server=evil/' "$drive/temp/game.tvl" >"$drive/temp/changed.tvl"
launch 'C:\temp\game.tvl'
await_record "$drive/temp/record"
check "signed file's argument" "$(recorded "$drive/temp/record" arg)" 'C:\TEMP\GAME.TVL'
check "signed file's boxes" "$(boxes)" ""
rm -f "$drive/temp/record"
launch 'C:\temp\changed.tvl'
check "changed file's box" "$(boxes)" 'Launch file refused: This launch file for Sample does not carry a valid signature of its publisher. It was not used.'

settings ""
printf '[launch]\r\napp=client\r\nmessages=0\r\n' >"$drive/temp/check.tvl"
before=$(od -c "$drive/temp/check.tvl")
json() { (cd "$drive/temp" && WINEDEBUG=-all timeout 60 wine "$checker" --json 'C:\temp\check.tvl') </dev/null 2>/dev/null | tr -d '\r'; }
out=$(json)
check "check exit status" "$?" 0
grep -qF '"start": {"command_line": "C:\\CLIENT\\PRODUCT.EXE \"C:\\TEMP\\CHECK.TVL\"", "directory": "c:\\client", "result": 33}' <<<"$out" || fail "talvin-check foretold no start: $out"
grep -qF 'password=******' <<<"$out" || fail "talvin-check showed no masked block: $out"
printf '[client]\r\ncommand=c:\\client\\absent.exe\r\n' >"$drive/windows/talvin.ini"
out=$(json)
grep -qF '"caption": "File not found!"' <<<"$out" || fail "talvin-check foretold no failed start: $out"
check "launch file after checking" "$(od -c "$drive/temp/check.tvl")" "$before"
check "nothing started by the checker" "$(ls "$drive/temp")" $'changed.tvl\ncheck.tvl\ngame.tvl'
finish
