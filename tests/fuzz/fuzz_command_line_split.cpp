// Fuzz target: the Windows argument rules split that the POSIX start
// operation applies to a command line, sized as that operation sizes it.
#include "launch/command_line_split.h"

#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char* line = input_line(data, size);
    size_t length = strlen(line);

    // As the start operation sizes them: the text never needs more than the
    // line, and arguments are at most one per two bytes.
    char* text = (char*)malloc(length + 1);
    int max_args = (int)(length / 2 + 1);
    char** args = (char**)malloc(sizeof(char*) * (size_t)(max_args + 1));
    int count = split_command_line(line, text, length + 1, args, max_args);
    check(count >= 0, "the start operation's sizes always suffice");
    check(count <= max_args, "no more arguments than room for them");
    check((count == 0) == (strspn(line, " \t") == length), "no arguments only for a blank line");
    size_t total = 0;
    for (int i = 0; i < count; i++) {
        check(args[i] >= text && args[i] < text + length + 1, "argument inside the text");
        const char* end = (const char*)memchr(args[i], '\0', (size_t)(text + length + 1 - args[i]));
        check(end != nullptr, "argument terminated inside the text");
        check((size_t)(end - args[i]) <= length, "argument never longer than the line");
        total += (size_t)(end - args[i]) + 1;
    }
    check(total <= length + 1, "arguments fit the line's size");

    // A smaller text buffer either holds the same split or is refused, never
    // overrun (the buffer is exactly that size).
    size_t small = length / 2;
    if (small > 0) {
        char* tight = (char*)malloc(small);
        char** tight_args = (char**)malloc(sizeof(char*) * (size_t)max_args);
        int tight_count = split_command_line(line, tight, small, tight_args, max_args);
        check(tight_count == -1 || tight_count == count, "a tight buffer fits or is refused");
        for (int i = 0; i < tight_count; i++)
            check(strcmp(tight_args[i], args[i]) == 0, "same split in a tight buffer");
        free(tight_args);
        free(tight);
    }

    // A path that is said to survive comes back whole as the last argument.
    if (path_survives_split(line)) {
        size_t quoted_size = length + 5;
        char* quoted = (char*)malloc(quoted_size);
        snprintf(quoted, quoted_size, "x \"%s\"", line);
        char* back = (char*)malloc(quoted_size);
        char* back_args[3];
        int back_count = split_command_line(quoted, back, quoted_size, back_args, 3);
        check(back_count == 2 && strcmp(back_args[1], line) == 0, "surviving path comes back");
        free(back);
        free(quoted);
    } else if (strchr(line, '"') == nullptr && strchr(line, '\\') == nullptr) {
        check(length + 5 > 600, "a path without quotes or backslashes survives");
    }

    free(args);
    free(text);
    free(line);
    return 0;
}
