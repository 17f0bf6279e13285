// Text for a terminal. A terminal takes the control characters of its
// character set as commands: a file's could erase a verdict, print one of
// their own or set the clipboard. The tools write every text that comes
// from a file, a file's name or the system through these, which show each
// byte of a control character, and each byte that is no character of the
// terminal's set, as \xHH.
#pragma once

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>

// The length of the UTF-8 sequence at `p` and its code point in `*code`;
// 0 when no valid one starts there (overlong, a surrogate, past U+10FFFF).
unsigned utf8_sequence(const unsigned char* p, uint32_t* code);

// True for a control character (C0, DEL, C1; U+0000 to U+001F, U+007F to
// U+009F), and for a byte that is no character (TERMINAL_NO_CHARACTER).
bool is_control_code(uint32_t code);

// Writes the character at `p` (not NUL) in the terminal's set to `out`,
// its bytes as \xHH when it is a control character; returns its length.
unsigned terminal_put_character(FILE* out, const unsigned char* p);

// `text` to `out`, control characters as \xHH.
void terminal_put(FILE* out, const char* text);

// fprintf of %s, %u, %d, %o and %% only: each %s goes through terminal_put.
void terminal_vprintf(FILE* out, const char* format, va_list args);
void terminal_printf(FILE* out, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Standard output flushed: false, and said on standard error as `program`'s,
// when it could not be written whole (a full device, a closed pipe), so a
// report cut short never ends as a success.
bool terminal_output_written(const char* program);
