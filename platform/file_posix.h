// Opening files on POSIX, shared by reading and appending.
#pragma once

// Opens `path` with `flags` when it is a regular file, without blocking (a
// FIFO would wait for a writer); returns the descriptor or -1.
int open_regular(const char* path, int flags);
