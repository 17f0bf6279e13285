// The Win32 answers to the launcher's questions: the settings folder, paths,
// the current directory, character and memory services. They change nothing,
// so every Windows face (the launcher's and the checker's) shares them.
//
// Every path Windows hands out is asked for in its wide form and given on in
// the ANSI code page only when it converts exactly, else as its short form
// (ansi_path.h): the ANSI calls would hand out a look-alike of another
// folder. 0 when neither fits.
#include "platform/platform.h"

#include "platform/win32/ansi_path.h"

#include <windows.h>

namespace {

const unsigned WIDE_PATH_CAP = 1024;

// The wide name the ANSI file calls give `path`.
bool wide_of(const char* path, wchar_t* wide) {
    return MultiByteToWideChar(CP_ACP, 0, path, -1, wide, WIDE_PATH_CAP) > 0;
}

} // namespace

unsigned platform_windows_directory(char* dest, unsigned capacity) {
    // Each user's own on a server where many log on: C:\Users\NAME\WINDOWS.
    wchar_t wide[WIDE_PATH_CAP];
    UINT length = GetWindowsDirectoryW(wide, WIDE_PATH_CAP);
    if (length == 0 || length >= WIDE_PATH_CAP) return 0;
    return ansi_path_from_wide(wide, dest, capacity);
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
    wchar_t wide[WIDE_PATH_CAP], short_form[WIDE_PATH_CAP];
    if (!wide_of(path, wide)) return 0;
    DWORD length = GetShortPathNameW(wide, short_form, WIDE_PATH_CAP);
    if (length == 0 || length >= WIDE_PATH_CAP) return 0;
    return ansi_path_from_wide(short_form, dest, capacity);
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
    wchar_t wide[WIDE_PATH_CAP], full[WIDE_PATH_CAP];
    if (!wide_of(path, wide)) return 0;
    DWORD length = GetFullPathNameW(wide, WIDE_PATH_CAP, full, nullptr);
    if (length == 0 || length >= WIDE_PATH_CAP) return 0;
    return ansi_path_from_wide(full, dest, capacity);
}

unsigned platform_current_directory(char* dest, unsigned capacity) {
    wchar_t wide[WIDE_PATH_CAP];
    DWORD length = GetCurrentDirectoryW(WIDE_PATH_CAP, wide);
    if (length == 0 || length >= WIDE_PATH_CAP) return 0;
    return ansi_path_from_wide(wide, dest, capacity);
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
