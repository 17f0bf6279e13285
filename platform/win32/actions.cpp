// The Win32 actions of the platform seam: the launcher's services are the
// Windows calls themselves.
#include "platform/platform.h"

#include "platform/win32/ansi_path.h"

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

// WinExec looks for a program named without a folder in the current folder
// before the system's folders and PATH. Out of the product's own folder,
// that is where the browser started the launcher, often the download folder,
// where a page can put a program of the product's name. There such a program
// is looked for from the system folder instead, and started as WinExec
// starts it: the same command line, environment and show state, in the
// current folder, waited for as WinExec waits, with its result codes.
unsigned platform_start_program(const char* command_line, int show_state, int in_product_folder) {
    if (in_product_folder || !program_named_without_folder(command_line))
        return WinExec(command_line, (UINT)show_state);
    // The wide names are exact where the code page lacks a character; the
    // command line is converted as CreateProcessA converts it.
    wchar_t current[MAX_PATH], system[MAX_PATH], line[4096];
    DWORD length = GetCurrentDirectoryW(MAX_PATH, current);
    DWORD system_length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || system_length == 0 || system_length >= MAX_PATH)
        return ERROR_PATH_NOT_FOUND;
    if (MultiByteToWideChar(CP_ACP, 0, command_line, -1, line, 4096) == 0) return 0;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = (WORD)show_state;
    PROCESS_INFORMATION started;
    if (!SetCurrentDirectoryW(system)) return ERROR_PATH_NOT_FOUND;
    BOOL ok = CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, current, &startup,
                             &started);
    DWORD error = GetLastError();
    SetCurrentDirectoryW(current);
    if (!ok) return error < 32 ? (unsigned)error : ERROR_BAD_FORMAT;
    WaitForInputIdle(started.hProcess, 30000);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return 33;
}
