// The checker's questions to Windows: would a start succeed, why a settings
// file could not be opened. Nothing here changes a file the launcher uses.
#include "check/check_face.h"

#include "platform/win32/ansi_path.h"
#include "platform/win32/file.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <shellapi.h>

namespace {

const unsigned START_OK = 33;

// 1 when this Windows runs programs built for `machine`: its processor's
// own, and those it emulates (32-bit x86 on x64; both on ARM64).
bool machine_runs(WORD machine) {
    SYSTEM_INFO info;
    GetNativeSystemInfo(&info);
    switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_INTEL:
        return machine == IMAGE_FILE_MACHINE_I386;
    case PROCESSOR_ARCHITECTURE_AMD64:
        return machine == IMAGE_FILE_MACHINE_I386 || machine == IMAGE_FILE_MACHINE_AMD64;
    case PROCESSOR_ARCHITECTURE_ARM64:
        return machine == IMAGE_FILE_MACHINE_I386 || machine == IMAGE_FILE_MACHINE_AMD64 ||
               machine == IMAGE_FILE_MACHINE_ARM64 || machine == IMAGE_FILE_MACHINE_ARMNT;
    default:
        return true; // not judged
    }
}

// 1 when DOS and 16-bit Windows programs start here: in the DOS machine of
// 32-bit x86 Windows, or in the emulation that a Windows layer on another
// system (wine) starts for them.
bool dos_programs_run() {
    SYSTEM_INFO info;
    GetNativeSystemInfo(&info);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL ||
           (ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr);
}

unsigned number(const unsigned char* at, unsigned size) {
    unsigned value = 0;
    for (unsigned i = size; i-- > 0;)
        value = value << 8 | at[i];
    return value;
}

// A read that gives fewer bytes than asked before the end reads on.
bool read_at(HANDLE file, unsigned long long offset, void* dest, DWORD size) {
    for (char* p = (char*)dest; size > 0;) {
        OVERLAPPED at = {};
        at.Offset = (DWORD)offset;
        at.OffsetHigh = (DWORD)(offset >> 32);
        DWORD got = 0;
        if (!ReadFile(file, p, size, &got, &at) || got == 0) return false;
        p += got, size -= got, offset += got;
    }
    return true;
}

bool ends_with(const char* path, const char* extension) {
    size_t length = strlen(path), wanted = strlen(extension);
    return length > wanted && _stricmp(path + length - wanted, extension) == 0;
}

// A file found for the start that is no Windows program image: DOS and
// 16-bit programs start where they run.
unsigned judge_dos(const char* path, char* why, unsigned capacity) {
    if (dos_programs_run()) {
        check_format(why, capacity,
                     "%s is a DOS or 16-bit program, started in the system's DOS "
                     "emulation",
                     path);
        return START_OK;
    }
    check_format(why, capacity, "%s is a DOS or 16-bit program, which this Windows cannot run",
                 path);
    return 11;
}

