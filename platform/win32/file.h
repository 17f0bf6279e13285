// Opening files on Windows, shared by reading and appending.
#pragma once

#include <windows.h>

// Opens `path` when it is a disk file (devices and pipes are refused), shared
// for reading and writing; returns the handle or INVALID_HANDLE_VALUE.
HANDLE open_disk_file(const char* path, DWORD access, DWORD disposition);
