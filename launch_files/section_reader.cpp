#include "launch_files/section_reader.h"

#include <string.h>

char line_buffer[LINE_BUFFER_CAP];
bool line_pushed_back = false;

namespace {

const char CTRL_Z = 0x1A;
const char BAD_HEADER_TEXT[] = "no matching ']' found on ";
const char BAD_HEADER_END[] = "!\n";

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
    if (c == (unsigned char)CTRL_Z) {
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
    while (n < LINE_MAX_CHARS) {
        if (s->pos == s->len && !refill(s)) break;
        // Copy the run of ordinary bytes at once; stop at any byte that folds.
        const unsigned char* p = s->chunk + s->pos;
        unsigned limit = s->len - s->pos;
        if (limit > LINE_MAX_CHARS - n) limit = LINE_MAX_CHARS - n;
        unsigned i = 0;
        while (i < limit && p[i] != '\n' && p[i] != '\r' && p[i] != (unsigned char)CTRL_Z)
            i++;
        memcpy(line_buffer + n, p, i);
        n += i;
        s->pos += i;
        if (i == limit) continue;
        int c = next_byte(s);
        if (c < 0) break;
        line_buffer[n++] = (char)c;
        if (c == '\n') break;
    }
    if (n > 0) line_buffer[n] = '\0';
    return n;
}

bool is_delimiter(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '=';
}

// The first token of `text`, or null when it has none; `*end` is set just
// past the token.
const char* first_token(const char* text, const char** end) {
    while (*text != '\0' && is_delimiter(*text))
        text++;
    if (*text == '\0') return nullptr;
    const char* p = text;
    while (*p != '\0' && !is_delimiter(*p))
        p++;
    *end = p;
    return text;
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
    if (!line_pushed_back && read_line(stream) == 0) return nullptr;
    size_t length = strlen(line_buffer); // a zero byte ends the line's text
    memcpy(dest, line_buffer, length + 1);
    line_pushed_back = false;
    return dest;
}

void parse_section_body(const char* section, TextStream* stream, SettingSource source) {
    char* line = take_buffer();
    char* words = take_buffer(); // the key, then the first word after it
    char* rest = take_buffer();
    if (line == nullptr || words == nullptr || rest == nullptr) {
        stream->failed = true;
    } else {
        while (next_line(stream, line) != nullptr) {
            const char* key_end;
            const char* key = first_token(line, &key_end);
            if (key == nullptr) continue;
            if (*key == '[') {
                line_pushed_back = true; // the file loop reads this header next
                break;
            }
            if (*key == ';') continue;
            char* first_word = copy_span(words, key, key_end);
            const char* after = *key_end != '\0' ? key_end + 1 : key_end;
            const char* word_end;
            const char* word = first_token(after, &word_end);
            if (word == nullptr) {
                apply_setting(section, words, "", "", source);
                continue;
            }
            copy_span(first_word, word, word_end);
            while (*after == ' ' || *after == '\t' || *after == '=')
                after++;
            size_t length = strlen(after);
            while (length > 0 && (after[length - 1] == ' ' || after[length - 1] == '\n'))
                length--;
            copy_span(rest, after, after + length);
            apply_setting(section, words, first_word, rest, source);
        }
    }
    platform_give_memory(rest);
    platform_give_memory(words);
    platform_give_memory(line);
}

int parse_section_file(platform_window owner, const char* path, SettingSource source) {
    char* line = take_buffer();
    char* message = take_buffer();
    platform_file file = PLATFORM_NO_FILE;
    int result = 0;
    if (line != nullptr && message != nullptr) file = platform_open_for_reading(path);
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
