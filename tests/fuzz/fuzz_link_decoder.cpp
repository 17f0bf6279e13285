// Fuzz target: the decoder of talvin: links, whose every character a web
// page chooses, tried as it is and after "talvin:". A decoded link's bytes
// are exactly the bits of its base64url text, followed only by padding.
#include "launch/launch_link.h"

#include "tests/fuzz/fuzz_check.h"

namespace {

const char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

int sextet(char c) {
    const char* at = c != '\0' ? strchr(ALPHABET, c) : nullptr;
    return at != nullptr ? (int)(at - ALPHABET) : -1;
}

void check_one(const char* arguments) {
    static DecodedLink link;
    if (!is_link(arguments)) return;
    decode_link(arguments, &link);
    // Quoted as a shell hands it over, the link ends at the closing quote.
    const char* text = arguments[0] == '"' ? arguments + 1 : arguments;
    const char* quote = text != arguments ? strchr(text, '"') : nullptr;
    size_t length = quote != nullptr ? (size_t)(quote - text) : strlen(text);
    check((link.verdict == LINK_TOO_LONG) == (length > LINK_LENGTH_LIMIT), "too long exactly");
    if (link.verdict == LINK_TOO_LONG) return;
    check(link.length == length && link.bad_at <= length, "lengths within the link");
    if (link.verdict != LINK_DECODED) return;
    check(quote == nullptr || quote[1] == '\0', "nothing after the closing quote");

    // After "talvin:" and an optional "//", the data, then only padding
    // ("=" or "%3D") that completes the last four, and an optional '/'.
    size_t at = length >= 9 && text[7] == '/' && text[8] == '/' ? 9 : 7, data = 0, pads = 0;
    while (at + data < length && sextet(text[at + data]) >= 0)
        data++;
    for (size_t i = at + data; i < length && !(text[i] == '/' && i + 1 == length); i++, pads++) {
        bool percent =
            text[i] == '%' && i + 2 < length && text[i + 1] == '3' && (text[i + 2] | 0x20) == 'd';
        check(text[i] == '=' || percent, "only padding after the data");
        i += percent ? 2 : 0;
    }
    check(pads == 0 || (data + pads) % 4 == 0, "padding completes the last four");
    check(link.size > 0 && link.size == data * 3 / 4 && data % 4 != 1, "whole bytes");
    for (size_t k = 0; k < link.size * 8; k++)
        check(((link.bytes[k / 8] >> (7 - k % 8)) & 1) ==
                  ((sextet(text[at + k / 6]) >> (5 - k % 6)) & 1),
              "each bit as encoded");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char* text = input_line(data, size);
    check_one(text);
    char* link = (char*)malloc(size + 8);
    memcpy(link, "talvin:", 7);
    memcpy(link + 7, text, size + 1);
    check_one(link);
    free(link);
    free(text);
    return 0;
}
