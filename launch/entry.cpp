#include "launch/entry.h"

#include "launch/launch_link.h"
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

void launch_from_argument_text(platform_window owner, const char* arguments) {
    // Without a Windows directory there is no settings directory: the current
    // one may be the browser's download folder, so it is never used instead.
    char settings_dir[SETTINGS_DIR_CAP] = "";
    unsigned dir_length = platform_windows_directory(settings_dir, WINDOWS_DIR_QUERY_CAP);
    if (dir_length > 0 && dir_length < WINDOWS_DIR_QUERY_CAP) {
        settings_dir[dir_length] = platform_path_separator();
        settings_dir[dir_length + 1] = '\0';
    } else {
        settings_dir[0] = '\0';
    }
    // A link has a limit and a buffer of its own; paths keep theirs.
    if (is_link(arguments)) {
        launch_from_link(owner, settings_dir, arguments);
        return;
    }
    char launch_path[LAUNCH_PATH_CAP] = "";
    size_t length = strlen(arguments);
    if (length < sizeof launch_path) memcpy(launch_path, arguments, length + 1);
    run_launch(owner, settings_dir, launch_path);
}
