// Paths between the wide names Windows keeps and the ANSI code page that the
// launcher's procedures and files speak. A name the code page cannot hold is
// never turned into a look-alike (the system's best fit makes "Łukasz"
// "Lukasz" and a fullwidth quotation mark a real one): its short form, which
// names the same file in ASCII, takes its place, or nothing does.
#pragma once

// The exact ANSI form of `wide` (every character comes back unchanged from
// the code page) when it fits `capacity` bytes, terminator included; else
// the exact ANSI form of its short form when that fits; else 0 with `dest`
// empty. Returns the length written, terminator not counted.
unsigned ansi_path_from_wide(const wchar_t* wide, char* dest, unsigned capacity);

// How the launcher's argument text was had from the wide one.
enum AnsiArgument {
    ANSI_ARGUMENT_AS_GIVEN,       // exact and fits: the very text, byte for byte
    ANSI_ARGUMENT_SHORT_NOT_ANSI, // the short form of its path: characters the code page lacks
    ANSI_ARGUMENT_SHORT_TOO_LONG, // the short form of its path: the text does not fit
    ANSI_ARGUMENT_NONE_NOT_ANSI,  // neither form can be had: empty
    ANSI_ARGUMENT_NONE_TOO_LONG,
};

// Writes the argument text `wide_arguments` into `dest` (`capacity` bytes)
// as it is when it converts exactly and fits, else the short form of its
// path, unquoted as the launch sequence unquotes, else nothing.
AnsiArgument ansi_argument_text(const wchar_t* wide_arguments, char* dest, unsigned capacity);

// The short form query (GetShortPathNameW's arguments and result). A test
// may put another in its place, to deny a short form as a volume without
// 8.3 names does (it hands the long name back).
extern unsigned long (*ansi_path_short_form)(const wchar_t* path, wchar_t* dest,
                                             unsigned long capacity);

// 1 when the program at the head of the ANSI `command_line` is named without
// a folder (the second byte of a double-byte character may be a backslash).
bool program_named_without_folder(const char* command_line);
