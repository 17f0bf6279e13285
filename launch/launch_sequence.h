// The launcher's one piece of work: read the launch file and the shared
// settings file, then start the product they name.
#pragma once

#include "platform/platform.h"

enum {
    LAUNCH_PATH_CAP = 256,  // the launch path buffer, terminator included
    WORK_BUFFER_CAP = 4096, // the settings path, then the command line
    CURRENT_DIR_CAP = 261,
};

// The name of the shared settings file inside the settings directory.
#define SETTINGS_FILE_NAME "talvin.ini"

// Reads the launch file at `launch_path` (a LAUNCH_PATH_CAP buffer, edited in
// place) and SETTINGS_FILE_NAME in `settings_dir` (ending in a separator;
// empty when there is no settings directory, so nothing is read there),
// changes to the product's directory, appends the identification block when
// asked to, starts the product's command and reports failures in message
// boxes owned by `owner`.
void run_launch(platform_window owner, const char* settings_dir, char* launch_path);

// run_launch, with SETTINGS_FILE_NAME in `system_dir` (ending in a
// separator; empty, or `settings_dir` itself, when there is none) read
// before the one in `settings_dir`. "Unable to open talvin.ini file!" only
// when neither can be read.
void run_layered_launch(platform_window owner, const char* system_dir, const char* settings_dir,
                        char* launch_path);
