// talvin-verify KEY SIGNATURE: the launcher's signature check in a program of
// its own, so that the launcher itself can be linked statically and still use
// the system's libcrypto. KEY is the P-256 point (x then y) and SIGNATURE is
// r then s, 64 bytes each in hexadecimal; the signed bytes come on standard
// input. Exits 0 when the signature holds, 1 when it does not, 2 when it
// cannot be checked (bad arguments, input over the cap, no cryptography).
#include "launch_files/launch_signature.h"
#include "platform/platform.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const int HOLDS = 0, DOES_NOT_HOLD = 1, CANNOT_CHECK = 2;

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// 64 bytes from exactly 128 hexadecimal digits.
bool read_hex64(const char* text, unsigned char out[64]) {
    if (strlen(text) != 128) return false;
    for (int i = 0; i < 64; i++) {
        int high = hex_digit(text[2 * i]), low = hex_digit(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        out[i] = (unsigned char)(high * 16 + low);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    unsigned char key[64], signature[64];
    if (argc != 3 || !read_hex64(argv[1], key) || !read_hex64(argv[2], signature))
        return CANNOT_CHECK;
    // One byte over the cap tells a message that is too long.
    unsigned char* message = (unsigned char*)malloc(SIGNED_FILE_CAP + 1);
    if (message == nullptr) return CANNOT_CHECK;
    size_t size = fread(message, 1, SIGNED_FILE_CAP + 1, stdin);
    int status = CANNOT_CHECK;
    if (!ferror(stdin) && size <= SIGNED_FILE_CAP) {
        int holds = platform_verify_p256(key, message, size, signature);
        status = holds == 1 ? HOLDS : holds == 0 ? DOES_NOT_HOLD : CANNOT_CHECK;
    }
    free(message);
    return status;
}
