// The Win32 actions of the platform seam: the launcher's services are the
// Windows calls themselves.
#include "platform/platform.h"

#include <windows.h>

void platform_message_box(platform_window owner, const char* text, const char* caption) {
    MessageBoxA((HWND)owner, text, caption, MB_OK);
}

int platform_change_directory(const char* path) {
    return SetCurrentDirectoryA(path) != 0;
}

void platform_set_environment(const char* name, const char* value) {
    SetEnvironmentVariableA(name, value);
}

unsigned platform_start_program(const char* command_line, int show_state) {
    return WinExec(command_line, (UINT)show_state);
}
