// P-256 keys and signatures made by libcrypto for tests, never by the
// launcher's own code: the talvin.ini form of a public key and the base64
// of a DER ECDSA signature over SHA-256.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <stdlib.h>

#include <string>

inline std::string base64(const unsigned char* bytes, size_t size) {
    std::string text(4 * ((size + 2) / 3) + 1, '\0');
    text.resize((size_t)EVP_EncodeBlock((unsigned char*)&text[0], bytes, (int)size));
    return text;
}

inline EVP_PKEY* p256_new_key() {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    if (key == nullptr) abort();
    return key;
}

// Base64 of the DER SubjectPublicKeyInfo.
inline std::string p256_public_text(EVP_PKEY* key) {
    unsigned char der[100];
    unsigned char* end = der;
    int size = i2d_PUBKEY(key, &end);
    if (size != 91) abort();
    return base64(der, (size_t)size);
}

inline std::string p256_sign(EVP_PKEY* key, const std::string& bytes) {
    unsigned char der[80];
    size_t size = sizeof der;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, key) != 1 ||
        EVP_DigestSign(context, der, &size, (const unsigned char*)bytes.data(), bytes.size()) != 1)
        abort();
    EVP_MD_CTX_free(context);
    return base64(der, size);
}