// The start result of the program file at `path`, judged as the loader
// judges it: a command script goes to the command interpreter; anything
// else must be a whole PE image (its headers and every section's bytes in
// the file), an executable and not a DLL, for a machine this Windows runs.
unsigned judge_image(const char* path, char* why, unsigned capacity) {
    if (ends_with(path, ".bat") || ends_with(path, ".cmd")) {
        check_format(why, capacity, "%s would be started by the command interpreter", path);
        return START_OK;
    }
    HANDLE file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size = {};
    unsigned char dos[64] = {0}, pe[24 + 0xF0] = {0}, section[40];
    bool known = file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &size);
    unsigned long long length = known ? (unsigned long long)size.QuadPart : 0;
    const char* bad = nullptr;
    unsigned result = START_OK;
    if (!known || !read_at(file, 0, dos, length < 64 ? (DWORD)length : 64) || length < 2 ||
        dos[0] != 'M' || dos[1] != 'Z') {
        if (ends_with(path, ".com") && known)
            result = judge_dos(path, why, capacity);
        else
            bad = "is no Windows program (it does not begin with MZ)";
    } else if (length < 64) {
        bad = "is cut short: it ends inside the MZ header";
    } else {
        unsigned long long at = number(dos + 60, 4);
        if (at + 24 > length || !read_at(file, at, pe, 24) || memcmp(pe, "PE\0\0", 4) != 0) {
            result = judge_dos(path, why, capacity);
        } else {
            WORD machine = (WORD)number(pe + 4, 2);
            unsigned sections = number(pe + 6, 2), optional = number(pe + 20, 2);
            unsigned traits = number(pe + 22, 2);
            unsigned long long headers = at + 24 + optional + 40ull * sections;
            bool whole = optional >= 2 && headers <= length &&
                         read_at(file, at + 24, pe + 24, optional < 0xF0 ? optional : 0xF0);
            for (unsigned i = 0; whole && i < sections; i++)
                whole =
                    read_at(file, at + 24 + optional + 40ull * i, section, 40) &&
                    number(section + 20, 4) + (unsigned long long)number(section + 16, 4) <= length;
            unsigned magic = number(pe + 24, 2);
            bool wide = machine == IMAGE_FILE_MACHINE_AMD64 || machine == IMAGE_FILE_MACHINE_ARM64;
            if (!whole)
                bad = "is cut short: its PE header or a section ends past the end of the file";
            else if ((traits & IMAGE_FILE_DLL) != 0)
                bad = "is a DLL, not a program";
            else if ((traits & IMAGE_FILE_EXECUTABLE_IMAGE) == 0)
                bad = "is not an executable image (its PE header says so)";
            else if (!machine_runs(machine))
                check_format(why, capacity,
                             "%s is a program for another processor (PE machine 0x%04X)", path,
                             machine),
                    result = 11;
            else if (magic != (wide ? 0x20Bu : 0x10Bu))
                bad = "is no program this system can run: its PE header's format does not fit "
                      "its machine";
        }
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (bad != nullptr) {
        check_format(why, capacity, "%s %s", path, bad);
        return 11;
    }
    if (result == START_OK && why[0] == '\0')
        check_format(why, capacity, "%s would be started", path);
    return result;
}

// Whether `name`, looked up as the start looks it up (with ".exe" added to
// a name without an extension, then as given; from the search folders
// `search` unless it names its folder), is a file the start can open; its
// path into `found`. A folder is passed over, and so is a file open for
// writing (`busy`): the start opens it shared for reading and deleting only.
bool try_name(const char* name, const char* search, char* found, DWORD capacity, bool* busy) {
    DWORD n = SearchPathA(search, name, ".exe", capacity, found, nullptr);
    if (n == 0 || n >= capacity) n = SearchPathA(search, name, nullptr, capacity, found, nullptr);
    if (n == 0 || n >= capacity) return false;
    HANDLE file = CreateFileA(found, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_SHARING_VIOLATION) *busy = true;
        return false;
    }
    CloseHandle(file);
    return true;
}

// The program named at the head of `command_line`, as the start reads it:
// the name in double quotes (none without the closing one), else the first
// `end` bytes, or with `end` 0 the first word.
void program_name(const char* command_line, char* name, size_t capacity, size_t end) {
    const char* from = command_line + (command_line[0] == '"');
    const char* close = strchr(from, '"');
    size_t length = command_line[0] == '"' ? (close != nullptr ? (size_t)(close - from) : 0)
                                           : (end != 0 ? end : strcspn(from, " "));
    if (length >= capacity) length = 0;
    memcpy(name, from, length);
    name[length] = '\0';
}

