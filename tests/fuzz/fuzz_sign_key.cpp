// Fuzz target: talvin-sign's key reading, arbitrary bytes as a key file in
// PEM or DER (an encrypted one opens with the password "fuzz"). What must
// hold: a key it takes gives a public line that talvin.ini takes, and the
// launcher, given that line, finds valid a file the key signed.
#include "launch_files/launch_settings.h"
#include "launch_files/launch_signature.h"
#include "platform/fake/fake_platform.h"
#include "tools/sign_key.h"

#include "tests/fuzz/fuzz_check.h"
#include "tests/support/p256.h"

namespace {

std::string key_path, signed_path;

int password(char* buffer, int size, int, void*) {
    static const char PASSWORD[] = "fuzz";
    if (size < (int)sizeof PASSWORD) return -1;
    memcpy(buffer, PASSWORD, sizeof PASSWORD);
    return (int)sizeof PASSWORD - 1;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string directory = fuzz_directory();
    key_path = directory + "/key";
    signed_path = directory + "/signed.tvl";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    write_bytes(key_path, std::string((const char*)data, size));
    FILE* in = fopen(key_path.c_str(), "rb");
    const char* why = nullptr;
    EVP_PKEY* key = read_signing_key(in, password, &why);
    fclose(in);
    check(key != nullptr || why != nullptr, "a refusal says why");
    if (key == nullptr) return 0;

    char line[PUBLIC_LINE_TEXT];
    unsigned char point[64];
    check(public_key_line(key, line) && read_public_key(line, point), "talvin.ini takes its line");
    std::string file = "[launch]\r\napp=fuzz\r\n";
    file += "[signature]\r\necdsa=" + p256_sign(key, file) + "\r\n";
    EVP_PKEY_free(key);
    write_bytes(signed_path, file);
    fake::reset();
    launch_settings_init();
    memcpy(launch_settings.public_key[0], line, sizeof line);
    check(check_launch_signature(signed_path.c_str()).verdict == SIGNATURE_VALID,
          "its line verifies what it signs");
    return 0;
}
