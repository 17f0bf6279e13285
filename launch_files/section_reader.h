// The reader of section files: bracketed section headers followed by key
// lines. It hands every key line to apply_setting and gives it no meaning of
// its own.
#pragma once

#include "launch_files/launch_settings.h"
#include "platform/platform.h"

// Bytes read at once. Large reads keep the system calls few; the chunk still
// fits the processor's cache, where the lines are then scanned. The fuzz
// targets read smaller chunks, so that their inputs cross chunk ends.
#ifndef LAUNCHER_READ_CHUNK_CAP
#define LAUNCHER_READ_CHUNK_CAP 65536
#endif

enum {
    LINE_BUFFER_CAP = 4096, // a line handed out or back is held in a buffer of this size
    LINE_MAX_CHARS = 4094,  // a longer line arrives as several lines
    READ_CHUNK_CAP = LAUNCHER_READ_CHUNK_CAP,
};

static_assert(READ_CHUNK_CAP > LINE_MAX_CHARS + 1, "a cut line and more must fit the chunk");

// A file open for reading as text: CR LF reaches the reader as LF, a lone CR
// stays, the first Ctrl-Z ends the file, and a read error looks like the end.
// All zero is a stream not yet read from (with `file` set).
struct TextStream {
    platform_file file;
    unsigned pos; // the next unread byte of `chunk`
    unsigned len; // the bytes of `chunk` read and before any Ctrl-Z
    bool at_end;  // nothing more is read: end of file, read error or Ctrl-Z
    bool failed;  // a working buffer could not be obtained
    // A Ctrl-Z ended the data read, not yet told to the observer: 1, or 2
    // when bytes followed it.
    unsigned char ctrl_z;
    // The unread part of a line cut by the chunk's end is moved to the front
    // before the next read. One byte more: a line's text may be ended just
    // past the last byte read.
    unsigned char chunk[READ_CHUNK_CAP + 1];
};

// The line most recently read by next_line, or handed back by a section
// body, and whether the next call of next_line hands it out again instead of
// reading.
extern char line_buffer[LINE_BUFFER_CAP];
extern bool line_pushed_back;

// Copies the next line (at most LINE_MAX_CHARS characters, its line feed
// kept) into `dest`, a buffer of LINE_BUFFER_CAP bytes, and returns `dest`;
// returns null at the end of the file, leaving `dest` untouched.
char* next_line(TextStream* stream, char* dest);

// Applies the key lines of one section, up to the next header line (handed
// back through line_buffer and line_pushed_back) or the end of the file. The
// lines of a section that cannot change the settings are only passed over,
// unless an observer must be told of every line.
void parse_section_body(const char* section, TextStream* stream, SettingSource source);

// Reads the whole file at `path`. Returns 1 when it could be opened and read,
// whatever it held, and 0 when it cannot be opened (or a working buffer
// could not be had). A header without ']' is reported in a message box owned
// by `owner`, and reading goes on.
int parse_section_file(platform_window owner, const char* path, SettingSource source);
