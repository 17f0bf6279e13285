// The folder of the launch files of links on Windows: Talvin\links in the
// user's local application data, which Windows keeps for that user alone.
#include "platform/platform.h"

#include "platform/win32/ansi_path.h"

#include <string.h>
#include <windows.h>

unsigned platform_link_folder(char* dest, unsigned capacity) {
    static const char REST[] = "\\Talvin\\links";
    wchar_t wide[MAX_PATH + 1];
    DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", wide, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return 0;
    // Its exact ANSI form, or its short form where the code page lacks a
    // character of its name: the rest is ASCII.
    char base[MAX_PATH * 2];
    unsigned base_length = ansi_path_from_wide(wide, base, sizeof base);
    if (base_length == 0) return 0;
    if (base[base_length - 1] == '\\') base[--base_length] = '\0';
    unsigned total = base_length + (unsigned)sizeof REST - 1;
    if (total + 1 > capacity) return total + 1;
    memcpy(dest, base, base_length);
    memcpy(dest + base_length, REST, sizeof REST);
    return total;
}
