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

char platform_path_separator(void) {
    return '\\';
}

unsigned platform_short_path(const char* path, char* dest, unsigned capacity) {
    return GetShortPathNameA(path, dest, capacity);
}

unsigned platform_full_path(const char* path, char* dest, unsigned capacity) {
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
