// Reading files on Windows: disk files only. Opening a directory already fails;
// device names (CON, NUL, COM1) and pipes open, so the type of the opened
// handle decides.
#include "platform/platform.h"

#include "platform/win32/file.h"

#include <windows.h>

HANDLE open_disk_file(const char* path, DWORD access, DWORD disposition) {
    HANDLE file = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

bool same_file(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION x, y;
    return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

// The launch file is held open since it was read, and without leave to
// delete: no other account can remove or rename it meanwhile. A link is
// followed, and the file it names must be that one.
HANDLE open_for_append(const char* path, platform_file read, const char** why) {
    // FILE_APPEND_DATA alone sends every write to the file's current end.
    HANDLE file = open_disk_file(path, FILE_APPEND_DATA, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        *why = "it is gone, or cannot be opened for writing";
        return INVALID_HANDLE_VALUE;
    }
    if (same_file(file, (HANDLE)read)) return file;
    *why = "another file is in its place";
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

platform_file platform_open_for_reading(const char* path) {
    HANDLE file = open_disk_file(path, GENERIC_READ, OPEN_EXISTING);
    return file == INVALID_HANDLE_VALUE ? PLATFORM_NO_FILE : (platform_file)file;
}

long platform_read(platform_file file, void* dest, unsigned capacity) {
    DWORD count = 0;
    if (!ReadFile((HANDLE)file, dest, capacity, &count, nullptr)) return -1;
    return (long)count;
}

void platform_close(platform_file file) {
    CloseHandle((HANDLE)file);
}
