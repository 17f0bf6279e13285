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

// Checks the signature of the launch file at `path` against the public keys
// of launch_settings. Reads the file's raw bytes itself: the signature covers
// them, not the text the section reader sees. With `held` (the launch file
// as it was read, held open) those bytes are read again from it, not from
// whatever `path` names by now.
SignatureCheck check_launch_signature(const char* path, platform_file held = PLATFORM_NO_FILE);

// Reads a public key as the settings file holds it (base64 of its DER
// SubjectPublicKeyInfo) into the point's x and y; false when it is none.
bool read_public_key(const char* text, unsigned char point[64]);

// A short English account of a verdict, for reports.
const char* signature_verdict_text(SignatureVerdict verdict);
