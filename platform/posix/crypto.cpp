// Signatures by the system's libcrypto, linked: the check talvin-verify runs
// for the launcher, and the one the recording faces hand calls on to.
#include "platform/platform.h"

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <string.h>

namespace {

// The public key as libcrypto reads it: the fixed SubjectPublicKeyInfo
// header of a P-256 key, then the uncompressed point.
const unsigned char P256_KEY_HEADER[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                         0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                         0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

// One unsigned 32-byte integer in DER: leading zeros dropped, and a zero
// byte put back where the top bit would make it negative.
unsigned char* put_integer(unsigned char* out, const unsigned char* value) {
    unsigned skip = 0;
    while (skip < 31 && value[skip] == 0)
        skip++;
    unsigned length = 32 - skip;
    bool pad = (value[skip] & 0x80) != 0;
    *out++ = 0x02;
    *out++ = (unsigned char)(length + (pad ? 1 : 0));
    if (pad) *out++ = 0;
    memcpy(out, value + skip, length);
    return out + length;
}

} // namespace

int platform_verify_p256(const unsigned char public_key[64], const void* message, size_t size,
                         const unsigned char signature[64]) {
    unsigned char key_der[sizeof P256_KEY_HEADER + 64];
    memcpy(key_der, P256_KEY_HEADER, sizeof P256_KEY_HEADER);
    memcpy(key_der + sizeof P256_KEY_HEADER, public_key, 64);
    const unsigned char* p = key_der;
    EVP_PKEY* key = d2i_PUBKEY(nullptr, &p, (long)sizeof key_der);
    if (key == nullptr) return 0; // not a point of the curve

    unsigned char der[72];
    unsigned char* end = put_integer(put_integer(der + 2, signature), signature + 32);
    der[0] = 0x30;
    der[1] = (unsigned char)(end - der - 2);

    int result = -1;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (context != nullptr &&
        EVP_DigestVerifyInit(context, nullptr, EVP_sha256(), nullptr, key) == 1)
        result = EVP_DigestVerify(context, der, (size_t)(end - der), (const unsigned char*)message,
                                  size) == 1;
    EVP_MD_CTX_free(context);
    EVP_PKEY_free(key);
    return result;
}
