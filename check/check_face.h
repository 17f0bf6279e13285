// The checking face of the platform seam, for talvin-check: the operating
// system's real queries and file reading (platform/*/queries.cpp, file.cpp), and
// actions that are recorded instead of done. No box is shown, no directory
// changed, no environment entry set, nothing appended or started.
#pragma once

#include "platform/platform.h"

enum {
    CHECK_TEXT_CAP = 4096, // a box's text, a command line, an appended block
    CHECK_BOXES_CAP = 16,  // boxes kept; later ones are only counted
};

// The start result foretold where the check cannot tell whether the start
// would succeed (a program it may run but not read): no result code.
const unsigned CHECK_START_UNKNOWN = 0xFFFFFFFFu;

struct CheckBox {
    char caption[64];
    char text[CHECK_TEXT_CAP];
    int file; // where the reader was when it was shown: 0 launch file, 1 settings, -1 neither
    unsigned line;
};

struct CheckRecord {
    // Kept up to date by the checker, so that each box says where it arose.
    int file;
    unsigned line;

    CheckBox boxes[CHECK_BOXES_CAP];
    unsigned box_count;    // all boxes, also those not kept
    int directory_changed; // the change to `directory` would succeed
    char directory[CHECK_TEXT_CAP];
    // The folder the launcher would ask to change to (empty: none), and why
    // that change would fail (empty when it would not): the product then
    // runs in the launcher's own folder.
    char change_asked[CHECK_TEXT_CAP];
    char change_fails[CHECK_TEXT_CAP];
    int started;
    char command_line[CHECK_TEXT_CAP];
    unsigned start_result; // as predicted by check_predict_start, or CHECK_START_UNKNOWN
    char start_why[CHECK_TEXT_CAP];
    int appended; // 1 when the block would be appended; append_path and append_bytes tell what
    const char* append_refused; // why an append asked for would not be made; null when it would
    unsigned narrowed_from;     // the launch file's mode, narrowed before the append; 0: kept
    char append_path[CHECK_TEXT_CAP];
    char append_bytes[CHECK_TEXT_CAP];
    unsigned append_size;
    // A link's bytes: where the launcher would keep them, and where the
    // checker wrote them to read them (removed when the check ends).
    int link_asked; // 1 when the launcher asked for its file to be written
    char link_folder[CHECK_TEXT_CAP];
    char link_refused[CHECK_TEXT_CAP]; // why the folder would not be used; empty when it would
    char link_file[CHECK_TEXT_CAP];
    unsigned link_size;
};

extern CheckRecord check_record;

// Formats into `dest`, cutting the text to fit `capacity` bytes.
void check_format(char* dest, unsigned capacity, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// The operating system's part of the checker (platform/posix/check_questions.cpp,
// platform/win32/check_questions.cpp).

// The result that starting `command_line` would give, with the current
// directory `directory` (null: this process's own), or CHECK_START_UNKNOWN:
// the program is found and judged as the launcher's start on that system
// finds and judges it. `why` receives a sentence telling the reason of a
// failure. Each system's checking face defines it.
unsigned check_predict_start(const char* command_line, const char* directory, char* why,
                             unsigned why_capacity);

// Why the launcher could not make `path` its current folder, in a few
// words, into `why` (emptied when it could): returns 1 when the change
// would fail.
int check_why_folder_unusable(const char* path, char* why, unsigned why_capacity);

// Why the file at `path` could not be opened for reading, in a few words;
// `settings` 1 when it is the settings file, which must also be safe from
// other users.
void check_why_unopened(const char* path, int settings, char* why, unsigned why_capacity);

// Why the launcher would not append to the file at `path`, which must be
// the open file `read`, in a few words; null when it would. Closes `read`,
// as the append does.
const char* check_why_not_appended(const char* path, platform_file read);

// 1 when users other than its owner may read the file at `path`.
int check_readable_by_others(const char* path);

// The mode of the open launch file `read` when the launcher would first
// narrow it to its owner's alone before appending the block; else 0.
unsigned check_mode_to_narrow(platform_file read);

// Argument `index` of the checker's command line, `given` as the C runtime
// split it, as the launcher's entry would take it into its argument text.
// On Windows from the wide command line, so that a name the ANSI code page
// lacks is, as for the launcher, the exact text, its short form or nothing.
// Returns `given` or `dest` (`capacity` bytes); `note` receives why it is
// not the text given, or is emptied.
const char* check_argument(int index, const char* given, char* dest, unsigned capacity, char* note,
                           unsigned note_capacity);

// Makes a private folder whose "talvin.ini" is the file `path`, and writes its
// name, with a trailing separator, into `dir`; 0 when it cannot. Undone by
// check_remove_settings_folder.
int check_make_settings_folder(const char* path, char* dir, unsigned capacity);
void check_remove_settings_folder(const char* dir);

// Why the launcher would not keep a link's file in `folder`, in a few words,
// into `why` (empty when it would, with a note when it would first create
// the folder): returns 1 when it would refuse the folder.
int check_why_link_folder_refused(const char* folder, char* why, unsigned capacity);

// Writes `size` bytes into a new file in a private scratch folder and its
// path into `path`; 0 when it cannot. Undone by check_remove_scratch_file.
int check_write_scratch_file(const void* data, unsigned size, char* path, unsigned capacity);
void check_remove_scratch_file(const char* path);
