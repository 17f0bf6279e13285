#!/usr/bin/env bash
# Usage: signing_test.sh TALVIN_SIGN TALVIN_VERIFY TALVIN_CHECK VERSION
# talvin-sign and talvin-verify held to the openssl command line: keys,
# signatures, links, and the files they refuse or leave unchanged; the
# tools' --version.
source "$(dirname "$0")/../lib.sh"
sign=$1 verify=$2 work=$scratch
for tool in "$sign" "$3"; do
    check "$tool --version" "$("$tool" --version; echo " $?")" "${tool##*/} $4"$'\n 0'
done

openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/key.pem" 2>/dev/null
openssl pkey -in "$work/key.pem" -pubout -out "$work/public.pem"

printf '[launch]\r\napp=client\r\ntitle=x[signature]' >"$work/game.tvl"
printf '[launch]\r\napp=client\r\ntitle=x[signature]\r\n' >"$work/expected"
"$sign" --key "$work/key.pem" "$work/game.tvl" || fail "signing failed"
head -c "$(stat -c %s "$work/expected")" "$work/game.tvl" >"$work/signed_part"
cmp -s "$work/expected" "$work/signed_part" || fail "signed part: $(od -c "$work/signed_part")"
tail -c +"$(($(stat -c %s "$work/expected") + 1))" "$work/game.tvl" >"$work/section"
[[ $(head -c 19 "$work/section") == $'[signature]\r\necdsa=' ]] || fail "section: $(od -c "$work/section")"
cmp -s <(tail -c 2 "$work/section") <(printf '\r\n') || fail "section does not end in CR LF"
tr -d '\r\n' <"$work/section" | cut -c 18- | base64 -d >"$work/signature.der"
openssl dgst -sha256 -verify "$work/public.pem" -signature "$work/signature.der" "$work/signed_part" \
    >/dev/null || fail "openssl does not verify the signature"

