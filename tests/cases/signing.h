// Launch files signed at test time, by libcrypto and never by the
// launcher's own code: test keys a, b and c, made once per run.
#pragma once

#include "case_file.h"

#include <string>

// `text` with $KEY_A, $KEY_B and $KEY_C replaced by the talvin.ini form of
// the test keys (base64 of the DER public key).
std::string with_test_keys(const std::string& text);

// The launch file's bytes (`launch`, already expanded) with the signature
// section of the case's `sign KEY [BYTES]` put where $SIGNATURE stands, or at
// the end: a signature by KEY over BYTES, or else over the bytes before it.
std::string signed_launch(const std::string& launch, const Case& c, const Places& names);
