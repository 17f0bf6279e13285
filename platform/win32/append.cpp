// Appending to files on Windows: the one file action, apart from reading so
// that a face which only records actions can still read files for real.
#include "platform/platform.h"

#include "platform/win32/file.h"

void platform_append(const char* path, platform_file read, const void* data, unsigned size) {
    const char* why;
    HANDLE file = open_for_append(path, read, &why);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, data, size, &written, nullptr);
    CloseHandle(file);
}
