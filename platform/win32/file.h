// Opening files on Windows, shared by reading and appending.
#pragma once

#include "platform/platform.h"

#include <windows.h>

// Opens `path` when it is a disk file (devices and pipes are refused), shared
// as `share` says; returns the handle or INVALID_HANDLE_VALUE (GetLastError
// tells why).
HANDLE open_disk_file(const char* path, DWORD access, DWORD disposition, DWORD share);

// Writes all `size` bytes of `data`, going on after a write cut short, each
// write at the file's end at that moment when `at_end`; false when a write
// fails or writes nothing.
bool write_whole(HANDLE file, const void* data, DWORD size, bool at_end);

// 1 when the open `a` and `b` are the very same file: volume and file index.
bool same_file(HANDLE a, HANDLE b);

// Opens the file at `path` for appending, to itself alone, when it is the
// open file `read`, which it closes; returns the handle, or
// INVALID_HANDLE_VALUE with `why` saying in a few words why not (also while
// another program has it open). Nothing is created.
HANDLE open_for_append(const char* path, platform_file read, const char** why);
