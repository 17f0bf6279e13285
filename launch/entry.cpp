#include "launch/entry.h"

#include "launch/launch_link.h"
#include "launch/launch_sequence.h"

#include <string.h>

#include <type_traits>

namespace {

// One rule for both forms of the command line; only the ANSI one has
// double-byte characters, whose trail byte may look like a quote.
template <typename Char> const Char* skip_program_name(const Char* command_line, bool ansi) {
    const Char* p = command_line;
    if (*p == '"') {
        p++;
        while (*p != '\0' && *p != '"') {
            if (ansi && platform_is_lead_byte((unsigned char)*p) && p[1] != '\0') p++;
            p++;
        }
        if (*p == '"') p++;
    } else {
        // Unsigned, so that bytes from 0x80 upwards belong to the name.
        while ((unsigned)(typename std::make_unsigned<Char>::type) * p > ' ')
            p++;
    }
    while (*p != '\0' && (unsigned)(typename std::make_unsigned<Char>::type) * p <= ' ')
        p++;
    return p;
}

} // namespace

const char* argument_text(const char* command_line) {
    return skip_program_name(command_line, true);
}

const wchar_t* argument_text(const wchar_t* command_line) {
    return skip_program_name(command_line, false);
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
    // Without a Windows directory there is no settings directory: the current
    // one may be the browser's download folder, so it is never used instead.
    char settings_dir[SETTINGS_DIR_CAP];
    char system_dir[SETTINGS_DIR_CAP];
    settings_folder(platform_windows_directory, settings_dir);
    settings_folder(platform_system_settings_directory, system_dir);
    // A link has a limit and a buffer of its own; paths keep theirs.
    if (is_link(arguments)) {
        launch_from_link(owner, system_dir, settings_dir, arguments);
        return;
    }
    char launch_path[LAUNCH_PATH_CAP] = "";
    size_t length = strlen(arguments);
    if (length < sizeof launch_path) memcpy(launch_path, arguments, length + 1);
    run_layered_launch(owner, system_dir, settings_dir, launch_path);
}
