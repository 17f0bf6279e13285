#include "launch_files/section_reader.h"

#include "launch_files/launch_observer.h"

#include <stdint.h>
#include <string.h>

#if defined(__SSE2__) && defined(__GNUC__)
#include <emmintrin.h>
#define LAUNCHER_SSE2 1
#endif

char line_buffer[LINE_BUFFER_CAP];
bool line_pushed_back = false;
const LaunchObserver* launch_observer = nullptr;

namespace {

const unsigned char CTRL_Z = 0x1A;
const char BAD_HEADER_TEXT[] = "no matching ']' found on ";
const char BAD_HEADER_END[] = "!\n";

// What each byte means to the tokenising scans, looked up once per byte.
enum : unsigned char {
    ZERO = 2,      // ends the line's text
    DELIMITER = 4, // separates tokens: space, tab, line feed, equals sign
};

struct ByteClasses {
    unsigned char of[256];
    constexpr ByteClasses() : of() {
        of[0] = ZERO;
        of[(unsigned char)'\n'] = DELIMITER;
        of[(unsigned char)' '] = DELIMITER;
        of[(unsigned char)'\t'] = DELIMITER;
        of[(unsigned char)'='] = DELIMITER;
    }
};
constexpr ByteClasses CLASSES;

inline bool is_delimiter(unsigned char c) {
    return (CLASSES.of[c] & DELIMITER) != 0;
}

// The count of leading bytes of `p` (at most `limit`) that are neither a
// delimiter nor zero.
inline unsigned span_bytewise(const unsigned char* p, unsigned limit) {
    unsigned i = 0;
    while (i < limit && !(CLASSES.of[p[i]] & (DELIMITER | ZERO)))
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

// The length of the token at `p` (at most `limit`): sixteen bytes at a time
// with SSE2, else eight. Every delimiter but the equals sign is a control
// character or a space, so most words pass the eight-byte quick test.
inline unsigned token_length(const unsigned char* p, unsigned limit) {
    unsigned i = 0;
#if LAUNCHER_SSE2
    for (; i + 16 <= limit; i += 16) {
        __m128i block = _mm_loadu_si128((const __m128i*)(p + i));
        __m128i stop =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8(' ')),
                                      _mm_cmpeq_epi8(block, _mm_set1_epi8('='))),
                         _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('\t')),
                                                   _mm_cmpeq_epi8(block, _mm_set1_epi8('\n'))),
                                      _mm_cmpeq_epi8(block, _mm_setzero_si128())));
        unsigned found = (unsigned)_mm_movemask_epi8(stop);
        if (found != 0) return i + __builtin_ctz(found);
    }
#endif
    while (i + 8 <= limit) {
        uint64_t word;
        memcpy(&word, p + i, sizeof word);
        if (maybe_byte_below(word, ' ' + 1) | bytes_equal(word, '=')) {
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            uint64_t found = bytes_equal(word, 0) | bytes_equal(word, '\n') |
                             bytes_equal(word, ' ') | bytes_equal(word, '\t') |
                             bytes_equal(word, '=');
            if (found) return i + (unsigned)(__builtin_ctzll(found) >> 3);
#else
            unsigned n = span_bytewise(p + i, 8);
            if (n < 8) return i + n;
#endif
        }
        i += 8;
    }
    return i + span_bytewise(p + i, limit - i);
}

// The first line feed among the `n` bytes at `p`, or null; with `zeros`,
// `*zero` is set to the first zero byte before it (or among the `n` bytes),
// or null. Inline and sixteen bytes at a time where the processor has SSE2:
// most lines are short, so the cost of a call would weigh more than the scan.
template <bool zeros>
inline const unsigned char* find_line_feed(const unsigned char* p, unsigned n,
                                           const unsigned char** zero) {
    if (zeros) *zero = nullptr;
#if LAUNCHER_SSE2
    unsigned i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i block = _mm_loadu_si128((const __m128i*)(p + i));
        unsigned lf = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8('\n')));
        if (zeros && *zero == nullptr) {
            unsigned z = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_setzero_si128()));
            // Only a zero byte before the line feed counts.
            if (lf != 0) z &= lf - 1;
            if (z != 0) *zero = p + i + __builtin_ctz(z);
        }
        if (lf != 0) return p + i + __builtin_ctz(lf);
    }
    for (; i < n; i++) {
        if (p[i] == '\n') return p + i;
        if (zeros && p[i] == 0 && *zero == nullptr) *zero = p + i;
    }
    return nullptr;
