#include "platform/win32/ansi_path.h"

#include <windows.h>

namespace {

// The longest wide path looked at: the ANSI file procedures stop at
// MAX_PATH characters long before.
const unsigned WIDE_PATH_CAP = 1024;

unsigned long system_short_form(const wchar_t* path, wchar_t* dest, unsigned long capacity) {
    return GetShortPathNameW(path, dest, capacity);
}

enum Fit { FITS, TOO_LONG, NOT_ANSI };

// `wide` in the ANSI code page, written only when every character converts
// back unchanged (no best fit, no default character) and it fits.
Fit exact_ansi(const wchar_t* wide, char* dest, unsigned capacity, unsigned* length) {
    if (capacity > 0) dest[0] = '\0';
    *length = 0;
    // UTF-8 holds every character but a lone surrogate, and refuses the
    // flags that the other code pages take.
    bool utf8 = GetACP() == CP_UTF8;
    DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL defaulted = FALSE;
    int needed = WideCharToMultiByte(CP_ACP, flags, wide, -1, nullptr, 0, nullptr,
                                     utf8 ? nullptr : &defaulted);
    if (needed <= 0 || defaulted) return NOT_ANSI;
    if ((unsigned)needed > capacity) return TOO_LONG;
    if (WideCharToMultiByte(CP_ACP, flags, wide, -1, dest, (int)capacity, nullptr, nullptr) !=
        needed) {
        dest[0] = '\0';
        return NOT_ANSI;
    }
    *length = (unsigned)needed - 1;
    return FITS;
}

} // namespace

unsigned long (*ansi_path_short_form)(const wchar_t*, wchar_t*, unsigned long) = system_short_form;

unsigned ansi_path_from_wide(const wchar_t* wide, char* dest, unsigned capacity) {
    unsigned length = 0;
    if (exact_ansi(wide, dest, capacity, &length) == FITS) return length;
    wchar_t short_form[WIDE_PATH_CAP];
    unsigned long n = ansi_path_short_form(wide, short_form, WIDE_PATH_CAP);
    if (n == 0 || n >= WIDE_PATH_CAP) return 0;
    exact_ansi(short_form, dest, capacity, &length);
    return length;
}

AnsiArgument ansi_argument_text(const wchar_t* wide_arguments, char* dest, unsigned capacity) {
    unsigned length = 0;
    Fit fit = exact_ansi(wide_arguments, dest, capacity, &length);
    if (fit == FITS) return ANSI_ARGUMENT_AS_GIVEN;
    // The launch sequence's unquoting, so that the short form is asked of
    // the path alone.
    const wchar_t* start = wide_arguments;
    const wchar_t* end = nullptr;
    if (*start == L'"') end = wcschr(++start, L'"');
    if (end == nullptr) end = start + wcslen(start);
    wchar_t path[WIDE_PATH_CAP];
    bool shortened = false;
    if ((size_t)(end - start) < WIDE_PATH_CAP) {
        CopyMemory(path, start, (size_t)(end - start) * sizeof *path);
        path[end - start] = L'\0';
        shortened = ansi_path_from_wide(path, dest, capacity) > 0;
    }
    if (fit == TOO_LONG)
        return shortened ? ANSI_ARGUMENT_SHORT_TOO_LONG : ANSI_ARGUMENT_NONE_TOO_LONG;
    return shortened ? ANSI_ARGUMENT_SHORT_NOT_ANSI : ANSI_ARGUMENT_NONE_NOT_ANSI;
}

bool program_named_without_folder(const char* command_line) {
    const char* p = command_line;
    bool quoted = *p == '"';
    for (p += quoted; *p != '\0' && (quoted ? *p != '"' : *p != ' ' && *p != '\t'); p++) {
        if (*p == '\\' || *p == '/' || *p == ':') return false;
        if (IsDBCSLeadByte((BYTE)*p) && p[1] != '\0') p++;
    }
    return true;
}
