#include "launch/command_line_split.h"

#include <string.h>

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// Appends one byte of argument text, or fails when `text` is full.
bool put(char* text, size_t capacity, size_t* used, char c) {
    if (*used >= capacity) return false;
    text[(*used)++] = c;
    return true;
}

} // namespace

int split_command_line(const char* line, char* text, size_t text_capacity, char** args,
                       int max_args) {
    size_t used = 0;
    int count = 0;
    const char* p = line;
    while (is_blank(*p))
        p++;
    while (*p != '\0') {
        if (count >= max_args) return -1;
        args[count] = text + used;
        bool in_quotes = false;
        if (count == 0) {
            // The program name: quotes group, backslashes stay as they are.
            while (*p != '\0' && (in_quotes || !is_blank(*p))) {
                if (*p == '"') {
                    in_quotes = !in_quotes;
                } else if (!put(text, text_capacity, &used, *p)) {
                    return -1;
                }
                p++;
            }
        } else {
            while (*p != '\0' && (in_quotes || !is_blank(*p))) {
                if (*p == '\\') {
                    size_t run = 0;
                    while (p[run] == '\\')
                        run++;
                    size_t keep = p[run] == '"' ? run / 2 : run;
                    for (size_t i = 0; i < keep; i++)
                        if (!put(text, text_capacity, &used, '\\')) return -1;
                    p += run;
                    if (*p == '"' && run % 2 == 1) {
                        if (!put(text, text_capacity, &used, '"')) return -1;
                        p++;
                    }
                } else if (*p == '"') {
                    if (in_quotes && p[1] == '"') {
                        if (!put(text, text_capacity, &used, '"')) return -1;
                        p += 2;
                    } else {
                        in_quotes = !in_quotes;
                        p++;
                    }
                } else {
                    if (!put(text, text_capacity, &used, *p)) return -1;
                    p++;
                }
            }
        }
        if (!put(text, text_capacity, &used, '\0')) return -1;
        count++;
        while (is_blank(*p))
            p++;
    }
    return count;
}

int path_survives_split(const char* path) {
    enum { CAP = 600 };
    size_t length = strlen(path);
    // `x "` before the path, `"` and the terminator after it.
    if (length + 5 > CAP) return 0;
    char line[CAP];
    line[0] = 'x';
    line[1] = ' ';
    line[2] = '"';
    memcpy(line + 3, path, length);
    line[3 + length] = '"';
    line[4 + length] = '\0';
    char text[CAP];
    char* args[4];
    int count = split_command_line(line, text, sizeof text, args, 4);
    return count == 2 && strcmp(args[1], path) == 0;
}
