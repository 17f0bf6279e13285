// The POSIX answers to the launcher's questions: the settings folder, paths,
// the current directory, character and memory services. They change nothing,
// so every POSIX face (the launcher's and the checker's) shares them.
#include "platform/platform.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#ifndef LAUNCHER_SETTINGS_DIR
#define LAUNCHER_SETTINGS_DIR "/etc"
#endif

namespace {

// Copies `text` into `dest` with the Win32 sizing rule.
unsigned copy_out(const char* text, char* dest, unsigned capacity) {
    size_t length = strlen(text);
    if (length + 1 > capacity) return (unsigned)(length + 1);
    memcpy(dest, text, length + 1);
    return (unsigned)length;
}

} // namespace

namespace {

// The settings folders and why they are the ones. WINDIR, when set, names
// the one folder, as on Windows. Otherwise each user has a folder of their
// own, as Windows gives each user a Windows directory, and the system
// folder's talvin.ini is read before it, so that a user's own file adds to
// what was installed for every account instead of hiding it.
struct SettingsFolder {
    char path[4096];
    char system[4096]; // empty: WINDIR names the one folder
    const char* reason;
};

// `base` followed by `rest` into `dest`; false, and `dest` empty, when it
// does not fit.
bool join(char* dest, size_t capacity, const char* base, const char* rest) {
    size_t base_length = strlen(base);
    size_t rest_length = strlen(rest);
    dest[0] = '\0';
    if (base_length + rest_length + 1 > capacity) return false;
    memcpy(dest, base, base_length);
    memcpy(dest + base_length, rest, rest_length + 1);
    return true;
}

bool absolute(const char* path) {
    return path != nullptr && path[0] == '/';
}

// The tests' hook: a system folder of their own in place of the one chosen
// at build time. It lets nobody do more than WINDIR already does.
const char* system_folder() {
    const char* hook = getenv("TALVIN_TEST_SYSTEM_FOLDER");
    return absolute(hook) ? hook : LAUNCHER_SETTINGS_DIR;
}

void choose_settings_folder(SettingsFolder* folder) {
    folder->system[0] = '\0';
    const char* windir = getenv("WINDIR");
    if (windir != nullptr && windir[0] != '\0') {
        join(folder->path, sizeof folder->path, windir, "");
        folder->reason = "WINDIR is set.";
        return;
    }
    // A relative folder would be looked for in the current directory, which
    // may be the browser's download folder.
    const char* config = getenv("XDG_CONFIG_HOME");
    const char* home = getenv("HOME");
    bool have_user_folder = false;
    if (absolute(config)) {
        have_user_folder = join(folder->path, sizeof folder->path, config, "/talvin");
        folder->reason = "The system folder's talvin.ini, then the user's own in "
                         "$XDG_CONFIG_HOME/talvin.";
    } else if (absolute(home)) {
        have_user_folder = join(folder->path, sizeof folder->path, home, "/.config/talvin");
        folder->reason = "The system folder's talvin.ini, then the user's own in "
                         "$HOME/.config/talvin.";
    }
    join(folder->system, sizeof folder->system, system_folder(), "");
    if (have_user_folder) return;
    join(folder->path, sizeof folder->path, system_folder(), "");
    folder->reason = "No HOME or XDG_CONFIG_HOME names a user's own folder: the system folder.";
}

} // namespace

unsigned platform_windows_directory(char* dest, unsigned capacity) {
    SettingsFolder folder;
    choose_settings_folder(&folder);
    return copy_out(folder.path, dest, capacity);
}

unsigned platform_system_settings_directory(char* dest, unsigned capacity) {
    SettingsFolder folder;
    choose_settings_folder(&folder);
    if (folder.system[0] == '\0') return 0;
    return copy_out(folder.system, dest, capacity);
}

const char* platform_settings_directory_reason(void) {
    SettingsFolder folder;
    choose_settings_folder(&folder);
    return folder.reason;
}

char platform_path_separator(void) {
    return '/';
}

unsigned platform_short_path(const char*, char*, unsigned) {
    return 0;
}

unsigned platform_full_path(const char* path, char* dest, unsigned capacity) {
    if (path[0] == '/') return copy_out(path, dest, capacity);
    char current[4096];
    if (getcwd(current, sizeof current) == nullptr) return 0;
    size_t current_length = strlen(current);
    size_t path_length = strlen(path);
    bool root = current_length == 1; // "/" needs no second slash
    size_t length = current_length + (root ? 0 : 1) + path_length;
    if (length + 1 > capacity) return (unsigned)(length + 1);
    memcpy(dest, current, current_length);
    if (!root) dest[current_length++] = '/';
    memcpy(dest + current_length, path, path_length + 1);
    return (unsigned)length;
}

unsigned platform_current_directory(char* dest, unsigned capacity) {
    char current[4096];
    if (getcwd(current, sizeof current) == nullptr) return 0;
    return copy_out(current, dest, capacity);
}

int platform_file_names_ignore_case(void) {
    return 0;
}

int platform_is_lead_byte(unsigned char) {
    return 0;
}

void* platform_take_memory(size_t size) {
    return malloc(size);
}

void platform_give_memory(void* block) {
    free(block);
}
