// Opening files on Windows, shared by reading and appending.
#pragma once

#include "platform/platform.h"

#include <windows.h>

// Opens `path` when it is a disk file (devices and pipes are refused), shared
// for reading and writing; returns the handle or INVALID_HANDLE_VALUE.
HANDLE open_disk_file(const char* path, DWORD access, DWORD disposition);

// 1 when the open `a` and `b` are the very same file: volume and file index.
bool same_file(HANDLE a, HANDLE b);

// Opens the file at `path` for appending when it is the open file `read`;
// returns the handle, or INVALID_HANDLE_VALUE with `why` saying in a few
// words why not. Nothing is created.
HANDLE open_for_append(const char* path, platform_file read, const char** why);
