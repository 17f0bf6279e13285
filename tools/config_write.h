// talvin-config's one way of changing a settings file: under the writers'
// lock, a whole new file beside the old one, flushed and renamed over it,
// and only while the old file is still the one that was read.
#pragma once

enum {
    CONFIG_FILE_CAP = 8 * 1024 * 1024, // the largest settings file taken
    CONFIG_TEXT_CAP = 4096,            // a section's new text
    CONFIG_PATH_CAP = 4096,
};

enum ConfigStatus {
    CONFIG_DONE = 0,
    CONFIG_WRITE_FAILED = 1, // nothing changed: the disk, the folder, another program
    CONFIG_REFUSED = 2,      // nothing changed: the file or the request
};

struct ConfigChange {
    const char* path; // the settings file
    const char* name; // the section replaced or removed
    // The new section's key lines ("key=value"), `line_count` of them, written
    // after its header with the file's own line ends; null: removed.
    const char* const* lines;
    unsigned line_count;
    unsigned new_mode;   // of a file made from nothing
    bool private_folder; // its folder is made, readable by its owner only
    // The new section holds a password: the file is left readable by its
    // owner only, as it is when a section kept holds one.
    bool holds_password;
};

// Makes the change; every failure is told on standard error.
ConfigStatus config_write(const ConfigChange& change);
