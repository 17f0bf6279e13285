#!/usr/bin/env bash
# Usage: talvin_sign_test.sh TALVIN_SIGN
# talvin-sign checked by the openssl command line: the public key it prints is
# openssl's, its signature verifies over the bytes before the section, a last
# line without its line end gets CR LF (signed), a signed file is refused,
# and --link prints the signed file as a talvin: link.
source "$(dirname "$0")/../lib.sh"
sign=$1 work=$scratch

openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/key.pem" 2>/dev/null
openssl pkey -in "$work/key.pem" -pubout -out "$work/public.pem"
[ "$("$sign" --key "$work/key.pem" --public)" = "$(openssl pkey -in "$work/key.pem" -pubout -outform DER | base64 -w0)" ] ||
    fail "--public is not the DER public key in base64"

printf '[launch]\r\napp=client' >"$work/game.tvl"
printf '[launch]\r\napp=client\r\n' >"$work/expected"
"$sign" --key "$work/key.pem" "$work/game.tvl" || fail "signing failed"
head -c "$(stat -c %s "$work/expected")" "$work/game.tvl" >"$work/signed_part"
cmp -s "$work/expected" "$work/signed_part" || fail "signed part: $(od -c "$work/signed_part")"
tail -c +"$(($(stat -c %s "$work/expected") + 1))" "$work/game.tvl" >"$work/section"
[[ $(head -c 19 "$work/section") == $'[signature]\r\necdsa=' ]] || fail "section: $(od -c "$work/section")"
cmp -s <(tail -c 2 "$work/section") <(printf '\r\n') || fail "section does not end in CR LF"
tr -d '\r\n' <"$work/section" | cut -c 18- | base64 -d >"$work/signature.der"
openssl dgst -sha256 -verify "$work/public.pem" -signature "$work/signature.der" "$work/signed_part" \
    >/dev/null || fail "openssl does not verify the signature"

cp "$work/game.tvl" "$work/before"
"$sign" --key "$work/key.pem" "$work/game.tvl" 2>/dev/null && fail "a signed file was signed again"
cmp -s "$work/before" "$work/game.tvl" || fail "a refused file was changed"
# --link: the link of the signed file, base64url unpadded; one over the
# launcher's 4096 characters is refused before the file changes.
printf '[launch]\r\napp=client\r\n' >"$work/linked.tvl"
link=$("$sign" --key "$work/key.pem" --link "$work/linked.tvl") || fail "--link failed"
[[ $link =~ ^talvin:[A-Za-z0-9_-]+$ ]] || fail "not a base64url link: $link"
b64=$(tr -- '-_' '+/' <<<"${link#talvin:}")
while [ $((${#b64} % 4)) -ne 0 ]; do b64+="="; done
cmp -s <(base64 -d <<<"$b64") "$work/linked.tvl" || fail "the link is not the signed file"
{ printf '[launch]\r\napp=client\r\n;'; head -c 3100 /dev/zero | tr '\0' x; } >"$work/long.tvl"
cp "$work/long.tvl" "$work/before"
"$sign" --key "$work/key.pem" --link "$work/long.tvl" >"$work/long.out" 2>/dev/null &&
    fail "a link over 4096 characters was made"
cmp -s "$work/before" "$work/long.tvl" && [ ! -s "$work/long.out" ] || fail "a file too long for a link was changed"
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-384 -out "$work/p384.pem" 2>/dev/null
"$sign" --key "$work/p384.pem" --public >/dev/null 2>&1 && fail "a P-384 key was taken"
finish
