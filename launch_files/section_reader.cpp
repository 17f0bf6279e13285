#include "launch_files/section_reader.h"

#include "launch_files/launch_observer.h"

#include <string.h>

char line_buffer[LINE_BUFFER_CAP];
bool line_pushed_back = false;
unsigned bad_header_boxes = 0;
bool section_file_unread = false;
const LaunchObserver* launch_observer = nullptr;

namespace {

const char BAD_HEADER_TEXT[] = "no matching ']' found on ";
const char BAD_HEADER_END[] = "!\n";
// A page's file of nothing but bad headers would hold the person at one
// modal box after another.
const char BAD_HEADER_LAST_END[] = "!\nFurther headers without ']' are not shown.\n";

// Space, tab, line feed and equals sign separate tokens. A table: one
// branch per byte looked at.
struct Delimiters {
    bool of[256];
    constexpr Delimiters() : of() {
        of[(unsigned char)' '] = of[(unsigned char)'\t'] = true;
        of[(unsigned char)'\n'] = of[(unsigned char)'='] = true;
    }
};
constexpr Delimiters DELIMITERS;

inline bool is_delimiter(unsigned char c) {
    return DELIMITERS.of[c];
}

// The length of the text in line_buffer, up to its first zero byte, as
// recorded when the line was read.
unsigned line_text_length = 0;

// Reads one line into line_buffer; returns its length in characters.
unsigned read_line(TextStream* s) {
    Piece piece;
    if (!next_piece(s, &piece)) return 0;
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
inline const char* first_token(const char* text, const char* text_end, const char** end) {
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
            if (!next_piece(stream, &piece)) return;
            if (piece.own_end) {
                unsigned char* p = piece.begin;
                while (p < piece.end && is_delimiter(*p))
                    p++;
                LineKind kind = p < piece.end ? kind_of(*p) : NO_TOKEN;
                if (kind == KEY) {
                    unsigned char* end = piece.zero != nullptr ? piece.zero : piece.end;
                    *end = '\0'; // over its CR or line feed, or past the data
                    apply_key_line(section, (char*)p, (char*)end, words, source);
                }
                if (kind != HEADER) continue;
            }
            // A header too is read below, where it is handed back to the file loop.
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
// the next header, which is handed back as apply_section_body would. Its own
// header was the line just read, so no line is handed back yet.
void pass_section_body(TextStream* stream) {
    if (pass_to_section_header(stream)) {
        read_line(stream);
        line_pushed_back = true;
    }
}

// "no matching ']' found on PREFIX" and `ending`, the prefix cut so that
// the whole text fits `capacity` bytes.
void format_bad_header(char* message, size_t capacity, const char* line, const char* end,
                       const char* ending) {
    size_t ending_length = strlen(ending);
    size_t fixed = sizeof BAD_HEADER_TEXT - 1 + ending_length;
    size_t prefix = (size_t)(end - line);
    if (prefix > capacity - fixed - 1) prefix = capacity - fixed - 1;
    char* p = message;
    memcpy(p, BAD_HEADER_TEXT, sizeof BAD_HEADER_TEXT - 1);
    p += sizeof BAD_HEADER_TEXT - 1;
    memcpy(p, line, prefix);
    p += prefix;
    memcpy(p, ending, ending_length + 1);
}

// The box for a header without ']', while the run may show one.
void report_bad_header(platform_window owner, char* message, const char* line, const char* end) {
    if (bad_header_boxes > BAD_HEADER_BOXES_MAX) return;
    bool last = bad_header_boxes == BAD_HEADER_BOXES_MAX;
    format_bad_header(message, LINE_BUFFER_CAP, line, end,
                      last ? BAD_HEADER_LAST_END : BAD_HEADER_END);
    platform_message_box(owner, message, "Launcher");
    bad_header_boxes++;
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

int parse_section_file(platform_window owner, const char* path, SettingSource source,
                       platform_file* kept, SignatureKeeper* keeper, char* refused,
                       unsigned refused_capacity) {
    char* line = take_buffer();
    char* message = take_buffer();
    platform_file file = PLATFORM_NO_FILE;
    int result = 0;
    if (kept != nullptr) *kept = PLATFORM_NO_FILE;
    if (refused != nullptr && refused_capacity > 0) refused[0] = '\0';
    if (line != nullptr && message != nullptr)
        file = source == SOURCE_SETTINGS_FILE
                   ? platform_open_settings_file(path, refused, refused_capacity)
                   : platform_open_for_reading(path);
    // A file that is there but cannot be opened is not passed over as missing.
    if (line == nullptr || message == nullptr ||
        (file == PLATFORM_NO_FILE && !platform_open_found_nothing()))
        section_file_unread = true;
    if (launch_observer != nullptr) launch_observer->file(path, source, file != PLATFORM_NO_FILE);
    if (file != PLATFORM_NO_FILE) {
        // The stream's read chunk is working memory too.
        TextStream* stream = (TextStream*)platform_take_memory(sizeof(TextStream));
        if (stream != nullptr) {
            stream->file = file;
            stream->keeper = keeper;
            stream->pos = stream->len = 0;
            stream->at_end = stream->failed = false;
            stream->ctrl_z = 0;
            // Lines outside any section are skipped unread: only a header
            // matters there, and a header without ']' only while its box may
            // be shown (an observer is told of every line).
            bool every_line = launch_observer != nullptr;
            while ((line_pushed_back || every_line ||
                    pass_to_section_header(stream, bad_header_boxes > BAD_HEADER_BOXES_MAX)) &&
                   next_line(stream, line) != nullptr) {
                const char* end;
                char* token = (char*)first_token(line, &end);
                if (token == nullptr || *token != '[') continue;
                char* close = (char*)memchr(token, ']', (size_t)(end - token));
                if (close == nullptr) {
                    report_bad_header(owner, message, line, end);
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
        if (result == 0) section_file_unread = true;
        if (kept != nullptr && result == 1)
            *kept = file;
        else
            platform_close(file);
    }
    platform_give_memory(message);
    platform_give_memory(line);
    return result;
}
