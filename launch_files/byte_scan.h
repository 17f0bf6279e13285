// The byte scans under the section reader: the file read in large chunks,
// each line found where it lies in the chunk, tokens measured, and the lines
// of a section that cannot change the settings passed over, sixteen or 64
// bytes at a time with SSE2.
#pragma once

#include "platform/platform.h"

// Bytes read at once. Large reads keep the system calls few; the chunk still
// fits the processor's cache, where the lines are then scanned. The fuzz
// targets read smaller chunks, so that their inputs cross chunk ends.
#ifndef LAUNCHER_READ_CHUNK_CAP
#define LAUNCHER_READ_CHUNK_CAP 65536
#endif

enum {
    LINE_MAX_CHARS = 4094, // a longer line arrives as several lines
    READ_CHUNK_CAP = LAUNCHER_READ_CHUNK_CAP,
};

static_assert(READ_CHUNK_CAP > LINE_MAX_CHARS + 1, "a cut line and more must fit the chunk");

// A file open for reading as text: CR LF reaches the reader as LF, a lone CR
// stays, the first Ctrl-Z ends the file, and a read error ends it as failed.
// All zero is a stream not yet read from (with `file` set).
struct SignatureKeeper;

struct TextStream {
    platform_file file;
    SignatureKeeper* keeper; // given every byte read, as read; may be null
    unsigned pos;            // the next unread byte of `chunk`
    unsigned len;            // the bytes of `chunk` read and before any Ctrl-Z
    bool at_end;             // nothing more is read: end of file, read error or Ctrl-Z
    bool failed;             // a read failed, or a working buffer could not be obtained
    // A Ctrl-Z ended the data read, not yet told to the observer: 1, or 2
    // when bytes followed it.
    unsigned char ctrl_z;
    // The unread part of a line cut by the chunk's end is moved to the front
    // before the next read. One byte more: a line's text may be ended just
    // past the last byte read.
    unsigned char chunk[READ_CHUNK_CAP + 1];
};

// One line as read: at most LINE_MAX_CHARS characters, up to and with its
// line feed. Its characters lie in the chunk from `begin` to `end` unfolded,
// followed by the line feed when `newline` is set (a CR LF pair is folded,
// so it stands only at the end). `own_end`: the byte at `end` is the line's
// own (its line feed or CR) or lies past the data, so a terminator may be
// written there; it is not when a long line was cut. `zero`: its first zero
// byte, where its text ends, or null.
struct Piece {
    unsigned char* begin;
    unsigned char* end;
    unsigned char* zero;
    bool newline;
    bool own_end;
};

// Takes the next line from the stream; false at the end of the file. The
// piece stays valid until the next call.
bool next_piece(TextStream* s, Piece* piece);

// Puts the piece back, to be taken again by the next read of the stream.
void put_back(TextStream* s, const Piece& piece);

// Passes over lines up to the next one whose first token begins with '[',
// which is left to be read next; false at the end of the file. With
// `closed_only`, a header whose first token holds no ']' is passed over too.
bool pass_to_section_header(TextStream* s, bool closed_only = false);

// The length of the token at `p` (at most `limit` bytes): it ends at a
// space, tab, line feed, equals sign or zero byte.
unsigned token_length(const unsigned char* p, unsigned limit);
