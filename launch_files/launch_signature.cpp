#include "launch_files/launch_signature.h"

#include "platform/platform.h"

#include <string.h>

namespace {

const char HEADER[] = "[signature]";
// More than the longest identification block the launcher appends (633
// bytes): a block that starts this far before the end of the bytes at hand
// lies whole within them.
const size_t BLOCK_MAX = 1024;
const char SIGNATURE_KEY[] = "ecdsa=";
const unsigned char CTRL_Z = 0x1A;

// The DER header of every P-256 SubjectPublicKeyInfo, up to the
// uncompressed point's x and y.
const unsigned char P256_KEY_HEADER[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                         0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                         0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

struct Bytes {
    const unsigned char* at;
    size_t size;
};

int base64_value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Strict base64: groups of four, '=' only to pad the last group, unused bits
// zero. Returns the decoded size, or -1 when `text` is not such or the bytes
// would not fit `capacity`.
long decode_base64(Bytes text, unsigned char* out, size_t capacity) {
    if (text.size == 0 || text.size % 4 != 0) return -1;
    size_t padding = text.at[text.size - 1] != '=' ? 0 : text.at[text.size - 2] != '=' ? 1 : 2;
    size_t size = text.size / 4 * 3 - padding;
    if (size > capacity) return -1;
    size_t written = 0;
    for (size_t i = 0; i < text.size; i += 4) {
        unsigned long group = 0;
        for (size_t j = 0; j < 4; j++) {
            bool pad = i + j >= text.size - padding;
            int value = pad ? 0 : base64_value(text.at[i + j]);
            if (value < 0) return -1;
            group = group << 6 | (unsigned long)value;
        }
        for (int shift = 16; shift >= 0 && written < size; shift -= 8)
            out[written++] = (unsigned char)(group >> shift);
        if (i + 4 == text.size && padding > 0 && (group & (padding == 1 ? 0xff : 0xffff)) != 0)
            return -1;
    }
    return (long)size;
}

// One DER INTEGER of an ECDSA signature at `*p`, as a 32-byte big-endian
// number; only the one encoding libcrypto itself writes is taken.
bool read_integer(const unsigned char** p, const unsigned char* end, unsigned char out[32]) {
    if (end - *p < 3 || (*p)[0] != 0x02) return false;
    size_t length = (*p)[1];
    const unsigned char* value = *p + 2;
    if (length == 0 || length > (size_t)(end - value)) return false;
    if (value[0] & 0x80) return false;                                   // negative
    if (length > 1 && value[0] == 0 && !(value[1] & 0x80)) return false; // not minimal
    if (value[0] == 0 && length > 1) {
        value++;
        length--;
    }
    if (length > 32) return false;
    memset(out, 0, 32 - length);
    memcpy(out + 32 - length, value, length);
    *p = value + length;
    return true;
}

// SEQUENCE { INTEGER r, INTEGER s }, nothing before or after it.
bool read_der_signature(const unsigned char* der, size_t size, unsigned char rs[64]) {
    if (size < 2 || der[0] != 0x30 || der[1] != size - 2) return false;
    const unsigned char* p = der + 2;
    const unsigned char* end = der + size;
    return read_integer(&p, end, rs) && read_integer(&p, end, rs + 32) && p == end;
}

bool starts_with(Bytes file, size_t at, const char* text) {
    size_t length = strlen(text);
    return at <= file.size && file.size - at >= length && memcmp(file.at + at, text, length) == 0;
}

// The position after a line end (CR LF or LF) at `at`, or 0 when none is there.
size_t after_line_end(Bytes file, size_t at) {
    if (starts_with(file, at, "\n")) return at + 1;
    if (starts_with(file, at, "\r\n")) return at + 2;
    return 0;
}

// Where the signature header line starts: the first line that is exactly
// HEADER. Returns file.size when there is none.
size_t find_header(Bytes file) {
    for (size_t at = 0; at < file.size; at++) {
        if ((at == 0 || file.at[at - 1] == '\n') && starts_with(file, at, HEADER) &&
            after_line_end(file, at + sizeof HEADER - 1) != 0)
            return at;
    }
    return file.size;
}

// One line "NAME=VALUE" CR LF as the launcher writes it: the value fits a
// field of `capacity` and holds no byte a value read from talvin.ini cannot
// hold (a zero byte, a Ctrl-Z, which would hide what follows from every
// reader, a CR or LF but in the line end). Moves `*at` past it.
bool read_block_line(Bytes file, size_t* at, const char* name, size_t capacity) {
    if (!starts_with(file, *at, name)) return false;
    size_t value = *at + strlen(name);
    for (size_t p = value; p < file.size && p - value < capacity; p++) {
        if (starts_with(file, p, "\r\n")) {
            *at = p + 2;
            return true;
        }
        unsigned char c = file.at[p];
        if (c == '\0' || c == CTRL_Z || c == '\r' || c == '\n') return false;
    }
    return false;
}

// Identification blocks, each exactly as the launcher appends one, from
// `*at` on while one starts before `stop`; false at anything else.
bool only_identification(Bytes file, size_t* at, size_t stop) {
    while (*at < stop) {
        if (!read_block_line(file, at, "[identification]", 1) ||
            !read_block_line(file, at, "user=", SETTING_WORD_CAP) ||
            !read_block_line(file, at, "password=", SETTING_SECRET_CAP))
            return false;
        read_block_line(file, at, "email=", SETTING_SECRET_CAP);
    }
    return true;
}

// Where the signature section at `header` ends, its signature read into
// `rs`; 0 and the verdict in `*verdict` when it is not as it must be.
size_t read_section(Bytes file, size_t header, unsigned char rs[64], SignatureVerdict* verdict) {
    size_t at = after_line_end(file, header + sizeof HEADER - 1);
    *verdict = SIGNATURE_MALFORMED;
    if (!starts_with(file, at, SIGNATURE_KEY)) return 0;
    Bytes text = {file.at + at + sizeof SIGNATURE_KEY - 1, 0};
    size_t left = file.size - (size_t)(text.at - file.at);
    while (text.size < left && text.size <= SIGNATURE_TEXT_MAX &&
           (base64_value(text.at[text.size]) >= 0 || text.at[text.size] == '='))
        text.size++;
    size_t end = after_line_end(file, (size_t)(text.at - file.at) + text.size);
    unsigned char der[72];
    long der_size = decode_base64(text, der, sizeof der);
    if (end == 0 || der_size < 0 || !read_der_signature(der, (size_t)der_size, rs)) return 0;
    *verdict = SIGNATURE_UNREADABLE;
    if (end > SIGNED_FILE_CAP) return 0;
    *verdict = SIGNATURE_VALID;
    return end;
}

// The verdict of the keys over the first `result.signed_size` bytes.
SignatureCheck verify_keys(Bytes file, const unsigned char rs[64], SignatureCheck result) {
    result.verdict = SIGNATURE_NO_KEY;
    for (int slot = 0; slot < PUBLIC_KEY_SLOTS; slot++) {
        unsigned char point[64];
        if (!read_public_key(launch_settings.public_key[slot], point)) continue;
        if (result.verdict == SIGNATURE_NO_KEY) result.verdict = SIGNATURE_NO_MATCH;
        int holds = platform_verify_p256(point, file.at, result.signed_size, rs);
        if (holds < 0) result.verdict = SIGNATURE_NO_CRYPTO;
        if (holds < 0 || holds == 1) {
            if (holds == 1) result.verdict = SIGNATURE_VALID;
            result.key = slot + 1;
            return result;
        }
    }
    return result;
}

// The bytes past the section that are not yet looked at: the whole blocks
// that start before `stop` are passed over; false at anything else.
bool pass_blocks(SignatureKeeper* k, size_t stop) {
    size_t at = 0;
    bool only = only_identification({k->blocks, k->blocks_size}, &at, stop);
    memmove(k->blocks, k->blocks + at, k->blocks_size - at);
    k->blocks_size -= at;
    return only;
}

// Room for the bytes past the section: at most BLOCK_MAX are left unread
// at each turn.
const size_t BLOCKS_CAP = 4 * BLOCK_MAX;

// Looks at bytes past the kept ones (and past the section) as they pass.
void look_past(SignatureKeeper* k, const unsigned char* data, size_t count) {
    while (count > 0 && k->passing == SIGNATURE_VALID) {
        size_t part = BLOCKS_CAP - k->blocks_size < count ? BLOCKS_CAP - k->blocks_size : count;
        memcpy(k->blocks + k->blocks_size, data, part);
        k->blocks_size += part;
        data += part;
        count -= part;
        if (k->blocks_size == BLOCKS_CAP && !pass_blocks(k, BLOCKS_CAP - BLOCK_MAX))
            k->passing = SIGNATURE_NOT_LAST;
    }
}

// A file longer than the bytes kept: its section must lie within them, and
// from its end only blocks are looked at.
void pass_kept(SignatureKeeper* k) {
    Bytes file = {k->bytes, k->size};
    k->header = find_header(file);
    k->passing = SIGNATURE_UNREADABLE;
    if (k->header == file.size) return;
    size_t end = read_section(file, k->header, k->rs, &k->passing);
    if (k->passing != SIGNATURE_VALID) return;
    k->blocks = (unsigned char*)platform_take_memory(BLOCKS_CAP);
    if (k->blocks == nullptr) k->failed = true;
    if (k->blocks != nullptr) look_past(k, file.at + end, file.size - end);
}

} // namespace

bool read_public_key(const char* text, unsigned char point[64]) {
    unsigned char der[sizeof P256_KEY_HEADER + 64];
    Bytes base64 = {(const unsigned char*)text, strlen(text)};
    if (decode_base64(base64, der, sizeof der) != (long)sizeof der ||
        memcmp(der, P256_KEY_HEADER, sizeof P256_KEY_HEADER) != 0)
        return false;
    memcpy(point, der + sizeof P256_KEY_HEADER, 64);
    return true;
}

bool launch_signature_checked = false;
SignatureCheck launch_signature_check;

void keep_bytes(SignatureKeeper* k, const void* data, long count) {
    const unsigned char* p = (const unsigned char*)data;
    if (count < 0) k->failed = true;
    if (k->failed || count <= 0) return;
    size_t left = (size_t)count;
    // One byte more than the largest file taken, to tell a larger one.
    if (k->size < SIGNED_FILE_CAP + 1) {
        size_t part = SIGNED_FILE_CAP + 1 - k->size < left ? SIGNED_FILE_CAP + 1 - k->size : left;
        if (k->size + part > k->capacity) {
            // The first read's bytes, else the most that is kept: a file
            // longer than one read is copied once.
            size_t capacity = k->capacity > 0 ? SIGNED_FILE_CAP + 1 : part > 4096 ? part : 4096;
            unsigned char* bytes = (unsigned char*)platform_take_memory(capacity);
            if (bytes == nullptr) {
                k->failed = true;
                return;
            }
            if (k->size > 0) memcpy(bytes, k->bytes, k->size);
            platform_give_memory(k->bytes);
            k->bytes = bytes;
            k->capacity = capacity;
        }
        memcpy(k->bytes + k->size, p, part);
        k->size += part;
        p += part;
        left -= part;
    }
    if (left == 0) return;
    if (k->blocks == nullptr && k->passing == SIGNATURE_VALID) pass_kept(k);
    if (!k->failed) look_past(k, p, left);
}

void keep_rest(SignatureKeeper* k, platform_file file) {
    unsigned char chunk[4096];
    long count;
    while (!k->failed && (count = platform_read(file, chunk, sizeof chunk)) != 0)
        keep_bytes(k, chunk, count);
}

SignatureCheck check_kept_signature(SignatureKeeper* k) {
    SignatureCheck result = {SIGNATURE_UNREADABLE, 0, 0};
    Bytes file = {k->bytes, k->size};
    unsigned char rs[64];
    size_t end = 0;
    if (k->blocks != nullptr || k->passing != SIGNATURE_VALID) {
        // Longer than the bytes kept: the blocks past them were looked at.
        result.verdict = k->passing;
        if (result.verdict == SIGNATURE_VALID && !pass_blocks(k, k->blocks_size))
            result.verdict = SIGNATURE_NOT_LAST;
        result.signed_size = k->header < k->size ? (unsigned)k->header : 0;
        memcpy(rs, k->rs, sizeof rs);
    } else {
        size_t header = find_header(file);
        result.verdict = header == file.size ? SIGNATURE_ABSENT : SIGNATURE_VALID;
        result.signed_size = header == file.size ? 0 : (unsigned)header;
        if (header < file.size) end = read_section(file, header, rs, &result.verdict);
        if (end > 0 && !only_identification(file, &end, file.size))
            result.verdict = SIGNATURE_NOT_LAST;
    }
    if (k->failed) result.verdict = SIGNATURE_UNREADABLE;
    if (result.verdict == SIGNATURE_VALID) result = verify_keys(file, rs, result);
    release_kept(k);
    return result;
}

void release_kept(SignatureKeeper* k) {
    platform_give_memory(k->blocks);
    platform_give_memory(k->bytes);
    *k = SignatureKeeper{};
}

SignatureCheck check_launch_signature(const char* path) {
    SignatureKeeper keeper = {};
    platform_file file = platform_open_for_reading(path);
    if (file == PLATFORM_NO_FILE) return {SIGNATURE_UNREADABLE, 0, 0};
    keep_rest(&keeper, file);
    platform_close(file);
    return check_kept_signature(&keeper);
}

const char* signature_verdict_text(SignatureVerdict verdict) {
    switch (verdict) {
    case SIGNATURE_VALID:
        return "valid";
    case SIGNATURE_ABSENT:
        return "absent: no [signature] line";
    case SIGNATURE_MALFORMED:
        return "malformed: not ecdsa= and a base64 DER signature";
    case SIGNATURE_NOT_LAST:
        return "not last: more than identification blocks follow it";
    case SIGNATURE_NO_MATCH:
        return "invalid: no named key made it over these bytes";
    case SIGNATURE_NO_KEY:
        return "unusable: no publickey value is a P-256 public key";
    case SIGNATURE_UNREADABLE:
        return "unreadable: the file cannot be read or is over 1 MiB up to its signature's end";
    case SIGNATURE_NO_CRYPTO:
        return "unchecked: the system's cryptography cannot be loaded";
    }
    return "";
}
