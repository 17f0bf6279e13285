// Signed launch files. A launch file carries its publisher's signature in a
// last section of its own:
//
//     [signature]<CR LF or LF>
//     ecdsa=<base64 of the DER signature><CR LF or LF>
//
// The signature is ECDSA over P-256 with SHA-256 of every byte of the file
// before that header line, which is the first line of the file that is
// exactly "[signature]". After the section only identification blocks may
// follow, exactly as the launcher appends them, so that nothing unsigned
// reaches the product but the user's own identification. The file up to the
// end of its section may be 1 MiB; the blocks after it count toward no limit,
// so that a file taken once is taken however often it is opened.
#pragma once

#include "launch_files/launch_settings.h"
#include "platform/platform.h"

enum {
    SIGNED_FILE_CAP = 1048576, // the largest signed part and its section checked
    SIGNATURE_TEXT_MAX = 96,   // base64 of the longest DER signature, 72 bytes
};

enum SignatureVerdict {
    SIGNATURE_VALID,      // made by the key named by publickeyN, N = key
    SIGNATURE_ABSENT,     // no "[signature]" line
    SIGNATURE_MALFORMED,  // the section is not as above
    SIGNATURE_NOT_LAST,   // something but identification blocks follows it
    SIGNATURE_NO_MATCH,   // no named key made it over these bytes
    SIGNATURE_NO_KEY,     // no named key can be read
    SIGNATURE_UNREADABLE, // the file cannot be read, or its section ends past SIGNED_FILE_CAP
    SIGNATURE_NO_CRYPTO,  // the system's cryptography cannot be had
};

struct SignatureCheck {
    SignatureVerdict verdict;
    int key;              // N of the publickeyN that made it, when valid
    unsigned signed_size; // the bytes before the section, when there is one
};

// The launch file's bytes as the reader reads them, kept for the check of
// its signature, which is made on exactly the bytes that were applied: a
// file read again may have been rewritten meanwhile. The first
// SIGNED_FILE_CAP + 1 bytes are kept, in working memory taken as they come;
// the bytes after them are only looked at as they pass, since there only
// identification blocks may follow the signature section. All zero is a
// keeper with nothing kept.
struct SignatureKeeper {
    unsigned char* bytes;
    size_t size, capacity;
    bool failed;              // working memory could not be had, or a read failed
    SignatureVerdict passing; // of the bytes past the kept ones, once there are some
    size_t header;            // then: where the section starts in `bytes`
    unsigned char rs[64];     // and its signature
    unsigned char* blocks;    // bytes past the section not yet looked at
    size_t blocks_size;
};

// Keeps `count` more bytes of the file (a negative count: a read failed).
void keep_bytes(SignatureKeeper* keeper, const void* data, long count);

// Reads on from `file` to its end, keeping what the reader left unread (the
// bytes after a Ctrl-Z): the file is read once, never from its start again.
void keep_rest(SignatureKeeper* keeper, platform_file file);

// Checks the signature over the bytes kept against the public keys of
// launch_settings, and gives the keeper's memory back.
SignatureCheck check_kept_signature(SignatureKeeper* keeper);

// Gives the keeper's memory back without a check.
void release_kept(SignatureKeeper* keeper);

// Reads the launch file at `path` whole and checks its signature (tools,
// and a report on a file the launcher did not check).
SignatureCheck check_launch_signature(const char* path);

// The check the launch made, for tools that explain one (set by it only
// when it made one).
extern bool launch_signature_checked;
extern SignatureCheck launch_signature_check;

// Reads a public key as the settings file holds it (base64 of its DER
// SubjectPublicKeyInfo) into the point's x and y; false when it is none.
bool read_public_key(const char* text, unsigned char point[64]);

// A short English account of a verdict, for reports.
const char* signature_verdict_text(SignatureVerdict verdict);
