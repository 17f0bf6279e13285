// What the reader and the key table tell a tool that explains a launch:
// which file and line set which field, and what the reader met on the way.
// The launcher itself sets no observer; each hook costs one null test.
#pragma once

#include "launch_files/launch_settings.h"

// The table a section's key lines go to.
enum SectionKind { SECTION_NONE, SECTION_LAUNCH, SECTION_PRODUCT, SECTION_IDENTIFICATION };

// What one key line did to the record.
enum SettingEffect {
    EFFECT_NONE,             // the key means nothing in this kind of section
    EFFECT_STORED,           // the field holds the value (an inverted flag included)
    EFFECT_TOO_LONG,         // the value did not fit; the field kept its value
    EFFECT_NO_INTEGER,       // no digits: passlaunch kept its value, the flag was inverted
    EFFECT_FROM_LAUNCH_FILE, // `command` or `path` in a downloaded file: refused
};

struct LaunchObserver {
    // A file is about to be read (`opened` 1) or could not be opened (0).
    void (*file)(const char* path, SettingSource source, int opened);
    // A line was read: `length` characters (its line feed counted, if any),
    // of which the first `text_length` before any zero byte are its text.
    void (*line)(unsigned length, unsigned text_length, int ends_line);
    // A Ctrl-Z byte ended the file; `more` is 1 when bytes followed it.
    void (*ctrl_z)(int more);
    // A header line opened the section `name`.
    void (*section)(const char* name);
    // A key line was applied: `field` is the record's field it concerns
    // (null when none), `value` the value form the table used.
    void (*setting)(const char* key, const char* value, SectionKind kind, const void* field,
                    SettingEffect effect);
};

// Null in the launcher.
extern const LaunchObserver* launch_observer;