// The program file that starting `command_line` runs, into `found`: the
// name in double quotes, or else each text up to a blank in turn, as the
// start tries an unquoted name (C:\Program, then C:\Program Files\Prod\run.exe).
bool find_program(const char* command_line, const char* search, char* found, DWORD capacity,
                  bool* busy) {
    char name[MAX_PATH * 4];
    if (command_line[0] == '"') {
        program_name(command_line, name, sizeof name, 0);
        return name[0] != '\0' && try_name(name, search, found, capacity, busy);
    }
    for (const char* p = command_line;; p++) {
        if (*p != ' ' && *p != '\0') continue;
        program_name(command_line, name, sizeof name, (size_t)(p - command_line));
        if (name[0] != '\0' && try_name(name, search, found, capacity, busy)) return true;
        if (*p == '\0') return false;
    }
}

// Appends `folder` (or a list of them) and a ';' to the search list `list`
// of `capacity` bytes, which holds `*n` bytes; one that does not fit is left out.
void add_folder(char* list, size_t capacity, size_t* n, const char* folder) {
    size_t length = strlen(folder);
    if (length == 0 || *n + length + 2 > capacity) return;
    memcpy(list + *n, folder, length);
    list[*n + length] = ';';
    *n += length + 1;
    list[*n] = '\0';
}

// The temporary folder, with its trailing backslash, in its exact ANSI or
// short form: in a profile whose name the code page lacks, the ANSI call
// would name a look-alike folder.
bool temp_folder(char (&temp)[MAX_PATH]) {
    wchar_t wide[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, wide);
    return length != 0 && length <= MAX_PATH && ansi_path_from_wide(wide, temp, sizeof temp) != 0;
}

// 1 when the folder part of `path` (none: the current folder) is a folder.
bool folder_exists(const char* path) {
    char folder[MAX_PATH * 4];
    if (snprintf(folder, sizeof folder, "%s", path) >= (int)sizeof folder) return false;
    char* cut = nullptr;
    for (char* p = folder; *p != '\0'; p++)
        if (*p == '\\' || *p == '/') cut = p;
    if (cut == nullptr) return true;
    cut[cut == folder ? 1 : 0] = '\0';
    DWORD attributes = GetFileAttributesA(folder);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// 1 when an unquoted program name `first` (the first word) is followed by
// more words before a quoted one: the start tried those longer names too.
bool blank_in_name(const char* command_line, const char* first) {
    const char* rest = command_line + strlen(first);
    if (command_line[0] == '"' || rest[0] == '\0') return false;
    size_t words = strcspn(rest + 1, "\"");
    const char* blank = strchr(rest + 1, ' ');
    return blank != nullptr && (size_t)(blank - (rest + 1)) < words;
}

} // namespace