#else
    const unsigned char* lf = (const unsigned char*)memchr(p, '\n', n);
    if (zeros) *zero = (const unsigned char*)memchr(p, 0, lf != nullptr ? (size_t)(lf - p) : n);
    return lf;
#endif
}

// Moves the unread bytes to the front of the chunk and reads more after
// them. The first Ctrl-Z ends the data and the reading.
void refill(TextStream* s) {
    if (s->at_end) return;
    unsigned kept = s->len - s->pos;
    memmove(s->chunk, s->chunk + s->pos, kept);
    s->pos = 0;
    s->len = kept;
    long n = platform_read(s->file, s->chunk + kept, READ_CHUNK_CAP - kept);
    if (n <= 0) {
        s->at_end = true; // a read error ends the file like its end
        return;
    }
    const unsigned char* z = (const unsigned char*)memchr(s->chunk + kept, CTRL_Z, (size_t)n);
    if (z != nullptr) {
        bool more = z + 1 < s->chunk + kept + n;
        n = z - (s->chunk + kept);
        s->at_end = true;
        // Whether bytes followed it is asked of the file only for an observer.
        unsigned char next;
        if (launch_observer != nullptr && !more) more = platform_read(s->file, &next, 1) > 0;
        s->ctrl_z = more ? 2 : 1;
    }
    s->len += (unsigned)n;
}

// Tells the observer of the Ctrl-Z that ended the data, once, when the
// reading reaches it.
inline void reach_ctrl_z(TextStream* s) {
    if (s->ctrl_z != 0 && launch_observer != nullptr) launch_observer->ctrl_z(s->ctrl_z == 2);
    s->ctrl_z = 0;
}

// One line as read: at most LINE_MAX_CHARS characters, up to and with its
// line feed. Its characters lie in the chunk from `begin` to `end` unfolded,
// followed by the line feed when `newline` is set (a CR LF pair is folded,
// so it stands only at the end). `own_end`: the byte at `end` is the line's
// own (its line feed or CR) or lies past the data, so a terminator may be
// written there; it is not when a long line was cut. `zero`: its first zero
// byte, where its text ends, or null (found only when asked for).
struct Piece {
    unsigned char* begin;
    unsigned char* end;
    unsigned char* zero;
    bool newline;
    bool own_end;
};

// Takes the next line from the stream; false at the end of the file. The
// piece stays valid until the next call.
template <bool zeros> inline bool next_piece(TextStream* s, Piece* piece) {
    for (;;) {
        unsigned char* p = s->chunk + s->pos;
        unsigned available = s->len - s->pos;
        // A line of LINE_MAX_CHARS characters may end with CR LF.
        unsigned window = available < LINE_MAX_CHARS + 1 ? available : LINE_MAX_CHARS + 1;
        const unsigned char* zero;
        const unsigned char* lf = find_line_feed<zeros>(p, window, &zero);
        if (lf != nullptr) {
            unsigned i = (unsigned)(lf - p);
            unsigned cr = i > 0 && p[i - 1] == '\r' ? 1 : 0;
            if (i - cr < LINE_MAX_CHARS) {
                piece->begin = p;
                piece->end = p + i - cr;
                piece->zero = zeros ? (unsigned char*)zero : nullptr;
                piece->newline = true;
                piece->own_end = true;
                s->pos += i + 1;
                return true;
            }
        } else if (window <= LINE_MAX_CHARS) {
            // The data ends within the line: read on, or it is the last one.
            if (!s->at_end) {
                refill(s);
                continue;
            }
            reach_ctrl_z(s);
            if (available == 0) return false;
            piece->begin = p;
            piece->end = p + available;
            piece->zero = zeros ? (unsigned char*)zero : nullptr;
            piece->newline = false;
            piece->own_end = true;
            s->pos = s->len;
            return true;
        }
        // Longer than a line: the rest comes as the next line.
        piece->begin = p;
        piece->end = p + LINE_MAX_CHARS;
        piece->zero =
            zeros && zero != nullptr && zero < piece->end ? (unsigned char*)zero : nullptr;
        piece->newline = false;
        piece->own_end = false;
        s->pos += LINE_MAX_CHARS;
        return true;
    }
}

