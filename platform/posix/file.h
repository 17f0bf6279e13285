// What the POSIX faces share: opening regular files, writing to a reader
// that may have gone, finding a program through PATH, and waiting for the
// helpers the launcher starts.
#pragma once

#include "platform/platform.h"

#include <signal.h>
#include <stddef.h>
#include <sys/stat.h>
#include <sys/types.h>

// Opens `path` with `flags` when it is a regular file, without blocking (a
// FIFO would wait for a writer); returns the descriptor or -1.
int open_regular(const char* path, int flags);

// Set by open_regular: 1 when there was nothing to read (no file, or not a
// regular file; a refusal sets it too), 0 when a file is there but could not
// be opened. platform_open_found_nothing returns it.
extern int found_nothing_to_read;

// Run as root: 1 when following `path` passes a symbolic link of another
// account's (not root's) and the file it reaches, `file`, is not that
// account's (its name into `link`), so that a link of theirs never leads
// root to show or take a file they could not read. Opening for reading
// refuses such a file.
bool led_by_anothers_link(const char* path, const struct stat& file, char* link, size_t capacity,
                          int depth = 0);

// 1 when `a` and `b` describe the very same file: device and inode.
bool same_file(const struct stat& a, const struct stat& b);

// Opens the file at `path` for appending when it is the open file `read`
// and this user owns it; returns the descriptor, or -1 with `why` saying in
// a few words why not. Nothing is created.
int open_for_append(const char* path, platform_file read, const char** why);

// 1 when a descriptor of the open file `read` other than `read` itself is
// open, in any process: a write lease is granted only while none is. One
// opened while the file was readable by others keeps reading it after its
// mode is narrowed. Where leases are not to be had (some network
// filesystems), nothing is known, and none is assumed: 0.
bool opened_elsewhere(platform_file read);

// 1 when the folder part of `program` exists as a folder (a name without
// one is in the current folder).
bool directory_part_exists(const char* program);

// Looks for the program `name` in the absolute folders of PATH only (an
// empty or relative entry would mean the current folder, which may be the
// one the browser downloads into): calls `attempt` with each "FOLDER/name"
// in turn until it returns an errno value other than ENOENT, ENOTDIR or
// EACCES, and returns that (0: started), with the candidate in `found`.
// Else EACCES when a folder held one that may not be run, or ENOENT.
int search_path(const char* name, int (*attempt)(const char* candidate, void* context),
                void* context, char found[4096]);

// Writes all `size` bytes of `data` to `fd`; false when a write failed. A
// reader that has gone (a closed terminal, a helper that exits early) or a
// file size limit must not end the program before it can undo a part
// written: SIGPIPE and SIGXFSZ are ignored while writing (a write past the
// limit then fails with EFBIG), then the dispositions the program was given
// are put back for the product to inherit.
bool write_all(int fd, const void* data, size_t size);

// Puts SIGCHLD at its default while the launcher starts and waits for a
// helper: a parent that ignores it hands that down, and a helper would then
// be reaped unseen, so that waitpid could not tell how it ended. Returns the
// disposition the launcher was given, which restore_sigchld puts back for
// the product to inherit.
struct sigaction reap_helpers();
void restore_sigchld(const struct sigaction& given);

// The exit status of the helper `pid`, or -1 when it did not exit by itself.
int wait_for(pid_t pid);
