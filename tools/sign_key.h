// talvin-sign's key: the publisher's P-256 private key read from a file, and
// the public key line that talvin.ini takes for it.
#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <stdio.h>

enum {
    KEY_FILE_CAP = 65536,   // the largest key file read
    PUBLIC_LINE_TEXT = 125, // base64 of the 91-byte public key, and its end
};

// The P-256 private key in the file `in`, in PEM (the first private key
// block; an encrypted one asks `password`, openssl's prompt when null) or in
// DER, with its public key the one its private key makes. Null, with the
// reason in `*why`, when there is none. Freed with EVP_PKEY_free.
EVP_PKEY* read_signing_key(FILE* in, pem_password_cb* password, const char** why);

// The key's public line for talvin.ini, into `text` (PUBLIC_LINE_TEXT bytes):
// the base64 of its DER SubjectPublicKeyInfo with the curve named and the
// point uncompressed, however the key file spelt them. False when it cannot
// be made.
bool public_key_line(EVP_PKEY* key, char text[PUBLIC_LINE_TEXT]);
