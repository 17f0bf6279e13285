// Splitting a command line into arguments by the rules that Windows programs
// apply to their own command line, so that the POSIX start hands a program
// the same arguments it would see on Windows.
#pragma once

#include <stddef.h>

// Splits `line` into at most `max_args` arguments. Their texts are written,
// each zero-terminated, into `text` (`text_capacity` bytes; strlen(line) + 1
// always suffices, as no argument is longer than its source) and `args`
// points at each. The first argument is a program name: double quotes group
// and are removed, backslashes are ordinary. The others follow the argument
// rules: blanks and tabs separate; double quotes group and are removed; 2n
// backslashes before a double quote give n backslashes and the quote groups,
// 2n+1 give n backslashes and a literal quote; inside a group "" gives a
// literal quote; other backslashes are ordinary.
// Returns the number of arguments, or -1 when they do not fit.
int split_command_line(const char* line, char* text, size_t text_capacity, char** args,
                       int max_args);

// 1 when `command "path"` splits back into the command's arguments followed
// by exactly `path`, byte for byte; 0 when the path would be cut or would
// inject further arguments.
int path_survives_split(const char* path);
