// Fuzz target: the decoder of talvin: links, whose every character a web
// page chooses. Each input is tried as it is and after "talvin:". A decoded
// link's bytes are exactly what its base64url text says; a refused one is
// refused for what it holds.
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
    // The link as the decoder must see it: up to a closing quote, when quoted.
    const char* text = arguments[0] == '"' ? arguments + 1 : arguments;
    size_t length = strlen(text);
    const char* quote = text != arguments ? strchr(text, '"') : nullptr;
    if (quote != nullptr) length = (size_t)(quote - text);
    check((link.verdict == LINK_TOO_LONG) == (length > LINK_LENGTH_LIMIT), "too long exactly");
    if (link.verdict == LINK_TOO_LONG) return;
    check(link.length == length, "length as given");
    check(link.verdict != LINK_NOT_STORED, "storing is not decoding");
    if (link.verdict == LINK_NOT_BASE64URL) {
        check(link.bad_at <= length, "the wrong character lies in the link");
        return;
    }
    check(link.size <= LINK_BYTES_CAP, "bytes within their buffer");
    check((link.verdict == LINK_EMPTY) == (link.size == 0), "empty exactly when no byte");
    check(quote == nullptr || quote[1] == '\0', "nothing after the closing quote");

    // The data: after "talvin:" and an optional "//", up to the first
    // character outside the alphabet; after it only padding and a last '/'.
    size_t at = 7;
    if (length >= at + 2 && text[at] == '/' && text[at + 1] == '/') at += 2;
    size_t data_end = at;
    while (data_end < length && sextet(text[data_end]) >= 0)
        data_end++;
    size_t data = data_end - at, pads = 0;
    for (size_t i = data_end; i < length; i++) {
        bool pad = text[i] == '=' || (text[i] == '%' && i + 2 < length && text[i + 1] == '3' &&
                                      (text[i + 2] == 'D' || text[i + 2] == 'd'));
        check(pad || (text[i] == '/' && i + 1 == length), "only padding after the data");
        if (text[i] == '%') i += 2;
        pads += pad;
    }
    check(pads == 0 || (data + pads) % 4 == 0, "padding completes the last four");
    check(data % 4 != 1 && link.size == data * 3 / 4, "every six bits, whole bytes");
    // Encoded again, the bytes give the data; of its last character only
    // the bits that made bytes count.
    for (size_t i = 0; i < data; i++) {
        size_t bit = i * 6;
        unsigned value = 0;
        for (unsigned b = 0; b < 6; b++, bit++)
            value = (value << 1) |
                    (bit / 8 < link.size ? (link.bytes[bit / 8] >> (7 - bit % 8)) & 1u : 0u);
        unsigned used = i + 1 < data ? 6 : (unsigned)(link.size * 8 - i * 6);
        unsigned mask = (0x3Fu >> (6 - used)) << (6 - used);
        check((value & mask) == ((unsigned)sextet(text[at + i]) & mask), "bytes as encoded");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly as long as the text, so a read past its end is caught.
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
