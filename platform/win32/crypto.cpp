// Signatures on Windows: CNG (bcrypt.dll, on every Windows since Vista),
// loaded from the system folder on the first check, so that a launch that
// checks no signature never loads it, and a bcrypt.dll lying beside a
// downloaded file is never the one loaded.
#include "platform/platform.h"

#include <windows.h>

#include <bcrypt.h>
#include <string.h>

namespace {

struct Cng {
    decltype(&BCryptOpenAlgorithmProvider) open_algorithm;
    decltype(&BCryptCloseAlgorithmProvider) close_algorithm;
    decltype(&BCryptGetProperty) get_property;
    decltype(&BCryptCreateHash) create_hash;
    decltype(&BCryptHashData) hash_data;
    decltype(&BCryptFinishHash) finish_hash;
    decltype(&BCryptDestroyHash) destroy_hash;
    decltype(&BCryptImportKeyPair) import_key;
    decltype(&BCryptDestroyKey) destroy_key;
    decltype(&BCryptVerifySignature) verify;
};

template <typename T> bool find(HMODULE library, const char* name, T* procedure) {
    // Through a plain procedure type, which converts to any other.
    *procedure = (T)(void (*)(void))GetProcAddress(library, name);
    return *procedure != nullptr;
}

const Cng* load_cng() {
    static Cng cng;
    static int state; // 0 not tried, 1 loaded, -1 unavailable
    if (state != 0) return state > 0 ? &cng : nullptr;
    state = -1;
    static const char NAME[] = "\\bcrypt.dll";
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length + sizeof NAME > MAX_PATH) return nullptr;
    memcpy(path + length, NAME, sizeof NAME);
    HMODULE library = LoadLibraryA(path);
    if (library == nullptr) return nullptr;
    Cng& c = cng;
    if (!find(library, "BCryptOpenAlgorithmProvider", &c.open_algorithm) ||
        !find(library, "BCryptCloseAlgorithmProvider", &c.close_algorithm) ||
        !find(library, "BCryptGetProperty", &c.get_property) ||
        !find(library, "BCryptCreateHash", &c.create_hash) ||
        !find(library, "BCryptHashData", &c.hash_data) ||
        !find(library, "BCryptFinishHash", &c.finish_hash) ||
        !find(library, "BCryptDestroyHash", &c.destroy_hash) ||
        !find(library, "BCryptImportKeyPair", &c.import_key) ||
        !find(library, "BCryptDestroyKey", &c.destroy_key) ||
        !find(library, "BCryptVerifySignature", &c.verify))
        return nullptr;
    state = 1;
    return &cng;
}

// The SHA-256 hash of the message; false when CNG could not make it. The
// hash object lives in a buffer of ours, as Vista requires.
bool hash_sha256(const Cng* c, const void* message, size_t size, unsigned char digest[32]) {
    BCRYPT_ALG_HANDLE algorithm;
    if (c->open_algorithm(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) return false;
    bool ok = false;
    unsigned char object[1024];
    DWORD object_size = 0, got = 0;
    BCRYPT_HASH_HANDLE hash;
    if (c->get_property(algorithm, BCRYPT_OBJECT_LENGTH, (PUCHAR)&object_size, sizeof object_size,
                        &got, 0) == 0 &&
        object_size <= sizeof object &&
        c->create_hash(algorithm, &hash, object, object_size, nullptr, 0, 0) == 0) {
        ok = true;
        const unsigned char* p = (const unsigned char*)message;
        for (size_t left = size; ok && left > 0;) {
            ULONG part = left > 0x10000000 ? 0x10000000 : (ULONG)left;
            ok = c->hash_data(hash, (PUCHAR)p, part, 0) == 0;
            p += part;
            left -= part;
        }
        ok = ok && c->finish_hash(hash, digest, 32, 0) == 0;
        c->destroy_hash(hash);
    }
    c->close_algorithm(algorithm, 0);
    return ok;
}

} // namespace

int platform_verify_p256(const unsigned char public_key[64], const void* message, size_t size,
                         const unsigned char signature[64]) {
    const Cng* c = load_cng();
    if (c == nullptr) return -1;
    unsigned char digest[32];
    if (!hash_sha256(c, message, size, digest)) return -1;

    BCRYPT_ALG_HANDLE algorithm;
    if (c->open_algorithm(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) != 0) return -1;
    struct {
        BCRYPT_ECCKEY_BLOB header;
        unsigned char point[64];
    } blob;
    blob.header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    blob.header.cbKey = 32;
    memcpy(blob.point, public_key, 64);
    int result = 0; // a key CNG refuses is not on the curve: nothing it signed holds
    BCRYPT_KEY_HANDLE key;
    if (c->import_key(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, (PUCHAR)&blob, sizeof blob,
                      0) == 0) {
        result = c->verify(key, nullptr, digest, sizeof digest, (PUCHAR)signature, 64, 0) == 0;
        c->destroy_key(key);
    }
    c->close_algorithm(algorithm, 0);
    return result;
}
