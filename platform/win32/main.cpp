// The Windows program: a hidden host window that owns the message boxes,
// one launch sequence, exit code 0.
#include "launch/entry.h"
#include "launch/launch_sequence.h"
#include "platform/win32/ansi_path.h"

#include <windows.h>

LRESULT CALLBACK host_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous_instance, LPSTR, int) {
    static const char CLASS_NAME[] = "DLG:MAIN";
    if (previous_instance == nullptr) {
        WNDCLASSA window_class = {};
        window_class.style = 0;
        window_class.lpfnWndProc = host_window_proc;
        window_class.hInstance = instance;
        window_class.hIcon = LoadIconA(nullptr, IDI_QUESTION);
        window_class.hCursor = LoadCursorA(nullptr, IDC_CROSS);
        window_class.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
        window_class.lpszClassName = CLASS_NAME;
        RegisterClassA(&window_class);
    }
    // Never shown; a failure leaves a null owner and the boxes have none.
    HWND window = CreateWindowExA(0, CLASS_NAME, "Launcher", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                  CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
    // The runtime's own split of the command line differs from ours in
    // detail, so the argument text is formed from the raw command line: the
    // wide one, since the ANSI one names a look-alike file where the code
    // page lacks a character.
    char arguments[LAUNCH_PATH_CAP];
    ansi_argument_text(argument_text(GetCommandLineW()), arguments, sizeof arguments);
    launch_from_argument_text(window, arguments);
    PostQuitMessage(0);
    return 0;
}