unsigned check_predict_start(const char* command_line, const char* directory, char* why,
                             unsigned capacity) {
    why[0] = '\0';
    // The start's current folder: the product's; else, for a program named
    // without a folder, the system folder (platform/win32/actions.cpp);
    // else the launcher's own, taken as this process's.
    char current[MAX_PATH * 4] = "", folder[MAX_PATH];
    if (directory != nullptr) {
        check_format(current, sizeof current, "%s", directory);
    } else if (program_named_without_folder(command_line)) {
        UINT length = GetSystemDirectoryA(current, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) current[0] = '\0';
    }
    // The folders the start searches, in its order: the launcher's own (this
    // program's, installed beside it), the current folder, the system
    // folder, the 16-bit system folder, the Windows folder, then PATH.
    static char search[32768];
    size_t n = 0;
    search[0] = '\0';
    wchar_t own[MAX_PATH];
    DWORD own_length = GetModuleFileNameW(nullptr, own, MAX_PATH);
    wchar_t* slash = own_length > 0 && own_length < MAX_PATH ? wcsrchr(own, L'\\') : nullptr;
    if (slash != nullptr) *slash = L'\0';
    if (slash != nullptr && ansi_path_from_wide(own, folder, sizeof folder) != 0)
        add_folder(search, sizeof search, &n, folder);
    add_folder(search, sizeof search, &n, ".");
    UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length > 0 && length < MAX_PATH) add_folder(search, sizeof search, &n, folder);
    length = GetWindowsDirectoryA(folder, MAX_PATH - 8);
    if (length > 0 && length < MAX_PATH - 8) {
        char system16[MAX_PATH];
        snprintf(system16, sizeof system16, "%s%sSYSTEM", folder,
                 folder[length - 1] == '\\' ? "" : "\\");
        add_folder(search, sizeof search, &n, system16);
        add_folder(search, sizeof search, &n, folder);
    }
    if (getenv("PATH") != nullptr) add_folder(search, sizeof search, &n, getenv("PATH"));

    // Names are looked up from the current folder, made this process's own
    // for the look-up only.
    wchar_t ours[MAX_PATH];
    DWORD ours_length = GetCurrentDirectoryW(MAX_PATH, ours);
    if (current[0] != '\0' && !SetCurrentDirectoryA(current)) {
        check_format(why, capacity, "the folder %s cannot be made current", current);
        return 3;
    }
    char found[MAX_PATH * 4];
    bool busy = false;
    bool any = find_program(command_line, search, found, sizeof found, &busy);
    char name[MAX_PATH * 4];
    program_name(command_line, name, sizeof name, 0);
    bool no_folder = !any && !folder_exists(name);
    if (current[0] != '\0' && ours_length > 0 && ours_length < MAX_PATH) SetCurrentDirectoryW(ours);
    if (any) return judge_image(found, why, capacity);
    if (name[0] == '\0')
        check_format(why, capacity, "the command line names no program");
    else if (busy)
        check_format(why, capacity,
                     "%s is open for writing by another program (an update in progress?), and "
                     "the start passes over a file it cannot open so",
                     name);
    else if (program_named_without_folder(command_line))
        check_format(why, capacity,
                     "no folder of the search path (the launcher's own, %s, the system folders, "
                     "the Windows folder and PATH) holds a program %s",
                     directory != nullptr ? "the product's" : "not the current one", name);
    else if (blank_in_name(command_line, name))
        check_format(why, capacity,
                     "the %s%s does not exist, nor does any name up to a later blank of the "
                     "command line",
                     no_folder ? "folder of " : "program ", name);
    else
        check_format(why, capacity, "the %s%s does not exist",
                     no_folder ? "folder of " : "program ", name);
    return 2;
}

int check_why_folder_unusable(const char* path, char* why, unsigned capacity) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        check_format(why, capacity, "there is no such folder");
    else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        check_format(why, capacity, "it is not a folder");
    else
        why[0] = '\0';
    return why[0] != '\0' ? 1 : 0;
}

void check_why_unopened(const char* path, int, char* why, unsigned capacity) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        check_format(why, capacity, "there is no such file");
    else if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        check_format(why, capacity, "it is a folder");
    else
        check_format(why, capacity, "it cannot be opened for reading");
}

const char* check_why_not_appended(const char* path, platform_file read) {
    const char* why;
    HANDLE file = open_for_append(path, read, &why);
    if (file == INVALID_HANDLE_VALUE) return why;
    CloseHandle(file);
    return nullptr;
}

// Who may read a file is a matter of its access list, which the launcher
// does not judge on Windows.
int check_readable_by_others(const char*) {
    return 0;
}

unsigned check_mode_to_narrow(platform_file) {
    return 0;
}

