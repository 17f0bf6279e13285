// Rewriting the settings file on Windows: a named mutex for the writers, a
// new file made beside it with GetTempFileNameA, FlushFileBuffers, then
// MoveFileExA with write-through (without replacing, for a file made from
// nothing).
#include "platform/settings_write.h"

#include "platform/win32/file.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

namespace {

DWORD last_error = 0;

bool fail() {
    last_error = GetLastError();
    return false;
}

// The writers' lock: a named mutex, not a lock on the file, since a file
// that is open cannot be replaced (the rename closes it first) and a lock on
// its bytes would keep the launcher from reading them.
HANDLE writers = nullptr;

// The folder part of `path` ("." when it has none) into `dest`.
bool folder_of(const char* path, char* dest, size_t capacity) {
    const char* end = nullptr;
    for (const char* p = path; *p != '\0'; p++)
        if (*p == '\\' || *p == '/') end = p;
    size_t length = end == nullptr ? 0 : (size_t)(end - path);
    if (length + 2 > capacity) return false;
    if (length == 0) {
        memcpy(dest, ".", 2);
    } else {
        memcpy(dest, path, length);
        dest[length] = '\0';
        if (length == 2 && dest[1] == ':')
            memcpy(dest + 2, "\\", 2); // "C:" alone is a drive's folder
    }
    return true;
}

} // namespace

SettingsPathKind platform_settings_path(const char* path, char* dest, unsigned capacity) {
    if (strlen(path) + 1 > capacity) return SETTINGS_PATH_TOO_LONG;
    strcpy(dest, path);
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return SETTINGS_PATH_FILE;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? SETTINGS_PATH_ABSENT
                                                                          : SETTINGS_PATH_FILE;
}

platform_file platform_lock_settings(const char* path) {
    // Named after the file's full name, any case, so that every writer of
    // this session asks for the same one.
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full) {
        fail();
        return PLATFORM_NO_FILE;
    }
    uint32_t hash = 2166136261u;
    for (const char* p = full; *p != '\0'; p++) {
        char c = *p == '/' ? '\\' : *p >= 'a' && *p <= 'z' ? (char)(*p - 'a' + 'A') : *p;
        hash = (hash ^ (unsigned char)c) * 16777619u;
    }
    char name[64];
    snprintf(name, sizeof name, "Local\\talvin-config-%08lx", (unsigned long)hash);
    writers = CreateMutexA(nullptr, FALSE, name);
    // An owner that ended without giving it back leaves it abandoned: taken.
    DWORD waited = writers != nullptr ? WaitForSingleObject(writers, INFINITE) : WAIT_FAILED;
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        fail();
        if (writers != nullptr) CloseHandle(writers);
        writers = nullptr;
        return PLATFORM_NO_FILE;
    }
    // Shared for deletion, so that the new file can be renamed over it.
    HANDLE file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE && GetFileType(file) == FILE_TYPE_DISK)
        return (platform_file)file;
    fail();
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    platform_unlock_settings(PLATFORM_NO_FILE);
    return PLATFORM_NO_FILE;
}

void platform_unlock_settings(platform_file held) {
    if (held != PLATFORM_NO_FILE) CloseHandle((HANDLE)held);
    if (writers == nullptr) return;
    ReleaseMutex(writers);
    CloseHandle(writers);
    writers = nullptr;
}

int platform_same_file(platform_file held, const char* path) {
    HANDLE now = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (now == INVALID_HANDLE_VALUE) return 0;
    bool same = same_file((HANDLE)held, now);
    CloseHandle(now);
    return same;
}

platform_file platform_create_beside(const char* path, char* temp, unsigned capacity) {
    char folder[MAX_PATH];
    if (!folder_of(path, folder, sizeof folder) || capacity < MAX_PATH ||
        GetTempFileNameA(folder, "tvl", 0, temp) == 0) {
        fail();
        return PLATFORM_NO_FILE;
    }
    HANDLE file = CreateFileA(temp, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        fail();
        DeleteFileA(temp);
        return PLATFORM_NO_FILE;
    }
    return (platform_file)file;
}

int platform_write(platform_file file, const void* data, size_t size) {
    // The new file is at most a few MiB (CONFIG_FILE_CAP).
    return (size <= 0x10000000 && write_whole((HANDLE)file, data, (DWORD)size, false)) || fail();
}

int platform_flush(platform_file file) {
    return FlushFileBuffers((HANDLE)file) || fail();
}

// The new file takes its folder's permissions, as the old one did.
int platform_set_access(platform_file, platform_file, unsigned, int, unsigned* narrowed) {
    *narrowed = 0;
    return 1;
}

int platform_narrow_to_owner(platform_file, unsigned* narrowed) {
    *narrowed = 0;
    return 1;
}

int platform_rename_into_place(const char* temp, const char* path, platform_file* held) {
    DWORD flags = MOVEFILE_WRITE_THROUGH;
    if (*held != PLATFORM_NO_FILE) {
        flags |= MOVEFILE_REPLACE_EXISTING;
        CloseHandle((HANDLE)*held);
        *held = PLATFORM_NO_FILE;
    }
    // Anyone reading the old file at that moment (a launcher, a writer
    // judging it before it waits) keeps it from being replaced for a moment.
    for (int attempt = 0; attempt < 500; attempt++) {
        if (MoveFileExA(temp, path, flags)) return 1;
        if (GetLastError() != ERROR_SHARING_VIOLATION && GetLastError() != ERROR_ACCESS_DENIED)
            break;
        Sleep(20);
    }
    return fail();
}

void platform_remove_file(const char* path) {
    DeleteFileA(path);
}

// Each user's Windows directory is their own, and no program acts for
// another user through it.
int platform_is_system_settings_file(const char*) {
    return 0;
}

int platform_act_as_home_owner(const char*, int, char*, unsigned) {
    return 1;
}

int platform_make_private_folder(const char* file) {
    char folder[MAX_PATH];
    if (!folder_of(file, folder, sizeof folder)) return 0;
    if (platform_is_folder(folder)) return 1;
    for (char* p = folder + 1;; p++) {
        if (*p != '\\' && *p != '/' && *p != '\0') continue;
        char kept = *p;
        *p = '\0';
        if (p[-1] != ':' && !CreateDirectoryA(folder, nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS)
            return fail();
        *p = kept;
        if (kept == '\0') return 1;
    }
}

int platform_is_folder(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

long platform_read_secret(const char* prompt, char* dest, unsigned capacity) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    bool console = GetConsoleMode(input, &mode) != 0;
    if (console) {
        DWORD written;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), prompt, (DWORD)strlen(prompt), &written, nullptr);
        SetConsoleMode(input, mode & ~(DWORD)ENABLE_ECHO_INPUT);
    }
    size_t length = 0;
    bool ended = false, fits = true;
    char c;
    DWORD n;
    while (ReadFile(input, &c, 1, &n, nullptr) && n == 1) {
        if (c == '\n') {
            ended = true;
            break;
        }
        if (length + 1 < capacity)
            dest[length++] = c;
        else
            fits = false;
    }
    if (console) {
        SetConsoleMode(input, mode);
        DWORD written;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), "\r\n", 2, &written, nullptr);
    }
    if (length > 0 && dest[length - 1] == '\r') length--;
    dest[length] = '\0';
    if (!fits || (length == 0 && !ended)) return -1;
    return (long)length;
}

const char* platform_text_line_end(void) {
    return "\r\n";
}

const char* platform_write_error(void) {
    static char text[64];
    snprintf(text, sizeof text, "Windows error %lu", (unsigned long)last_error);
    return text;
}
