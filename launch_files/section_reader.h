// The reader of section files: bracketed section headers followed by key
// lines. It hands every key line to apply_setting and gives it no meaning of
// its own.
#pragma once

#include "launch_files/byte_scan.h"
#include "launch_files/launch_settings.h"

enum {
    LINE_BUFFER_CAP = 4096, // a line handed out or back is held in a buffer of this size
    // Headers without ']' shown one box each in a run; the next one's box
    // also says that later ones are not shown, and no box follows it.
    BAD_HEADER_BOXES_MAX = 3,
};

static_assert(LINE_BUFFER_CAP == LINE_MAX_CHARS + 2, "a line, its line feed and its terminator");

// The line most recently read by next_line, or handed back by a section
// body, and whether the next call of next_line hands it out again instead of
// reading.
extern char line_buffer[LINE_BUFFER_CAP];
extern bool line_pushed_back;

// The boxes shown in this run for headers without ']' (the launch file and
// the settings files together), at most BAD_HEADER_BOXES_MAX + 1. A run
// sets it to 0 before its first file.
extern unsigned bad_header_boxes;

// Set when a file is there but could not be opened, or was opened but could
// not be read to its end (a read error), or a working buffer could not be
// had: what was read may have changed the settings, and a settings file
// passed over would leave the other's lines alone, so the launch must go no
// further. A run sets it to false before its first file.
extern bool section_file_unread;

// Copies the next line (at most LINE_MAX_CHARS characters, its line feed
// kept) into `dest`, a buffer of LINE_BUFFER_CAP bytes, and returns `dest`;
// returns null at the end of the file, leaving `dest` untouched.
char* next_line(TextStream* stream, char* dest);

// Applies the key lines of one section, whose header next_line has just
// read, up to the next header line (handed back through line_buffer and
// line_pushed_back) or the end of the file. The lines of a section that
// cannot change the settings are only passed over, unless an observer must
// be told of every line.
void parse_section_body(const char* section, TextStream* stream, SettingSource source);

struct SignatureKeeper;

// Reads the whole file at `path`. Returns 1 when it could be opened and read
// to its end, whatever it held, and 0 when it cannot be opened, a read
// failed or a working buffer could not be had (these last two also set
// section_file_unread). A header without ']' is reported in a message box owned
// by `owner` (while bad_header_boxes allows), and reading goes on. With
// `kept`, a file read (1) is left open and handed back there, for the caller
// to close; else it is PLATFORM_NO_FILE. With `keeper`, every byte read is
// kept there for the signature check. With `refused`, a settings file that
// is there but not read leaves one line there saying why (else emptied).
int parse_section_file(platform_window owner, const char* path, SettingSource source,
                       platform_file* kept = nullptr, SignatureKeeper* keeper = nullptr,
                       char* refused = nullptr, unsigned refused_capacity = 0);
