// Appending to files on Windows: the one file action, apart from reading so
// that a face which only records actions can still read files for real.
#include "platform/platform.h"

#include "platform/win32/file.h"

void platform_append(const char* path, const void* data, unsigned size) {
    // FILE_APPEND_DATA alone sends every write to the file's current end.
    HANDLE file = open_disk_file(path, FILE_APPEND_DATA, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, data, size, &written, nullptr);
    CloseHandle(file);
}
