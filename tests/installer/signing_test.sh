#!/usr/bin/env bash
# Signing as a build step, with a throwaway certificate: each shipped file
# signed, and signed again with a renewed one; one inside the sources refused.
# Usage: signing_test.sh SOURCE_DIR
source "$(dirname "$0")/../lib.sh"
need_tools openssl osslsigncode
# Outside the sources, where a publisher keeps the certificate.
source_dir=$1 work=$scratch build=$scratch/build
# certificate NAME: a throwaway one, NAME.pfx and NAME.pem.
certificate() {
    openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=$1" -addext extendedKeyUsage=codeSigning \
        -days 2 -keyout "$work/$1.key" -out "$work/$1.pem" 2>/dev/null &&
        openssl pkcs12 -export -inkey "$work/$1.key" -in "$work/$1.pem" -passout pass:test-secret \
            -out "$work/$1.pfx"
}
certificate publisher && certificate renewed && echo test-secret >"$work/password" ||
    { fail "throwaway certificates"; finish; }
configure() {
    timeout 300 cmake -S "$source_dir" -B "$build" -G Ninja -DLAUNCHER_TESTS=OFF \
        -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/toolchain-x86_64-w64-mingw32.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel "$@" >"$work/configure.log" 2>&1
}
# verify FILE [CERTIFICATE]: accepted, with SHA-256.
verify() {
    local answer
    answer=$(osslsigncode verify -CAfile "$work/${2:-publisher}.pem" "$1" 2>&1)
    [[ $answer =~ Message\ digest\ algorithm\ +:\ SHA256 && $answer == *Succeeded ]] ||
        fail "$1 is not signed by ${2:-publisher}: $answer"
}

configure -DLAUNCHER_SIGN_PKCS12="$source_dir/publisher.pfx" -DLAUNCHER_SIGN_PASSWORD_FILE="$work/password" &&
    fail "a certificate named inside the sources was taken"
grep -q "is inside the source" "$work/configure.log" || fail "no reason given: $(tail -3 "$work/configure.log")"
rm -rf "$build"

configure -DLAUNCHER_SIGN_PKCS12="$work/publisher.pfx" -DLAUNCHER_SIGN_PASSWORD_FILE="$work/password" &&
    timeout 600 cmake --build "$build" -j 2 --target installer msi_package talvin-check \
        >"$work/build.log" 2>&1 || { tail -n 20 "$work/configure.log" "$work/build.log"; fail "signed build"; finish; }
signed=("$build"/talvin-launcher-setup-*.exe "$build"/talvin-launcher-*.msi "$build/launcher.exe"
    "$build/talvin-check.exe" "$build/talvin-config.exe")
for file in "${signed[@]}"; do verify "$file"; done
check "signed files" "${#signed[@]}" 5

make_wine_prefix "$scratch/prefix" || { fail "wineboot"; finish; }
timeout 120 wine "${signed[0]}" /S
verify "$(winepath -u "$(wine cmd /c 'echo %LOCALAPPDATA%' | tr -d '\r')\\Programs\\Talvin Launcher\\uninstall.exe" | tr -d '\r')"


# A time-stamping authority of the test's own.
openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=TSA -days 2 -keyout "$work/tsa.key" \
    -addext extendedKeyUsage=critical,timeStamping -out "$work/tsa.pem" 2>/dev/null
echo 01 >"$work/serial"
printf '[tsa]\ndefault_tsa = test\n[test]\nserial = %s\nsigner_cert = %s\nsigner_key = %s\n%s\n' \
    "$work/serial" "$work/tsa.pem" "$work/tsa.key" \
    $'signer_digest = sha256\ndefault_policy = 1.2.3.4.1\ndigests = sha256\ness_cert_id_alg = sha256' \
    >"$work/tsa.cnf"
start_group tsa python3 "$(dirname "$0")/time_stamping.py" "$work" >"$work/tsa.port"
wait_until 10 test -s "$work/tsa.port" || fail "the time-stamping authority did not start"

configure -DLAUNCHER_SIGN_PKCS12="$work/renewed.pfx" -DLAUNCHER_SIGN_PASSWORD_FILE= \
    -DLAUNCHER_SIGN_PASSWORD=test-secret -DLAUNCHER_SIGN_TIMESTAMP_URL="http://127.0.0.1:$(cat "$work/tsa.port")" &&
    timeout 300 cmake --build "$build" -j 2 --target installer msi_package talvin-check >"$work/build.log" 2>&1 ||
    { tail -20 "$work/build.log"; fail "signed with the password as a variable"; }
for file in "${signed[@]}"; do verify "$file" renewed; done
osslsigncode verify -CAfile "$work/renewed.pem" -TSA-CAfile "$work/tsa.pem" "${signed[1]}" 2>&1 |
    grep -q "Timestamp Server Signature verification: ok" || fail "the package is not time-stamped"
check "password file's mode" "$(stat -c %a "$build/signing/password")" 600
finish
