// The Win32 face of the platform seam: the launcher's services are the
// Windows calls themselves.
#include "platform/platform.h"

#include <windows.h>

void platform_message_box(platform_window owner, const char* text, const char* caption) {
    MessageBoxA((HWND)owner, text, caption, MB_OK);
}

unsigned platform_windows_directory(char* dest, unsigned capacity) {
    return GetWindowsDirectoryA(dest, capacity);
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

int platform_change_directory(const char* path) {
    return SetCurrentDirectoryA(path) != 0;
}

unsigned platform_current_directory(char* dest, unsigned capacity) {
    return GetCurrentDirectoryA(capacity, dest);
}

int platform_set_environment(const char* name, const char* value) {
    return SetEnvironmentVariableA(name, value) != 0;
}

unsigned platform_start_program(const char* command_line, int show_state) {
    return WinExec(command_line, (UINT)show_state);
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
