// The terminal's character set on Windows: the console's output code page,
// or the ANSI code page when the program has no console (its output then
// goes to a file that an editor reads in that code page).
#include "platform/terminal_set.h"

#include <windows.h>

namespace {

UINT terminal_code_page() {
    static UINT page = 0;
    if (page == 0) page = GetConsoleOutputCP();
    if (page == 0) page = GetACP();
    return page;
}

} // namespace

int platform_terminal_is_utf8(void) {
    return terminal_code_page() == CP_UTF8 ? 1 : 0;
}

// A file is a handle of its own, never one of the standard ones.
void platform_hold_standard_streams(void) {}

int platform_output_is_terminal(void) {
    return GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR ? 1 : 0;
}

unsigned platform_terminal_decode(const unsigned char* text, uint32_t* code) {
    UINT page = terminal_code_page();
    int length = IsDBCSLeadByteEx(page, *text) && text[1] != '\0' ? 2 : 1;
    WCHAR wide[2];
    // A code page that takes no MB_ERR_INVALID_CHARS fails here too: its
    // bytes are then shown, not trusted.
    if (MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, (const char*)text, length, wide, 2) != 1) {
        *code = TERMINAL_NO_CHARACTER;
        return 1;
    }
    *code = wide[0];
    return (unsigned)length;
}