// Puts the piece back, to be taken again by the next read of the stream.
inline void put_back(TextStream* s, const Piece& piece) {
    s->pos = (unsigned)(piece.begin - s->chunk);
}

// Whether the line's first token begins with '[': only such a line can end a
// section, so every other line of a section that is passed over is skipped
// without being tokenised.
inline bool opens_section(const Piece& piece) {
    const unsigned char* p = piece.begin;
    while (p < piece.end && (*p == ' ' || *p == '\t' || *p == '='))
        p++;
    return p < piece.end && *p == '[';
}

#if LAUNCHER_SSE2
// The bytes of the 64 at `p` that are line feeds, and those that may open a
// section at the start of a line ('[' or a delimiter), as bit masks.
inline void line_masks(const unsigned char* p, uint64_t* feeds, uint64_t* opening) {
    *feeds = 0;
    *opening = 0;
    for (unsigned i = 0; i < 64; i += 16) {
        __m128i block = _mm_loadu_si128((const __m128i*)(p + i));
        __m128i open = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('[')),
                                                 _mm_cmpeq_epi8(block, _mm_set1_epi8('='))),
                                    _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8(' ')),
                                                 _mm_cmpeq_epi8(block, _mm_set1_epi8('\t'))));
        __m128i feed = _mm_cmpeq_epi8(block, _mm_set1_epi8('\n'));
        *feeds |= (uint64_t)(unsigned)_mm_movemask_epi8(feed) << i;
        *opening |= (uint64_t)(unsigned)_mm_movemask_epi8(open) << i;
    }
}

// Lines at least this long are left to the scan for their line feed, which
// is quicker over long runs, and which alone splits lines longer than
// LINE_MAX_CHARS into pieces.
const unsigned LONG_LINE = 256;

// Moves the stream from the start of a line (just after a line feed) over
// short lines that cannot open a section, 64 bytes at a time and without
// looking at each line: it stops at the first line whose first byte is '[' or
// a delimiter, at a line of LONG_LINE bytes or more, or where the data read
// ends. The stream is left at the start of the line to look at next.
void pass_short_lines(TextStream* s) {
    unsigned line = s->pos; // where the current line starts
    uint64_t starts = 1;    // bit 0: the block's first byte starts a line
    for (unsigned q = s->pos; q + 64 <= s->len; q += 64) {
        uint64_t feeds, opening;
        line_masks(s->chunk + q, &feeds, &opening);
        // Only the line that ends at the block's first line feed can have
        // begun before the block; no line feed at all counts as one just
        // past it.
        unsigned first_feed = q + (feeds != 0 ? (unsigned)__builtin_ctzll(feeds) : 64);
        if (first_feed - line >= LONG_LINE) break;
        uint64_t look = (starts | (feeds << 1)) & opening;
        if (look != 0) {
            line = q + (unsigned)__builtin_ctzll(look);
            break;
        }
        if (feeds != 0) line = q + 64 - (unsigned)__builtin_clzll(feeds);
        starts = feeds >> 63;
    }
    s->pos = line;
}
#endif

// Passes over lines up to the next one whose first token begins with '[',
// which is left to be read next; false at the end of the file.
bool pass_to_section_header(TextStream* s) {
    Piece piece;
    while (next_piece<false>(s, &piece)) {
        if (opens_section(piece)) {
            put_back(s, piece);
            return true;
        }
#if LAUNCHER_SSE2
        if (piece.newline) pass_short_lines(s);
#endif
    }
    return false;
}

// The length of the text in line_buffer, up to its first zero byte, as
// recorded when the line was read.
unsigned line_text_length = 0;

// Reads one line into line_buffer; returns its length in characters.
unsigned read_line(TextStream* s) {
    Piece piece;
    if (!next_piece<true>(s, &piece)) return 0;
    unsigned n = (unsigned)(piece.end - piece.begin);
    memcpy(line_buffer, piece.begin, n);
    if (piece.newline) line_buffer[n++] = '\n';
    line_buffer[n] = '\0';
    line_text_length = piece.zero != nullptr ? (unsigned)(piece.zero - piece.begin) : n;
    if (launch_observer != nullptr) launch_observer->line(n, line_text_length, piece.newline);
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
    while (is_delimiter(*p))
        p++;
    if (*p == '\0') return nullptr;
    unsigned rest = (unsigned)(text_end - (const char*)p);
    *end = (const char*)p + token_length(p, rest);
    return (const char*)p;
}

