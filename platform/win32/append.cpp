// Appending to files on Windows: the one file action, apart from reading so
// that a face which only records actions can still read files for real.
#include "platform/platform.h"

#include "platform/win32/file.h"

void platform_append(const char* path, platform_file read, const void* data, unsigned size) {
    const char* why;
    HANDLE file = open_for_append(path, read, &why);
    if (file == INVALID_HANDLE_VALUE) return;
    // All or nothing: a block cut short (a full disk, a quota) is cut back
    // off, so that no reader takes half a block for the user's.
    LARGE_INTEGER before;
    bool sized = GetFileSizeEx(file, &before) != 0;
    bool whole = write_whole(file, data, size, true);
    if (!whole && sized && SetFilePointerEx(file, before, nullptr, FILE_BEGIN)) SetEndOfFile(file);
    CloseHandle(file);
}
