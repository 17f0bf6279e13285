// talvin-config's view of a settings file: the launcher's own reader tells
// where each line, header and key line lies, so that a section is found
// exactly as the launcher finds it and every other byte stays as it was.
#pragma once

#include <stddef.h>

// Writes into `out` the bytes `old` (the file `path`, read as the launcher
// reads it) with each section named `name` (its header and key lines;
// comments and blank lines stay) taken out, and `text` (null: none) in the
// place of the first one, or after the last line the launcher reads when
// there is none (before a Ctrl-Z and what follows it; a last line without its
// line end is given `line_end` first). Returns the new size, -2 when the
// reader could not read `path` to its end (a read error, no memory), or -1
// when it does not read `old` there.
long edit_settings(const char* path, const char* old, size_t old_size, const char* name,
                   const char* text, const char* line_end, char* out, size_t out_capacity);

// 1 when the last edit_settings kept a password line of an identification
// section (one not named).
int edit_kept_password(void);

// The line end the file `old` uses: that of its first line, else `fallback`.
const char* line_end_of(const char* old, size_t old_size, const char* fallback);

// Prints the name of the file `path`, then its products and identification
// as the launcher reads them, the password as its length only. Returns 1
// when read whole, 0 when not opened (refused, or none there: nothing is
// printed) and -1 when a read failed part way.
int show_settings(const char* path);