const char* first_token(const char* text, const char** end) {
    return first_token(text, text + strlen(text), end);
}

// Applies the key line whose first token, the key, begins at `key`; its text
// ends at `end`, where a zero byte stands. The line itself is cut into the
// key and the full text; the first word is copied into `words` unless it is
// the whole full text.
void apply_key_line(const char* section, char* key, char* end, char* words, SettingSource source) {
    char* key_end = key + token_length((unsigned char*)key, (unsigned)(end - key));
    char* after = key_end != end ? key_end + 1 : key_end;
    *key_end = '\0';
    const char* word_end;
    const char* word = first_token(after, end, &word_end);
    if (word == nullptr) {
        apply_setting(section, key, "", "", source);
        return;
    }
    // The full text starts at the first word: only the line feed is a
    // delimiter that it does not skip, and that ends the line.
    char* full_text = (char*)word;
    while (end > full_text && (end[-1] == ' ' || end[-1] == '\n'))
        end--;
    const char* first_word = full_text;
    if (word_end != end) {
        size_t word_length = (size_t)(word_end - word);
        memcpy(words, word, word_length);
        words[word_length] = '\0';
        first_word = words;
    }
    *end = '\0';
    apply_setting(section, key, first_word, full_text, source);
}

// What a line of a section body is, by its first token.
enum LineKind { NO_TOKEN, HEADER, COMMENT, KEY };

inline LineKind kind_of(unsigned char first) {
    if (first == '\0') return NO_TOKEN;
    if (first == '[') return HEADER;
    return first == ';' ? COMMENT : KEY;
}

// The body of a section whose lines may change the settings. A line that
// ends in the chunk is tokenised where it lies; one handed back, cut from a
// longer line, or read for an observer, is tokenised in `line`.
void apply_section_body(const char* section, TextStream* stream, SettingSource source, char* line,
                        char* words) {
    for (;;) {
        Piece piece;
        if (!line_pushed_back && launch_observer == nullptr) {
            if (!next_piece<true>(stream, &piece)) return;
            if (piece.own_end) {
                unsigned char* p = piece.begin;
                while (p < piece.end && is_delimiter(*p))
                    p++;
                LineKind kind = p < piece.end ? kind_of(*p) : NO_TOKEN;
                if (kind == HEADER) {
                    put_back(stream, piece);
                    read_line(stream);
                    line_pushed_back = true; // the file loop reads this header next
                    return;
                }
                if (kind != KEY) continue;
                unsigned char* end = piece.zero != nullptr ? piece.zero : piece.end;
                *end = '\0'; // over its CR or line feed, or past the data
                apply_key_line(section, (char*)p, (char*)end, words, source);
                continue;
            }
            put_back(stream, piece);
        }
        size_t line_length;
        if (next_line_text(stream, line, &line_length) == nullptr) return;
        const char* key_end;
        char* key = (char*)first_token(line, line + line_length, &key_end);
        LineKind kind = key != nullptr ? kind_of((unsigned char)*key) : NO_TOKEN;
        if (kind == HEADER) {
            line_pushed_back = true; // the file loop reads this header next
            return;
        }
        if (kind == KEY) apply_key_line(section, key, line + line_length, words, source);
    }
}

// A section that cannot change the settings: its lines are passed over up to
// the next header, which is handed back as apply_section_body would.
void pass_section_body(TextStream* stream) {
    if (line_pushed_back) {
        const char* end;
        const char* token = first_token(line_buffer, &end);
        if (token != nullptr && *token == '[') return; // still handed back
        line_pushed_back = false;
    }
    if (pass_to_section_header(stream)) {
        read_line(stream);
        line_pushed_back = true;
    }
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
    // A section that cannot change the settings needs no working buffers.
    // An observer is told of every line and every key line, applied or not.
    if (launch_observer == nullptr && section_is_ignored(section)) {
        pass_section_body(stream);
        return;
    }
    char* line = take_buffer();
    char* words = take_buffer(); // the first word after the key
    if (line == nullptr || words == nullptr)
        stream->failed = true;
    else
        apply_section_body(section, stream, source, line, words);
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
            stream->ctrl_z = 0;
            // Lines outside any section are skipped unread: only a header
            // matters there (an observer is told of every line).
            bool every_line = launch_observer != nullptr;
            while ((line_pushed_back || every_line || pass_to_section_header(stream)) &&
                   next_line(stream, line) != nullptr) {
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
