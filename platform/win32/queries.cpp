// The Win32 answers to the launcher's questions: the settings folder, paths,
// the current directory, character and memory services. They change nothing,
// so every Windows face (the launcher's and the checker's) shares them.
#include "platform/platform.h"

#include <windows.h>

unsigned platform_windows_directory(char* dest, unsigned capacity) {
    return GetWindowsDirectoryA(dest, capacity);
}

// Windows gives each user a Windows directory: its talvin.ini is the one file.
unsigned platform_system_settings_directory(char*, unsigned) {
    return 0;
}

const char* platform_settings_directory_reason(void) {
    return "The Windows directory, which Windows gives each user.";
}

char platform_path_separator(void) {
    return '\\';
}

unsigned platform_short_path(const char* path, char* dest, unsigned capacity) {
    return GetShortPathNameA(path, dest, capacity);
}

unsigned platform_full_path(const char* path, char* dest, unsigned capacity) {
    // An absolute path is handed on as given: GetFullPathNameA would also
    // rewrite its separators and dots, and the product is meant to get the
    // name the browser gave. "\\x" and "C:x" still depend on the current
    // drive or its directory, so they are completed.
    bool drive_absolute = path[0] != '\0' && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    bool unc = (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/');
    if (drive_absolute || unc) {
        unsigned length = lstrlenA(path);
        if (length + 1 > capacity) return length + 1;
        CopyMemory(dest, path, length + 1);
        return length;
    }
    return GetFullPathNameA(path, capacity, dest, nullptr);
}

unsigned platform_current_directory(char* dest, unsigned capacity) {
    return GetCurrentDirectoryA(capacity, dest);
}

int platform_file_names_ignore_case(void) {
    return 1;
}

int platform_is_lead_byte(unsigned char byte) {
    return IsDBCSLeadByte(byte) ? 1 : 0;
}

void* platform_take_memory(size_t size) {
    return HeapAlloc(GetProcessHeap(), 0, size);
}

void platform_give_memory(void* block) {
    if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}