const char* check_argument(int index, const char* given, char* dest, unsigned capacity, char* note,
                           unsigned note_capacity) {
    (void)given; // a look-alike where the code page lacks a character
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    AnsiArgument taken = ANSI_ARGUMENT_NONE_NOT_ANSI;
    if (words != nullptr && index < count) taken = ansi_argument_text(words[index], dest, capacity);
    if (words == nullptr || index >= count) dest[0] = '\0';
    LocalFree(words);
    bool too_long = taken == ANSI_ARGUMENT_SHORT_TOO_LONG || taken == ANSI_ARGUMENT_NONE_TOO_LONG;
    char why[120];
    if (too_long)
        snprintf(why, sizeof why, "is longer than %u bytes", capacity - 1);
    else
        snprintf(why, sizeof why, "holds characters that the ANSI code page (%u) lacks", GetACP());
    if (taken == ANSI_ARGUMENT_AS_GIVEN)
        note[0] = '\0';
    else if (taken == ANSI_ARGUMENT_SHORT_NOT_ANSI || taken == ANSI_ARGUMENT_SHORT_TOO_LONG)
        check_format(note, note_capacity,
                     "the path %s: the launcher takes its short form, which names the same file",
                     why);
    else
        check_format(note, note_capacity,
                     "the path %s and has no short form in that code page within %u bytes (no "
                     "such file, or no 8.3 names on its volume)",
                     why, capacity - 1);
    return dest;
}

int check_make_settings_folder(const char* path, char* dir, unsigned capacity) {
    char temp[MAX_PATH];
    if (!temp_folder(temp)) return 0;
    for (unsigned attempt = 0; attempt < 100; attempt++) {
        char folder[MAX_PATH * 2];
        snprintf(folder, sizeof folder, "%stalvin-check.%lu.%u", temp, GetCurrentProcessId(),
                 attempt);
        if (!CreateDirectoryA(folder, nullptr)) continue;
        char copy[MAX_PATH * 2 + 16];
        snprintf(copy, sizeof copy, "%s\\talvin.ini", folder);
        if (CopyFileA(path, copy, TRUE) && snprintf(dir, capacity, "%s\\", folder) < (int)capacity)
            return 1;
        DeleteFileA(copy);
        RemoveDirectoryA(folder);
        return 0;
    }
    return 0;
}

void check_remove_settings_folder(const char* dir) {
    char copy[MAX_PATH * 4];
    if (snprintf(copy, sizeof copy, "%stalvin.ini", dir) >= (int)sizeof copy) return;
    DeleteFileA(copy);
    char folder[MAX_PATH * 4];
    snprintf(folder, sizeof folder, "%s", dir);
    size_t length = strlen(folder);
    if (length > 1) folder[length - 1] = '\0';
    RemoveDirectoryA(folder);
}

int check_why_link_folder_refused(const char* folder, char* why, unsigned capacity) {
    DWORD attributes = GetFileAttributesA(folder);
    const char* problem = nullptr;
    if (attributes == INVALID_FILE_ATTRIBUTES)
        problem = nullptr; // it would be made
    else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        problem = "it is not a folder";
    else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        problem = "it is a link or junction to another folder";
    snprintf(why, capacity, "%s", problem != nullptr ? problem : "");
    return problem != nullptr ? 1 : 0;
}

int check_write_scratch_file(const void* data, unsigned size, char* path, unsigned capacity) {
    char temp[MAX_PATH];
    if (!temp_folder(temp)) return 0;
    for (unsigned attempt = 0; attempt < 100; attempt++) {
        char folder[MAX_PATH * 2];
        // A name that is its own short form, as the launcher would hand on.
        snprintf(folder, sizeof folder, "%stc%06lx", temp,
                 (GetCurrentProcessId() * 100 + attempt) & 0xFFFFFF);
        if (!CreateDirectoryA(folder, nullptr)) continue;
        if (snprintf(path, capacity, "%s\\link.tvl", folder) < (int)capacity) {
            HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            bool whole = file != INVALID_HANDLE_VALUE && write_whole(file, data, size, false);
            if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
            if (whole) return 1;
            DeleteFileA(path);
        }
        RemoveDirectoryA(folder);
        return 0;
    }
    return 0;
}

void check_remove_scratch_file(const char* path) {
    DeleteFileA(path);
    char folder[MAX_PATH * 4];
    snprintf(folder, sizeof folder, "%s", path);
    char* slash = strrchr(folder, '\\');
    if (slash != nullptr) *slash = '\0';
    RemoveDirectoryA(folder);
}
