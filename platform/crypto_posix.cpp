// Signatures on POSIX: the system's libcrypto, opened on the first check, so
// that a launch that checks no signature never loads it.
#include "platform/platform.h"

#include <dlfcn.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <string.h>

namespace {

struct Crypto {
    decltype(&d2i_PUBKEY) read_public_key;
    decltype(&EVP_PKEY_free) free_key;
    decltype(&EVP_MD_CTX_new) new_context;
    decltype(&EVP_MD_CTX_free) free_context;
    decltype(&EVP_sha256) sha256;
    decltype(&EVP_DigestVerifyInit) verify_init;
    decltype(&EVP_DigestVerify) verify;
};

template <typename T> bool find(void* library, const char* name, T* procedure) {
    *procedure = (T)dlsym(library, name);
    return *procedure != nullptr;
}

const Crypto* load_crypto() {
    static Crypto crypto;
    static int state; // 0 not tried, 1 loaded, -1 unavailable
    if (state != 0) return state > 0 ? &crypto : nullptr;
    state = -1;
    void* library = dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return nullptr;
    Crypto& c = crypto;
    if (!find(library, "d2i_PUBKEY", &c.read_public_key) ||
        !find(library, "EVP_PKEY_free", &c.free_key) ||
        !find(library, "EVP_MD_CTX_new", &c.new_context) ||
        !find(library, "EVP_MD_CTX_free", &c.free_context) ||
        !find(library, "EVP_sha256", &c.sha256) ||
        !find(library, "EVP_DigestVerifyInit", &c.verify_init) ||
        !find(library, "EVP_DigestVerify", &c.verify))
        return nullptr;
    state = 1;
    return &crypto;
}

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
    const Crypto* c = load_crypto();
    if (c == nullptr) return -1;

    unsigned char key_der[sizeof P256_KEY_HEADER + 64];
    memcpy(key_der, P256_KEY_HEADER, sizeof P256_KEY_HEADER);
    memcpy(key_der + sizeof P256_KEY_HEADER, public_key, 64);
    const unsigned char* p = key_der;
    EVP_PKEY* key = c->read_public_key(nullptr, &p, (long)sizeof key_der);
    if (key == nullptr) return 0; // not a point of the curve

    unsigned char der[72];
    unsigned char* end = put_integer(put_integer(der + 2, signature), signature + 32);
    der[0] = 0x30;
    der[1] = (unsigned char)(end - der - 2);

    int result = -1;
    EVP_MD_CTX* context = c->new_context();
    if (context != nullptr && c->verify_init(context, nullptr, c->sha256(), nullptr, key) == 1)
        result =
            c->verify(context, der, (size_t)(end - der), (const unsigned char*)message, size) == 1;
    c->free_context(context);
    c->free_key(key);
    return result;
}
