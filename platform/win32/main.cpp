// The Windows program: a hidden host window that owns the message boxes,
// one launch sequence, exit code 0.
#include "launch/entry.h"
#include "launch/launch_link.h"
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

namespace {

bool is_wide_link(const wchar_t* text) {
    if (*text == L'"') text++;
    for (const char* scheme = "talvin:"; *scheme != '\0'; scheme++, text++)
        if ((*text >= L'A' && *text <= L'Z' ? *text - L'A' + L'a' : *text) != (wchar_t)*scheme)
            return false;
    return true;
}

// A link is ASCII: any other character is kept as one that no link holds,
// so that it is refused, never read as a look-alike.
void link_text(const wchar_t* wide, char* dest, unsigned capacity) {
    unsigned i = 0;
    for (; wide[i] != L'\0' && i + 1 < capacity; i++)
        dest[i] = wide[i] > 0x20 && wide[i] < 0x7F ? (char)wide[i] : '\x7f';
    dest[i] = '\0';
}

} // namespace

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
    const wchar_t* wide = argument_text(GetCommandLineW());
    if (is_wide_link(wide)) {
        // A link has its own limit: a text just over it is enough to refuse it.
        static char link[LINK_LENGTH_LIMIT + 4];
        link_text(wide, link, sizeof link);
        launch_from_argument_text(window, link);
    } else {
        char arguments[LAUNCH_PATH_CAP];
        ansi_argument_text(wide, arguments, sizeof arguments);
        launch_from_argument_text(window, arguments);
    }
    PostQuitMessage(0);
    return 0;
}
