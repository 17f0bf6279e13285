#include "launch_files/section_reader.h"

#include "launch_files/launch_observer.h"

#include <stdint.h>
#include <string.h>

char line_buffer[LINE_BUFFER_CAP];
bool line_pushed_back = false;
const LaunchObserver* launch_observer = nullptr;

namespace {

const unsigned char CTRL_Z = 0x1A;
const char BAD_HEADER_TEXT[] = "no matching ']' found on ";
const char BAD_HEADER_END[] = "!\n";

// What each byte means to the reader, looked up once per byte: the scans
// below run over every byte of both files.
enum : unsigned char {
    FOLDS = 1,     // ends a run of bytes copied as they are: CR, LF, Ctrl-Z
    ZERO = 2,      // ends the line's text
    DELIMITER = 4, // separates tokens: space, tab, line feed, equals sign
};

struct ByteClasses {
    unsigned char of[256];
    constexpr ByteClasses() : of() {
        of[(unsigned char)'\r'] = FOLDS;
        of[CTRL_Z] = FOLDS;
        of[(unsigned char)'\n'] = FOLDS | DELIMITER;
        of[0] = ZERO;
        of[(unsigned char)' '] = DELIMITER;
        of[(unsigned char)'\t'] = DELIMITER;
        of[(unsigned char)'='] = DELIMITER;
    }
};
constexpr ByteClasses CLASSES;

// The count of leading bytes of `p` (at most `limit`) that have none of the
// classes in `stop`.
inline unsigned span_bytewise(const unsigned char* p, unsigned limit, unsigned char stop) {
    unsigned i = 0;
    while (i < limit && !(CLASSES.of[p[i]] & stop))
        i++;
    return i;
}

const uint64_t ONES = 0x0101010101010101ull;
const uint64_t HIGHS = 0x8080808080808080ull;
const uint64_t LOWS = 0x7F7F7F7F7F7F7F7Full;

// Nonzero when some byte of `word` is below `n` (at most 128): a quick test
// that may also fire for a byte above one that is below `n`.
inline uint64_t maybe_byte_below(uint64_t word, unsigned char n) {
    return (word - ONES * n) & ~word & HIGHS;
}

// 0x80 in exactly those bytes of `word` that equal `b`.
inline uint64_t bytes_equal(uint64_t word, unsigned char b) {
    uint64_t x = word ^ (ONES * b);
    return ~(((x & LOWS) + LOWS) | x | LOWS);
}

// The bytes of `word` that end a run: for a line, CR, LF, Ctrl-Z and zero;
// for a token, the delimiters and zero.
template <bool tokens> inline uint64_t stop_bytes(uint64_t word) {
    uint64_t m = bytes_equal(word, 0) | bytes_equal(word, '\n');
    if (tokens)
        return m | bytes_equal(word, ' ') | bytes_equal(word, '\t') | bytes_equal(word, '=');
    return m | bytes_equal(word, '\r') | bytes_equal(word, CTRL_Z);
}

// As span_bytewise, eight bytes at a time. Every stop byte is a control
// character or, for tokens, an equals sign, so most words pass a quick test.
template <bool tokens> inline unsigned span_without(const unsigned char* p, unsigned limit) {
    const unsigned char stop = tokens ? DELIMITER | ZERO : FOLDS | ZERO;
    unsigned i = 0;
    while (i + 8 <= limit) {
        uint64_t word;
        memcpy(&word, p + i, sizeof word);
        uint64_t maybe = maybe_byte_below(word, tokens ? ' ' + 1 : CTRL_Z + 1);
        if (tokens) maybe |= bytes_equal(word, '=');
        if (maybe) {
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            uint64_t found = stop_bytes<tokens>(word);
            if (found) return i + (unsigned)(__builtin_ctzll(found) >> 3);
#else
            unsigned n = span_bytewise(p + i, 8, stop);
            if (n < 8) return i + n;
#endif
        }
        i += 8;
    }
    return i + span_bytewise(p + i, limit - i, stop);
}

// The length of the text in line_buffer, up to its first zero byte, as
// recorded when the line was read.
unsigned line_text_length = 0;

bool refill(TextStream* s) {
    if (s->at_end) return false;
    long n = platform_read(s->file, s->chunk, sizeof s->chunk);
    if (n <= 0) {
        s->at_end = true; // a read error ends the file like its end
        return false;
    }
    s->pos = 0;
    s->len = (unsigned)n;
    return true;
}

// The next byte after folding, or -1 at the end of the file.
int next_byte(TextStream* s) {
    if (s->pos == s->len && !refill(s)) return -1;
    unsigned char c = s->chunk[s->pos++];
    if (c == CTRL_Z) {
        if (launch_observer != nullptr) launch_observer->ctrl_z(s->pos < s->len || refill(s));
        s->at_end = true;
        s->pos = s->len;
        return -1;
    }
    // The pair may straddle two chunks, so look ahead through a refill.
    if (c == '\r' && (s->pos < s->len || refill(s)) && s->chunk[s->pos] == '\n') {
        s->pos++;
        return '\n';
    }
    return c;
}

// Reads one line into line_buffer; returns its length in characters.
unsigned read_line(TextStream* s) {
    unsigned n = 0;
    unsigned text = LINE_MAX_CHARS + 1; // where the first zero byte is, if any
    while (n < LINE_MAX_CHARS) {
        if (s->pos == s->len && !refill(s)) break;
        // Copy the run of ordinary bytes at once; stop at any byte that folds.
        const unsigned char* p = s->chunk + s->pos;
        unsigned limit = s->len - s->pos;
        if (limit > LINE_MAX_CHARS - n) limit = LINE_MAX_CHARS - n;
        unsigned i = span_without<false>(p, limit);
        while (i < limit && p[i] == 0) {
            if (text > n + i) text = n + i;
            i++;
            i += span_without<false>(p + i, limit - i);
        }
        memcpy(line_buffer + n, p, i);
        n += i;
        s->pos += i;
        if (i == limit) continue;
        int c = next_byte(s);
        if (c < 0) break;
        line_buffer[n++] = (char)c;
        if (c == '\n') break;
    }
    if (n > 0) {
        line_buffer[n] = '\0';
        line_text_length = text < n ? text : n;
        if (launch_observer != nullptr)
            launch_observer->line(n, line_text_length, line_buffer[n - 1] == '\n');
    }
    return n;
}

// next_line, also giving the length of the text copied into `dest`.
char* next_line_text(TextStream* stream, char* dest, size_t* length) {
    if (line_pushed_back) {
        *length = strlen(line_buffer);
    } else {
        if (read_line(stream) == 0) return nullptr;
        *length = line_text_length;
    }
    memcpy(dest, line_buffer, *length);
    dest[*length] = '\0'; // a zero byte ends the line's text
    line_pushed_back = false;
    return dest;
}

// The first token of `text`, which ends at `text_end` (its terminator), or
// null when it has none; `*end` is set just past the token.
const char* first_token(const char* text, const char* text_end, const char** end) {
    const unsigned char* p = (const unsigned char*)text;
    while (CLASSES.of[*p] & DELIMITER)
        p++;
    if (*p == '\0') return nullptr;
    unsigned rest = (unsigned)(text_end - (const char*)p);
    *end = (const char*)p + span_without<true>(p, rest);
    return (const char*)p;
}

const char* first_token(const char* text, const char** end) {
    return first_token(text, text + strlen(text), end);
}

char* copy_span(char* dest, const char* begin, const char* end) {
    size_t length = (size_t)(end - begin);
    memcpy(dest, begin, length);
    dest[length] = '\0';
    return dest + length + 1;
}

// "no matching ']' found on PREFIX!\n", the prefix cut so that the whole
// text fits `capacity` bytes.
void format_bad_header(char* message, size_t capacity, const char* line, const char* end) {
    size_t fixed = sizeof BAD_HEADER_TEXT - 1 + sizeof BAD_HEADER_END - 1;
    size_t prefix = (size_t)(end - line);
    if (prefix > capacity - fixed - 1) prefix = capacity - fixed - 1;
    char* p = message;
    memcpy(p, BAD_HEADER_TEXT, sizeof BAD_HEADER_TEXT - 1);
    p += sizeof BAD_HEADER_TEXT - 1;
    memcpy(p, line, prefix);
    p += prefix;
    memcpy(p, BAD_HEADER_END, sizeof BAD_HEADER_END);
}

char* take_buffer() {
    return (char*)platform_take_memory(LINE_BUFFER_CAP);
}

} // namespace

