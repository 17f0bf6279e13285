// The setup check's questions to Windows: which class the shell opens .tvl
// files and talvin: links with (the user's choice first, then the user's
// classes, then the machine's), the program of its open command, and
// whether that program's version resource is this launcher's.
#include "check/check_setup.h"

#include "check/check_face.h"
#include "platform/win32/ansi_path.h"

#include <string.h>
#include <wchar.h>
#include <windows.h>

namespace {

const wchar_t USER_CLASSES[] = L"Software\\Classes\\";

// A string value (an expandable one expanded) into `dest`; false when there
// is none.
bool read_value(HKEY root, const wchar_t* path, const wchar_t* name, wchar_t* dest,
                DWORD capacity) {
    HKEY key;
    if (RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    wchar_t raw[2048];
    DWORD type = 0, size = sizeof raw - sizeof raw[0];
    LONG status = RegQueryValueExW(key, name, nullptr, &type, (BYTE*)raw, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    raw[size / sizeof raw[0]] = 0;
    if (type == REG_EXPAND_SZ) {
        DWORD length = ExpandEnvironmentStringsW(raw, dest, capacity);
        return length > 0 && length <= capacity;
    }
    if (wcslen(raw) >= capacity) return false;
    wcscpy(dest, raw);
    return true;
}

// `wide` in the ANSI code page, for the report.
void narrow(const wchar_t* wide, char* dest, unsigned capacity) {
    if (WideCharToMultiByte(CP_ACP, 0, wide, -1, dest, (int)capacity, nullptr, nullptr) == 0)
        dest[0] = '\0';
}

// The open command of class `name`, the user's before the machine's.
bool open_command(const wchar_t* name, wchar_t* command, DWORD capacity) {
    wchar_t path[600];
    if (wcslen(name) > 400) return false;
    _snwprintf(path, 600, L"%ls%ls\\shell\\open\\command", USER_CLASSES, name);
    return read_value(HKEY_CURRENT_USER, path, L"", command, capacity) ||
           read_value(HKEY_LOCAL_MACHINE, path, L"", command, capacity);
}

// The class chosen for the extension or scheme `name`: the user's choice,
// else the user's classes, else the machine's. `scheme` classes are the
// key itself, when it says it is a URL protocol.
bool chosen_class(const wchar_t* name, bool scheme, wchar_t* chosen, char* found_in,
                  unsigned found_capacity) {
    wchar_t path[600], value[600];
    if (scheme)
        _snwprintf(path, 600,
                   L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\%ls\\"
                   L"UserChoice",
                   name);
    else
        _snwprintf(path, 600,
                   L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\%ls\\"
                   L"UserChoice",
                   name);
    const struct {
        HKEY root;
        const char* root_name;
    } roots[] = {{HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
                 {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"}};
    char shown[600];
    if (read_value(HKEY_CURRENT_USER, path, L"ProgId", chosen, 300)) {
        narrow(path, shown, sizeof shown);
        check_format(found_in, found_capacity, "HKEY_CURRENT_USER\\%s (the user's choice)", shown);
        return true;
    }
    _snwprintf(path, 600, L"%ls%ls", USER_CLASSES, name);
    narrow(path, shown, sizeof shown);
    for (const auto& root : roots) {
        bool found = scheme ? read_value(root.root, path, L"URL Protocol", value, 600)
                            : read_value(root.root, path, L"", chosen, 300) && chosen[0] != 0;
        if (!found) continue;
        if (scheme) wcscpy(chosen, name);
        check_format(found_in, found_capacity, "%s\\%s", root.root_name, shown);
        return true;
    }
    return false;
}

} // namespace

void check_user_name(char* dest, unsigned capacity) {
    DWORD size = capacity;
    if (!GetUserNameA(dest, &size)) check_format(dest, capacity, "(unknown)");
}

void check_find_handler(int kind, SetupHandler* h) {
    h->type = kind == SETUP_LAUNCH_FILES ? LAUNCH_FILE_EXTENSION : "talvin";
    h->handler[0] = h->found_in[0] = h->program[0] = h->problem[0] = '\0';
    wchar_t name[16], chosen[300], command[2048];
    MultiByteToWideChar(CP_ACP, 0, h->type, -1, name, 16);
    if (!chosen_class(name, kind == SETUP_LINKS, chosen, h->found_in, sizeof h->found_in)) {
        check_format(h->problem, sizeof h->problem,
                     "neither the user's classes nor the machine's name a class for %s", h->type);
        return;
    }
    narrow(chosen, h->handler, sizeof h->handler);
    if (!open_command(chosen, command, 2048)) {
        check_format(h->problem, sizeof h->problem, "the class %s has no open command", h->handler);
        return;
    }
    // The program: a quoted name, else the first word.
    wchar_t* program = command;
    wchar_t* end;
    if (program[0] == L'"') {
        program++;
        end = wcschr(program, L'"');
    } else {
        end = wcschr(program, L' ');
    }
    if (end != nullptr) *end = 0;
    if (ansi_path_from_wide(program, h->program, sizeof h->program) == 0) {
        char shown[CHECK_PATH_CAP];
        narrow(program, shown, sizeof shown);
        check_format(h->problem, sizeof h->problem, "its program %s cannot be found", shown);
    }
}

int check_launcher_version(const char* program, char* version, unsigned capacity) {
    DWORD ignored = 0, size = GetFileVersionInfoSizeA(program, &ignored);
    if (size == 0 || size > 65536) return 0;
    static char block[65536];
    if (!GetFileVersionInfoA(program, 0, size, block)) return 0;
    auto text = [](const char* name) -> const char* {
        char query[100];
        check_format(query, sizeof query, "\\StringFileInfo\\040904b0\\%s", name);
        void* value = nullptr;
        UINT length = 0;
        return VerQueryValueA(block, query, &value, &length) && length > 0 ? (const char*)value
                                                                           : "";
    };
    if (strcmp(text("OriginalFilename"), "launcher.exe") != 0 ||
        strcmp(text("ProductName"), "Talvin Launcher") != 0)
        return 0;
    check_format(version, capacity, "%s", text("ProductVersion"));
    return 1;
}

int check_path_exists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES ? 1 : 0;
}

// Windows shows message boxes itself.
int check_box_program(char* dest, unsigned, const char** package) {
    dest[0] = '\0';
    *package = nullptr;
    return 0;
}
