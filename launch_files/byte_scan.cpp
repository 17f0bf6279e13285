#include "launch_files/byte_scan.h"

#include "launch_files/launch_observer.h"
#include "launch_files/launch_signature.h"

#include <stdint.h>
#include <string.h>

// One code path on every processor the launcher is built for, so that the
// scans the tests run are those a user's machine runs.
#ifndef __SSE2__
#error "the byte scans need SSE2 (on 32-bit x86: -msse2 -mfpmath=sse)"
#endif
#include <emmintrin.h>

namespace {

const unsigned char CTRL_Z = 0x1A;

// The bytes that end a token, looked up once per byte: one branch, where
// comparisons would take two, one of them hard to foretell.
struct TokenEnds {
    bool of[256];
    constexpr TokenEnds() : of() {
        of[0] = of[(unsigned char)' '] = of[(unsigned char)'\t'] = true;
        of[(unsigned char)'\n'] = of[(unsigned char)'='] = true;
    }
};
constexpr TokenEnds TOKEN_ENDS;

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

// The first line feed among the `n` bytes at `p`, or null; with `zeros`,
// `*zero` is set to the first zero byte before it (or among the `n` bytes),
// or null. Inline and sixteen bytes at a time: most lines are short, so the
// cost of a call would weigh more than the scan.
template <bool zeros>
inline const unsigned char* find_line_feed(const unsigned char* p, unsigned n,
                                           const unsigned char** zero) {
    if (zeros) *zero = nullptr;
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
    if (s->keeper != nullptr) keep_bytes(s->keeper, s->chunk + kept, n);
    if (n <= 0) {
        // A file that could not be read to its end is not acted on: what
        // follows the error might have changed every setting read so far.
        s->at_end = true;
        s->failed = n < 0;
        return;
    }
    const unsigned char* z = (const unsigned char*)memchr(s->chunk + kept, CTRL_Z, (size_t)n);
    if (z != nullptr) {
        bool more = z + 1 < s->chunk + kept + n;
        n = z - (s->chunk + kept);
        s->at_end = true;
        // Whether bytes followed it is asked of the file only for an observer.
        unsigned char next;
        if (launch_observer != nullptr && !more) {
            more = platform_read(s->file, &next, 1) > 0;
            if (more && s->keeper != nullptr) keep_bytes(s->keeper, &next, 1);
        }
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

// next_piece; its first zero byte is looked for only with `zeros`.
template <bool zeros> inline bool take_piece(TextStream* s, Piece* piece) {
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

// Whether the line's first token begins with '[' (and, with `closed_only`,
// holds a ']'): only such a line can end a section, so every other line of a
// section that is passed over is skipped without being tokenised.
inline bool opens_section(const Piece& piece, bool closed_only) {
    const unsigned char* p = piece.begin;
    while (p < piece.end && (*p == ' ' || *p == '\t' || *p == '='))
        p++;
    if (p == piece.end || *p != '[') return false;
    return !closed_only || memchr(p, ']', token_length(p, (unsigned)(piece.end - p))) != nullptr;
}

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

// Bytes looked at for a ']' at once when only headers holding one matter.
const unsigned CLOSE_WINDOW = 4096;

// Moves the stream from the start of a line over whole lines that hold no
// ']' at all, and so no header that holds one: up to the line of the first
// ']' within CLOSE_WINDOW bytes, or past the last line feed there when there
// is none. A line feed always ends a piece, so the stream is left at the
// start of one.
void pass_lines_without_close(TextStream* s) {
    unsigned window = s->len - s->pos < CLOSE_WINDOW ? s->len - s->pos : CLOSE_WINDOW;
    const unsigned char* begin = s->chunk + s->pos;
    const unsigned char* close = (const unsigned char*)memchr(begin, ']', window);
    const unsigned char* p = close != nullptr ? close : begin + window;
    // Most often the ']' is in the line at hand: then nothing is passed.
    if (memchr(begin, '\n', (size_t)(p - begin)) == nullptr) return;
    while (p[-1] != '\n')
        p--;
    s->pos += (unsigned)(p - begin);
}

} // namespace

bool next_piece(TextStream* s, Piece* piece) {
    return take_piece<true>(s, piece);
}

void put_back(TextStream* s, const Piece& piece) {
    s->pos = (unsigned)(piece.begin - s->chunk);
}

bool pass_to_section_header(TextStream* s, bool closed_only) {
    Piece piece;
    for (;;) {
        if (closed_only) pass_lines_without_close(s);
        if (!take_piece<false>(s, &piece)) break;
        if (opens_section(piece, closed_only)) {
            put_back(s, piece);
            return true;
        }
        if (piece.newline) pass_short_lines(s);
    }
    return false;
}

// Sixteen bytes at a time, then eight: every delimiter but the equals sign
// is a control character or a space, so most words pass the eight-byte quick
// test.
unsigned token_length(const unsigned char* p, unsigned limit) {
    unsigned i = 0;
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
    while (i + 8 <= limit) {
        uint64_t word;
        memcpy(&word, p + i, sizeof word);
        if (maybe_byte_below(word, ' ' + 1) | bytes_equal(word, '=')) {
            uint64_t found = bytes_equal(word, 0) | bytes_equal(word, '\n') |
                             bytes_equal(word, ' ') | bytes_equal(word, '\t') |
                             bytes_equal(word, '=');
            if (found) return i + (unsigned)(__builtin_ctzll(found) >> 3);
        }
        i += 8;
    }
    while (i < limit && !TOKEN_ENDS.of[p[i]])
        i++;
    return i;
}