char* next_line(TextStream* stream, char* dest) {
    size_t length;
    return next_line_text(stream, dest, &length);
}

void parse_section_body(const char* section, TextStream* stream, SettingSource source) {
    char* line = take_buffer();
    char* words = take_buffer(); // the key, then the first word after it
    if (line == nullptr || words == nullptr) {
        stream->failed = true;
    } else {
        size_t line_length;
        while (next_line_text(stream, line, &line_length) != nullptr) {
            const char* key_end;
            const char* line_end = line + line_length;
            const char* key = first_token(line, line_end, &key_end);
            if (key == nullptr) continue;
            if (*key == '[') {
                line_pushed_back = true; // the file loop reads this header next
                break;
            }
            if (*key == ';') continue;
            char* first_word = copy_span(words, key, key_end);
            const char* after = *key_end != '\0' ? key_end + 1 : key_end;
            const char* word_end;
            const char* word = first_token(after, line_end, &word_end);
            if (word == nullptr) {
                apply_setting(section, words, "", "", source);
                continue;
            }
            copy_span(first_word, word, word_end);
            // The key and first word are copied out, so the line itself can
            // hold the rest, trimmed.
            char* full_text = line + (after - line);
            while (*full_text == ' ' || *full_text == '\t' || *full_text == '=')
                full_text++;
            char* end = line + line_length;
            while (end > full_text && (end[-1] == ' ' || end[-1] == '\n'))
                end--;
            *end = '\0';
            apply_setting(section, words, first_word, full_text, source);
        }
    }
    platform_give_memory(words);
    platform_give_memory(line);
}

