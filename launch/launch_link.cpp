#include "launch/launch_link.h"

#include "launch/command_line_split.h"
#include "launch/launch_sequence.h"

#include <string.h>

namespace {

const char SCHEME[] = "talvin:";
const unsigned SCHEME_LENGTH = sizeof SCHEME - 1;

// The value of a base64url character, or -1.
int sextet(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '-') return 62;
    if (c == '_') return 63;
    return -1;
}

bool scheme_at(const char* text) {
    for (unsigned i = 0; i < SCHEME_LENGTH; i++) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
        if (c != SCHEME[i]) return false;
    }
    return true;
}

// The padding at `p`: "=" or "%3D" (hex digits in either case); its length, or 0.
unsigned padding_at(const char* p) {
    if (p[0] == '=') return 1;
    if (p[0] == '%' && p[1] == '3' && (p[2] == 'D' || p[2] == 'd')) return 3;
    return 0;
}

LinkVerdict decode_body(const char* link, unsigned length, DecodedLink* out) {
    unsigned at = SCHEME_LENGTH;
    if (length >= at + 2 && link[at] == '/' && link[at + 1] == '/') at += 2;
    unsigned end = length;
    if (end > at && link[end - 1] == '/') end--; // as some shells add one
    unsigned data_end = at;
    while (data_end < end && sextet((unsigned char)link[data_end]) >= 0)
        data_end++;
    unsigned data = data_end - at, pads = 0;
    unsigned p = data_end;
    for (unsigned n; p < end && pads < 2 && (n = padding_at(link + p)) > 0 && p + n <= end; p += n)
        pads++;
    if (p < end) {
        out->bad_at = p;
        return LINK_NOT_BASE64URL;
    }
    if (data == 0 && pads == 0) return LINK_EMPTY;
    // A lone character holds no byte; padding, when given, completes the
    // last group of four.
    if (data % 4 == 1 || (pads > 0 && (data + pads) % 4 != 0)) {
        out->bad_at = data_end;
        return LINK_NOT_BASE64URL;
    }
    unsigned size = 0, bits = 0, value = 0;
    for (unsigned i = at; i < data_end; i++) {
        value = (value << 6) | (unsigned)sextet((unsigned char)link[i]);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out->bytes[size++] = (unsigned char)(value >> bits);
            value &= (1u << bits) - 1;
        }
    }
    out->size = size;
    return LINK_DECODED;
}

} // namespace

int is_link(const char* arguments) {
    if (arguments[0] == '"') arguments++;
    return scheme_at(arguments) ? 1 : 0;
}

void decode_link(const char* arguments, DecodedLink* out) {
    out->size = 0;
    out->bad_at = 0;
    const char* link = arguments[0] == '"' ? arguments + 1 : arguments;
    size_t length = strlen(link);
    // Quoted as the shell hands it over: nothing may follow the closing quote.
    const char* quote = link != arguments ? strchr(link, '"') : nullptr;
    if (quote != nullptr) length = (size_t)(quote - link);
    out->length = length > LINK_LENGTH_LIMIT ? LINK_LENGTH_LIMIT + 1 : (unsigned)length;
    if (length > LINK_LENGTH_LIMIT) {
        out->verdict = LINK_TOO_LONG;
    } else if (quote != nullptr && quote[1] != '\0') {
        out->bad_at = out->length;
        out->verdict = LINK_NOT_BASE64URL;
    } else {
        out->verdict = decode_body(link, out->length, out);
    }
}

const char* link_refusal(LinkVerdict verdict) {
    switch (verdict) {
    case LINK_TOO_LONG:
        return "This talvin: link is longer than 4096 characters. Nothing was started.";
    case LINK_NOT_BASE64URL:
        return "This talvin: link does not hold a launch file: only letters, digits, - and _ "
               "may follow \"talvin:\". Nothing was started.";
    case LINK_EMPTY:
        return "This talvin: link holds no launch file. Nothing was started.";
    case LINK_NOT_STORED:
        return "The launch file of this talvin: link could not be written into a folder that "
               "only you can read. Nothing was started.";
    case LINK_DECODED:
        break;
    }
    return "";
}

bool is_link_file_name(const char* name) {
    if (strlen(name) != LINK_FILE_NAME_LENGTH || strncmp(name, "link-", 5) != 0 ||
        strcmp(name + 29, ".tvl") != 0)
        return false;
    for (int i = 5; i < 29; i++)
        if (!((name[i] >= '0' && name[i] <= '9') || (name[i] >= 'a' && name[i] <= 'f')))
            return false;
    return true;
}

void launch_from_link(platform_window owner, const char* system_dir, const char* settings_dir,
                      const char* arguments) {
    static DecodedLink link;
    decode_link(arguments, &link);
    char path[LAUNCH_PATH_CAP] = "";
    if (link.verdict == LINK_DECODED) {
        // The folder is checked before anything is written: the product
        // must get the file's path whole, as one quoted argument.
        char folder[LAUNCH_PATH_CAP];
        unsigned length = platform_link_folder(folder, sizeof folder);
        bool usable = length > 0 && length + LINK_FILE_NAME_LENGTH + 1 < sizeof path &&
                      path_survives_split(folder);
        length =
            usable ? platform_store_link_file(folder, link.bytes, link.size, path, sizeof path) : 0;
        if (length == 0 || length >= sizeof path) link.verdict = LINK_NOT_STORED;
    }
    if (link.verdict != LINK_DECODED) {
        platform_message_box(owner, link_refusal(link.verdict), "Launcher");
        return;
    }
    run_layered_launch(owner, system_dir, settings_dir, path);
    platform_forget_link_file(path);
}
