// The character set of the terminal that reads a tool's output, as far as
// the system tells it: the locale's on POSIX, the console's code page on
// Windows (each face's terminal_set.cpp). The tools show file bytes through
// check/terminal_text.h, which asks these.
#pragma once

#include <stdint.h>

// A byte that is no character of the terminal's set.
const uint32_t TERMINAL_NO_CHARACTER = 0xFFFFFFFF;

// 1 when the terminal reads UTF-8.
int platform_terminal_is_utf8(void);

// A program started without a standard input, output or error would give
// that number to the first file it opens, and text meant for the terminal
// would be written into the file. Each one missing is held for the whole
// run by the null device, opened the other way round (a read of the input,
// a write of the output or error still fails as on a missing one) and
// closed for a program started (which gets it missing, as before).
void platform_hold_standard_streams(void);

// 1 when standard output is a terminal (on Windows a console), not a file
// or a pipe.
int platform_output_is_terminal(void);

// The character that starts at `text` (NUL-terminated, `*text` not NUL) in
// the terminal's set, which is not UTF-8: its length in bytes, and its
// Unicode code point in `*code`, or TERMINAL_NO_CHARACTER for one byte that
// is no character of the set.
unsigned platform_terminal_decode(const unsigned char* text, uint32_t* code);
