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

bool has_folder(const char* name) {
    return strchr(name, '\\') != nullptr || strchr(name, '/') != nullptr ||
           strchr(name, ':') != nullptr;
}

// 1 when the folder part of `path` exists.
bool folder_exists(const char* path) {
    char folder[MAX_PATH * 4];
    if (snprintf(folder, sizeof folder, "%s", path) >= (int)sizeof folder) return false;
    char* cut = nullptr;
    for (char* p = folder; *p != '\0'; p++)
        if (*p == '\\' || *p == '/') cut = p;
    if (cut == nullptr) return true;
    *cut = '\0';
    DWORD attributes = GetFileAttributesA(folder);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

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

// The machine a Windows program file (MZ, then a PE header) is built for;
// 0 when it is no such file, or cannot be read.
WORD pe_machine(const char* path) {
    HANDLE file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    unsigned char head[4096];
    DWORD got = 0;
    bool read = file != INVALID_HANDLE_VALUE && ReadFile(file, head, sizeof head, &got, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (!read || got < 64 || head[0] != 'M' || head[1] != 'Z') return 0;
    DWORD at = head[60] | head[61] << 8 | head[62] << 16 | (DWORD)head[63] << 24;
    if (at > got - 6 || memcmp(head + at, "PE\0\0", 4) != 0) return 0;
    return (WORD)(head[at + 4] | head[at + 5] << 8);
}

unsigned predict_file(const char* program, char* why, unsigned capacity) {
    char with_extension[MAX_PATH * 4];
    DWORD attributes = GetFileAttributesA(program);
    const char* found = program;
    const char* dot = strrchr(program, '.');
    if (attributes == INVALID_FILE_ATTRIBUTES && (dot == nullptr || has_folder(dot))) {
        snprintf(with_extension, sizeof with_extension, "%s.exe", program);
        attributes = GetFileAttributesA(with_extension);
        found = with_extension;
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (folder_exists(program)) {
            check_format(why, capacity, "the program %s does not exist", program);
            return 2;
        }
        check_format(why, capacity, "the folder of %s does not exist", program);
        return 3;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        check_format(why, capacity, "%s is a folder, not a program", program);
        return 5;
    }
    WORD machine = pe_machine(found);
    if (machine != 0 && !machine_runs(machine)) {
        check_format(why, capacity, "%s is a program for another processor (PE machine 0x%04X)",
                     program, machine);
        return 11;
    }
    check_format(why, capacity, "%s would be started", program);
    return START_OK;
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

} // namespace

unsigned check_predict_program(const char* program, const char* directory, char* why,
                               unsigned capacity) {
    if (!has_folder(program)) {
        // The launcher looks in its current folder only when that is the
        // product's (`directory`), then in the system's folders and PATH.
        char search[32768] = "", folder[MAX_PATH], found[MAX_PATH];
        size_t n = 0;
        if (directory != nullptr) add_folder(search, sizeof search, &n, directory);
        UINT length = GetSystemDirectoryA(folder, MAX_PATH);
        if (length > 0 && length < MAX_PATH) add_folder(search, sizeof search, &n, folder);
        length = GetWindowsDirectoryA(folder, MAX_PATH);
        if (length > 0 && length < MAX_PATH) add_folder(search, sizeof search, &n, folder);
        if (getenv("PATH") != nullptr) add_folder(search, sizeof search, &n, getenv("PATH"));
        if (SearchPathA(search, program, ".exe", sizeof found, found, nullptr) != 0)
            return predict_file(found, why, capacity);
        check_format(why, capacity, "no folder of the search path holds a program %s%s", program,
                     directory != nullptr ? "" : " (nor is it looked for in the current folder)");
        return 2;
    }
    char path[MAX_PATH * 4];
    bool relative = program[0] != '\\' && program[0] != '/' && program[1] != ':';
    int n = relative && directory != nullptr
                ? snprintf(path, sizeof path, "%s\\%s", directory, program)
                : snprintf(path, sizeof path, "%s", program);
    if (n < (int)sizeof path) return predict_file(path, why, capacity);
    check_format(why, capacity, "the program's path is too long");
    return 3;
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
            DWORD written = 0;
            bool whole = file != INVALID_HANDLE_VALUE &&
                         WriteFile(file, data, size, &written, nullptr) && written == size;
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

int check_output_is_utf8(void) {
    return GetConsoleOutputCP() == CP_UTF8 ? 1 : 0;
}
