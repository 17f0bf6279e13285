// Reading files on Windows: disk files only. Opening a directory already fails;
// device names (CON, NUL, COM1) and pipes open, so the type of the opened
// handle decides.
#include "platform/platform.h"

#include "platform/win32/file.h"

#include <windows.h>

namespace {
// Whether the last open of a file found nothing to read.
int found_nothing = 1;
} // namespace

HANDLE open_disk_file(const char* path, DWORD access, DWORD disposition, DWORD share) {
    HANDLE file =
        CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    found_nothing = file != INVALID_HANDLE_VALUE || error == ERROR_FILE_NOT_FOUND ||
                    error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ||
                    error == ERROR_BAD_NETPATH || error == ERROR_FILENAME_EXCED_RANGE;
    // A folder cannot be opened as a file: there is no file to read.
    if (error == ERROR_ACCESS_DENIED) {
        DWORD attributes = GetFileAttributesA(path);
        found_nothing =
            attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    if (file == INVALID_HANDLE_VALUE) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

namespace {
bool is_file(HANDLE file, const BY_HANDLE_FILE_INFORMATION& known) {
    BY_HANDLE_FILE_INFORMATION x;
    return GetFileInformationByHandle(file, &x) &&
           x.dwVolumeSerialNumber == known.dwVolumeSerialNumber &&
           x.nFileIndexHigh == known.nFileIndexHigh && x.nFileIndexLow == known.nFileIndexLow;
}
} // namespace

bool write_whole(HANDLE file, const void* data, DWORD size, bool at_end) {
    for (const char* p = (const char*)data; size > 0;) {
        OVERLAPPED end = {}; // the offset all ones: the end
        end.Offset = end.OffsetHigh = 0xFFFFFFFF;
        DWORD written = 0;
        if (!WriteFile(file, p, size, &written, at_end ? &end : nullptr) || written == 0)
            return false;
        p += written;
        size -= written;
    }
    return true;
}

bool same_file(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION y;
    return GetFileInformationByHandle(b, &y) && is_file(a, y);
}

// The launch file is held open since it was read, and without leave to
// delete: no other account can remove or rename it meanwhile. A link is
// followed, and the file it names must be that one. It is then taken with
// no sharing, so that no program that opened it before (a reader whose
// handle stays open) reads the block: the read handle is given back first,
// and the file opened must have its volume and file index.
HANDLE open_for_append(const char* path, platform_file read, const char** why) {
    BY_HANDLE_FILE_INFORMATION was;
    bool known = GetFileInformationByHandle((HANDLE)read, &was) != 0;
    CloseHandle((HANDLE)read);
    // Writing is to the file's current end (see platform_append); leave to
    // write data too, so that a block cut short can be cut back off.
    HANDLE file = known ? open_disk_file(path, FILE_APPEND_DATA | FILE_WRITE_DATA, OPEN_EXISTING, 0)
                        : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE) {
        *why = !known ? "it cannot be looked at"
               : GetLastError() == ERROR_SHARING_VIOLATION
                   ? "another program has it open, which could read the password"
                   : "it is gone, or cannot be opened for writing";
        return INVALID_HANDLE_VALUE;
    }
    if (is_file(file, was)) return file;
    *why = "another file is in its place";
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

platform_file platform_open_for_reading(const char* path) {
    HANDLE file =
        open_disk_file(path, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ | FILE_SHARE_WRITE);
    return file == INVALID_HANDLE_VALUE ? PLATFORM_NO_FILE : (platform_file)file;
}

long platform_read(platform_file file, void* dest, unsigned capacity) {
    DWORD count = 0;
    if (!ReadFile((HANDLE)file, dest, capacity, &count, nullptr)) return -1;
    return (long)count;
}

int platform_open_found_nothing(void) {
    return found_nothing;
}

void platform_close(platform_file file) {
    CloseHandle((HANDLE)file);
}
