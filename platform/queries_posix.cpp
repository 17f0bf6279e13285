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

unsigned platform_windows_directory(char* dest, unsigned capacity) {
    const char* directory = getenv("WINDIR");
    if (directory == nullptr || directory[0] == '\0') directory = LAUNCHER_SETTINGS_DIR;
    return copy_out(directory, dest, capacity);
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
