// Writing the launch file of a link on Windows: a new file of the
// launcher's own in its folder (never through a link or junction planted
// there), and the files it wrote there over a day ago removed.
#include "platform/platform.h"

#include "launch/launch_link.h"
#include "platform/win32/file.h"

#include <string.h>
#include <windows.h>

namespace {

const ULONGLONG A_DAY = 24ull * 60 * 60 * 10000000; // in 100 ns

ULONGLONG as_number(FILETIME time) {
    return ((ULONGLONG)time.dwHighDateTime << 32) | time.dwLowDateTime;
}

// `folder`, a backslash and `name` into `dest`, which the callers size for
// both (no formatting: the C library's printf would double the program).
void join(char* dest, const char* folder, const char* name) {
    size_t length = strlen(folder);
    memcpy(dest, folder, length);
    dest[length] = '\\';
    memcpy(dest + length + 1, name, strlen(name) + 1);
}

// `digits` hexadecimal digits of `value`, lower case, at `dest`.
void put_hex(char* dest, ULONGLONG value, int digits) {
    for (int i = digits - 1; i >= 0; i--, value >>= 4)
        dest[i] = "0123456789abcdef"[value & 15];
}

// A folder that is not a link or junction; made when missing.
bool private_folder(const char* folder) {
    char parent[MAX_PATH * 2];
    const char* slash = strrchr(folder, '\\');
    size_t length = slash == nullptr ? 0 : (size_t)(slash - folder);
    if (length == 0 || length >= sizeof parent) return false;
    memcpy(parent, folder, length);
    parent[length] = '\0';
    CreateDirectoryA(parent, nullptr);
    CreateDirectoryA(folder, nullptr);
    const char* paths[] = {parent, folder};
    for (const char* path : paths) {
        DWORD attributes = GetFileAttributesA(path);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            return false;
    }
    return true;
}

// Only names the launcher gives, only plain files, only those last written
// more than a day ago: a product may still be reading a younger one.
void remove_old_files(const char* folder) {
    char pattern[MAX_PATH * 2 + 16];
    join(pattern, folder, "link-*.tvl");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    FILETIME now_time;
    GetSystemTimeAsFileTime(&now_time);
    ULONGLONG now = as_number(now_time);
    do {
        bool plain = (found.dwFileAttributes &
                      (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
        if (!plain || !is_link_file_name(found.cFileName) ||
            as_number(found.ftLastWriteTime) + A_DAY >= now)
            continue;
        char path[MAX_PATH * 2 + 40];
        join(path, folder, found.cFileName);
        DeleteFileA(path);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

} // namespace

unsigned platform_store_link_file(const char* folder, const void* data, unsigned size, char* dest,
                                  unsigned capacity) {
    size_t folder_length = strlen(folder);
    size_t length = folder_length + 1 + LINK_FILE_NAME_LENGTH;
    if (length + 1 > capacity) return (unsigned)(length + 1);
    if (folder_length >= MAX_PATH || !private_folder(folder)) return 0;
    remove_old_files(folder);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULONGLONG stamp = as_number(now);
    for (unsigned attempt = 0; attempt < 64; attempt++) {
        char name[LINK_FILE_NAME_LENGTH + 1] = "link-0123456789abcdef01234567.tvl";
        put_hex(name + 5, stamp + attempt, 16);
        put_hex(name + 21, GetCurrentProcessId(), 8);
        memcpy(dest, folder, folder_length);
        dest[folder_length] = '\\';
        memcpy(dest + folder_length + 1, name, sizeof name);
        // CREATE_NEW takes no name that is already there, link or not.
        HANDLE file = CreateFileA(dest, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS) continue;
            break;
        }
        bool whole = write_whole(file, data, size, false);
        if (!CloseHandle(file)) whole = false;
        if (whole) return (unsigned)length;
        DeleteFileA(dest); // never left torn
        break;
    }
    dest[0] = '\0';
    return 0;
}