# refused FILE WHY: talvin-sign fails on FILE and leaves it as it was.
refused() {
    [ -e "$1" ] && cp "$1" "$work/before" || : >"$work/before"
    "$sign" --key "$work/key.pem" "$1" 2>/dev/null && fail "$2: signed"
    [ ! -e "$1" ] || cmp -s "$work/before" "$1" || fail "$2: the file was changed"
}
refused "$work/game.tvl" "signed with CR LF"
printf 'a\n[signature]\necdsa=x\n' >"$work/lf.tvl" && refused "$work/lf.tvl" "signed with LF"
printf '[signature]' >"$work/last.tvl" && refused "$work/last.tvl" "a signature header ending the file"
head -c $((1048576 - 255)) /dev/zero >"$work/big.tvl" && refused "$work/big.tvl" "over the size"
refused "$work/absent.tvl" "a missing file"
head -c 1000 /dev/zero >"$work/limit.tvl" && (ulimit -f 1 && trap '' XFSZ && exec timeout 20 "$sign" --key "$work/key.pem" "$work/limit.tvl" 2>/dev/null)
check "a section past the file size limit" "$? $(stat -c %s "$work/limit.tvl")" "1 1000"
# A helper beside the checking program that dies leaves the signature unchecked, not invalid.
cp "$3" "$work/check" && printf '#!/bin/sh\nkill -9 $$\n' >"$work/talvin-verify" && chmod +x "$work/talvin-verify"
printf '[client]\npublickey1=%s\n' "$("$sign" --key "$work/key.pem" --public)" >"$work/dies.ini"
[[ $("$work/check" --settings "$work/dies.ini" "$work/game.tvl") == *"; unchecked: "* ]] || fail "a dying helper: not unchecked"
mkfifo "$work/fifo.tvl" && timeout 20 "$sign" --key "$work/key.pem" "$work/fifo.tvl" 2>/dev/null
check "a FIFO, refused without waiting for a writer" "$?" 1
head -c $((1048576 - 256)) /dev/zero >"$work/full.tvl"
"$sign" --key "$work/key.pem" "$work/full.tvl" || fail "a file of the largest size was refused"
# --link: the link of the signed file, base64url unpadded; one over the
# launcher's 4096 characters is refused before the file changes.
# Its base64 holds both '+' and '/', which a link writes as '-' and '_'.
printf '[launch]\r\napp=client\r\n;\xff\x83\xe0\r\n' >"$work/linked.tvl"
link=$("$sign" --key "$work/key.pem" --link "$work/linked.tvl") || fail "--link failed"
[[ $link =~ ^talvin:[A-Za-z0-9_-]+$ ]] || fail "not a base64url link: $link"
b64=$(tr -- '-_' '+/' <<<"${link#talvin:}")
while [ $((${#b64} % 4)) -ne 0 ]; do b64+="="; done
cmp -s <(base64 -d <<<"$b64") "$work/linked.tvl" || fail "the link is not the signed file"
cmp -s <(head -c 39 "$work/linked.tvl") <(printf '[launch]\r\napp=client\r\n;\xff\x83\xe0\r\n[signature]') || fail "a line end added after one"
{ printf '[launch]\r\napp=client\r\n;'; head -c 3100 /dev/zero | tr '\0' x; } >"$work/long.tvl"
cp "$work/long.tvl" "$work/before"
"$sign" --key "$work/key.pem" --link "$work/long.tvl" >"$work/long.out" 2>/dev/null &&
    fail "a link over 4096 characters was made"
cmp -s "$work/before" "$work/long.tvl" && [ ! -s "$work/long.out" ] || fail "a file too long for a link was changed"
"$sign" --key "$work/key.pem" --link 2>/dev/null
check "--link without a file" "$?" 2
# Started without a standard output, the link is lost, never written into the file.
printf '[launch]\r\napp=a\r\n' | tee "$work/before" >"$work/unseen.tvl"
"$sign" --key "$work/key.pem" --link "$work/unseen.tvl" >&- 2>/dev/null
check "--link without a standard output" "$?:$(cmp -s "$work/before" "$work/unseen.tvl" || echo changed)" 1:
chmod 644 "$work/key.pem" && "$sign" --key "$work/key.pem" --public 2>&1 >/dev/null | grep -q "other accounts may read" ||
    fail "a key others may read: no warning"
chmod 600 "$work/key.pem" && check "a key of its owner's alone" "$("$sign" --key "$work/key.pem" --public 2>&1 >/dev/null)" ""
openssl pkey -in "$work/key.pem" -outform DER -out "$work/key.der" && chmod 600 "$work/key.der"
check "a DER key" "$("$sign" --key "$work/key.der" --public)" "$("$sign" --key "$work/key.pem" --public)"
check "a name's control characters shown" "$("$sign" --key "$work/key.pem" "$work/"$'\e]0;x\a' 2>&1 |
    grep -c '/\\x1B\]0;x\\x07: ')" 1

# talvin-verify KEY SIGNATURE: the point and r, s in hexadecimal (openssl's in capitals).
hex() { od -An -v -tx1 | tr -d ' \n'; }
key=$(openssl pkey -in "$work/key.pem" -pubout -outform DER | tail -c 64 | hex)
rs=$(openssl asn1parse -inform DER -in "$work/signature.der" | sed -n 's/.*INTEGER *://p' |
    while read -r n; do printf '%64s' "$n" | tr ' ' 0; done)
verdict() { "$verify" "$@"; echo $?; }
check "signed part" "$(verdict "$key" "$rs" <"$work/signed_part")" 0
check "a byte changed" "$(sed 's/client/clienu/' "$work/signed_part" | verdict "$key" "$rs")" 1
check "a digit that is not one" "$(verdict "${key%?}g" "$rs" </dev/null)" 2
check "a digit too many" "$(verdict "${key}0" "$rs" </dev/null)" 2
check "no signature" "$(verdict "$key" </dev/null)" 2
check "over 1 MiB" "$(head -c 1048577 /dev/zero | verdict "$key" "$rs")" 2
head -c 1048576 /dev/zero >"$work/mib"
rs=$(openssl dgst -sha256 -sign "$work/key.pem" "$work/mib" | openssl asn1parse -inform DER |
    sed -n 's/.*INTEGER *://p' | while read -r n; do printf '%64s' "$n" | tr ' ' 0; done)
check "1 MiB" "$(verdict "$key" "$rs" <"$work/mib")" 0
finish
