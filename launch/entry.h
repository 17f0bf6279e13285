// What the entry point does once it has its host window: from the argument
// text to one run of the launch sequence.
#pragma once

#include "platform/platform.h"

// What precedes the version in the POSIX launcher's program file, where
// talvin-check --setup reads it: the launcher takes every argument as a
// launch path, so it cannot be asked.
#define LAUNCHER_VERSION_MARK "talvin-launcher version "

enum {
    SETTINGS_DIR_CAP = 256,
    WINDOWS_DIR_QUERY_CAP = 240, // leaves room for the separator
};

// The process's command line without the program's own name and the blanks
// and control characters after it. Returns a pointer into `command_line`.
const char* argument_text(const char* command_line);
// The same of the wide command line (Windows keeps it; the ANSI one holds
// look-alikes of the characters its code page lacks).
const wchar_t* argument_text(const wchar_t* command_line);

// A talvin: link goes to launch_from_link. Other text is the launch path:
// copies `arguments` into the launch path buffer (text longer than 255 bytes
// is refused, not cut, so it never names another file), finds the settings
// directory and runs the launch sequence with `owner`.
void launch_from_argument_text(platform_window owner, const char* arguments);
