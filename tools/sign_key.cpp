#include "tools/sign_key.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/params.h>
#include <openssl/x509.h>
#include <string.h>

namespace {

// Null when `key` is a P-256 key pair whose public point is the one its
// private key makes (a key whose public part was changed would sign what
// its printed line never verifies), else what it is not.
const char* unsound_p256_pair(EVP_PKEY* key) {
    char group[32];
    size_t length;
    if (!EVP_PKEY_is_a(key, "EC") || !EVP_PKEY_get_group_name(key, group, sizeof group, &length) ||
        strcmp(group, "prime256v1") != 0)
        return "a private key, but not on the P-256 curve";
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    bool sound = context != nullptr && EVP_PKEY_check(context) == 1;
    EVP_PKEY_CTX_free(context);
    return sound ? nullptr : "a P-256 key whose public key is not the one its private key makes";
}

} // namespace

EVP_PKEY* read_signing_key(FILE* in, pem_password_cb* password, const char** why) {
    static unsigned char bytes[KEY_FILE_CAP + 1];
    size_t size = fread(bytes, 1, sizeof bytes, in);
    *why = "not a P-256 private key in PEM or DER";
    if (ferror(in) != 0) *why = "cannot be read";
    if (ferror(in) != 0 || size > KEY_FILE_CAP) return nullptr;
    BIO* text = BIO_new_mem_buf(bytes, (int)size);
    EVP_PKEY* key =
        text != nullptr ? PEM_read_bio_PrivateKey(text, nullptr, password, nullptr) : nullptr;
    BIO_free(text);
    if (key == nullptr) {
        // DER: the whole file is the key.
        const unsigned char* at = bytes;
        key = d2i_AutoPrivateKey(nullptr, &at, (long)size);
        if (key != nullptr && at != bytes + size) {
            EVP_PKEY_free(key);
            key = nullptr;
        }
    }
    OPENSSL_cleanse(bytes, size);
    ERR_clear_error();
    if (key != nullptr && (*why = unsound_p256_pair(key)) != nullptr) {
        EVP_PKEY_free(key);
        key = nullptr;
    }
    ERR_clear_error();
    return key;
}

bool public_key_line(EVP_PKEY* key, char text[PUBLIC_LINE_TEXT]) {
    // The point, uncompressed, on the named curve: the one form the launcher reads.
    unsigned char point[65] = {0x04};
    BIGNUM *x = nullptr, *y = nullptr;
    bool ok = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_X, &x) == 1 &&
              EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_Y, &y) == 1 &&
              BN_bn2binpad(x, point + 1, 32) == 32 && BN_bn2binpad(y, point + 33, 32) == 32;
    BN_free(x);
    BN_free(y);
    char curve[] = "prime256v1";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, curve, 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point),
        OSSL_PARAM_construct_end()};
    EVP_PKEY* named = nullptr;
    EVP_PKEY_CTX* context = ok ? EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr) : nullptr;
    ok = context != nullptr && EVP_PKEY_fromdata_init(context) == 1 &&
         EVP_PKEY_fromdata(context, &named, EVP_PKEY_PUBLIC_KEY, params) == 1;
    EVP_PKEY_CTX_free(context);
    // Its size is asked first: i2d writes as much as the key needs.
    unsigned char der[91];
    unsigned char* end = der;
    ok = ok && i2d_PUBKEY(named, nullptr) == (int)sizeof der &&
         i2d_PUBKEY(named, &end) == (int)sizeof der;
    EVP_PKEY_free(named);
    if (ok) EVP_EncodeBlock((unsigned char*)text, der, (int)sizeof der);
    ERR_clear_error();
    return ok;
}
