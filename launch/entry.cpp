#include "launch/entry.h"

#include "launch/launch_sequence.h"

#include <string.h>

const char* argument_text(const char* command_line) {
    const unsigned char* p = (const unsigned char*)command_line;
    if (*p == '"') {
        p++;
        while (*p != '\0' && *p != '"') {
            // A trail byte may look like a quote; it belongs to its lead byte.
            if (platform_is_lead_byte(*p) && p[1] != '\0') p++;
            p++;
        }
        if (*p == '"') p++;
    } else {
        while (*p > ' ')
            p++;
    }
    while (*p != '\0' && *p <= ' ')
        p++;
    return (const char*)p;
}

namespace {

// The folder `query` gives, with its separator; empty when there is none or
// it does not fit.
void settings_folder(unsigned (*query)(char*, unsigned), char* dir) {
    unsigned dir_length = query(dir, WINDOWS_DIR_QUERY_CAP);
    if (dir_length > 0 && dir_length < WINDOWS_DIR_QUERY_CAP) {
        dir[dir_length] = platform_path_separator();
        dir[dir_length + 1] = '\0';
    } else {
        dir[0] = '\0';
    }
}

} // namespace

void launch_from_argument_text(platform_window owner, const char* arguments) {
    char launch_path[LAUNCH_PATH_CAP] = "";
    size_t length = strlen(arguments);
    if (length < sizeof launch_path) memcpy(launch_path, arguments, length + 1);

    // Without a Windows directory there is no settings directory: the current
    // one may be the browser's download folder, so it is never used instead.
    char settings_dir[SETTINGS_DIR_CAP];
    char system_dir[SETTINGS_DIR_CAP];
    settings_folder(platform_windows_directory, settings_dir);
    settings_folder(platform_system_settings_directory, system_dir);
    run_layered_launch(owner, system_dir, settings_dir, launch_path);
}
