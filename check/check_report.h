// What talvin-check learns while the launcher's own code runs over the
// checking face: where each field was set, what was overridden, and what a
// product maker should be warned of.
#pragma once

#include "launch_files/launch_observer.h"

#include <stdint.h>

enum {
    CHECK_FILE_LAUNCH = 0,
    CHECK_FILE_SETTINGS = 1, // the user's own talvin.ini, or the one WINDIR names
    CHECK_FILE_SYSTEM = 2,   // the system folder's, read before it
    CHECK_FILE_KINDS = 3,
    CHECK_FIELD_COUNT = 16,
    CHECK_OVERRIDES_CAP = 8,  // overridden lines kept per field; more are counted
    CHECK_WARNINGS_CAP = 100, // warnings kept; more are counted
    CHECK_VALUE_CAP = 256,    // a value as shown; longer ones are cut with "..."
    CHECK_PATH_CAP = 4096,
};

// One line of a file: one of CHECK_FILE_*.
struct LineRef {
    int file;
    unsigned line;
    char value[CHECK_VALUE_CAP];
};

struct FieldTrace {
    const char* name;
    const void* address;
    unsigned capacity; // text fields: bytes with the terminator; 0 for numbers
    int set;           // 1 when some line set it
    LineRef last;      // the line that gave it its final value
    LineRef overridden[CHECK_OVERRIDES_CAP];
    unsigned overridden_count;
};

struct CheckWarning {
    int file; // -1: no file
    unsigned line;
    const char* code;
    char text[600];
};

struct CheckReport {
    char files[CHECK_FILE_KINDS][CHECK_PATH_CAP]; // the paths the reader was given
    int tried[CHECK_FILE_KINDS];                  // 1 when the reader was given that file
    int opened[CHECK_FILE_KINDS];
    // The system folder's talvin.ini, when the launcher reads it before the
    // user's own (set before the run).
    char system_file[CHECK_PATH_CAP];
    int product_section_seen; // a talvin.ini has a section named by app
    unsigned app_line;        // where app got its final value (0: never)
    int app_file;
    unsigned path_too_long_line; // the settings line of an over-long last path (0: none)
    FieldTrace fields[CHECK_FIELD_COUNT];
    CheckWarning warnings[CHECK_WARNINGS_CAP];
    unsigned warning_count; // all warnings, also those not kept
};

extern CheckReport check_report;

// Starts observing: the report is emptied and the observer set.
void check_observe(void);

// Adds a warning about `line` of `file` (-1: none); the text is formatted.
void check_warn(int file, unsigned line, const char* code, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 4, 5)))
#endif
    ;

// The field trace for `name`, or null.
const FieldTrace* check_field(const char* name);

// Copies `text` into `dest` (`capacity` bytes), cut with "..." when longer.
void check_copy(char* dest, unsigned capacity, const char* text);
