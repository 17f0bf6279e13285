// The reader of section files: bracketed section headers followed by key
// lines. It hands every key line to apply_setting and gives it no meaning of
// its own.
#pragma once

#include "launch_files/launch_settings.h"
#include "platform/platform.h"

enum {
    LINE_BUFFER_CAP = 4096, // every line passes through a buffer of this size
    LINE_MAX_CHARS = 4094,  // a longer line arrives as several lines
    READ_CHUNK_CAP = 4096,
};

// A file open for reading as text: CR LF reaches the reader as LF, a lone CR
// stays, the first Ctrl-Z ends the file, and a read error looks like the end.
struct TextStream {
    platform_file file;
    unsigned pos;
    unsigned len;
    bool at_end;
    bool failed; // a working buffer could not be obtained
    unsigned char chunk[READ_CHUNK_CAP];
};

// The line most recently read from any file, and whether the next call of
// next_line hands it out again instead of reading.
extern char line_buffer[LINE_BUFFER_CAP];
extern bool line_pushed_back;

// Copies the next line (at most LINE_MAX_CHARS characters, its line feed
// kept) into `dest`, a buffer of LINE_BUFFER_CAP bytes, and returns `dest`;
// returns null at the end of the file, leaving `dest` untouched.
char* next_line(TextStream* stream, char* dest);

// Applies the key lines of one section, up to the next header line (handed
// back through line_pushed_back) or the end of the file.
void parse_section_body(const char* section, TextStream* stream, SettingSource source);

// Reads the whole file at `path`. Returns 1 when it could be opened and read,
// whatever it held, and 0 when it cannot be opened (or a working buffer
// could not be had). A header without ']' is reported in a message box owned
// by `owner`, and reading goes on.
int parse_section_file(platform_window owner, const char* path, SettingSource source);