int parse_section_file(platform_window owner, const char* path, SettingSource source) {
    char* line = take_buffer();
    char* message = take_buffer();
    platform_file file = PLATFORM_NO_FILE;
    int result = 0;
    if (line != nullptr && message != nullptr)
        file = source == SOURCE_SETTINGS_FILE ? platform_open_settings_file(path)
                                              : platform_open_for_reading(path);
    if (launch_observer != nullptr) launch_observer->file(path, source, file != PLATFORM_NO_FILE);
    if (file != PLATFORM_NO_FILE) {
        // The stream's read chunk is working memory too.
        TextStream* stream = (TextStream*)platform_take_memory(sizeof(TextStream));
        if (stream != nullptr) {
            stream->file = file;
            stream->pos = stream->len = 0;
            stream->at_end = stream->failed = false;
            while (next_line(stream, line) != nullptr) {
                const char* end;
                char* token = (char*)first_token(line, &end);
                if (token == nullptr || *token != '[') continue;
                char* close = (char*)memchr(token, ']', (size_t)(end - token));
                if (close == nullptr) {
                    format_bad_header(message, LINE_BUFFER_CAP, line, end);
                    platform_message_box(owner, message, "Launcher");
                    continue;
                }
                *close = '\0';
                if (launch_observer != nullptr) launch_observer->section(token + 1);
                parse_section_body(token + 1, stream, source);
                if (stream->failed) break;
            }
            result = stream->failed ? 0 : 1;
            platform_give_memory(stream);
        }
        platform_close(file);
    }
    platform_give_memory(message);
    platform_give_memory(line);
    return result;
}
