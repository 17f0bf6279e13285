// Rewriting the shared settings file without ever tearing it, for
// talvin-config: each face (posix/, win32/ settings_write.cpp) defines these
// with its own locking and replacing calls. A change is written whole into a
// new file beside the old one, flushed, and put in its place by one rename,
// so that every moment leaves the old file or the new one.
#pragma once

#include "platform/platform.h"

enum SettingsPathKind {
    SETTINGS_PATH_FILE,        // an entry that names a file (perhaps through links)
    SETTINGS_PATH_ABSENT,      // nothing of that name: the file may be made
    SETTINGS_PATH_BROKEN_LINK, // a symbolic link to nothing
    SETTINGS_PATH_TOO_LONG,
};

// Writes into `dest` the name of the file that `path` leads to as the
// launcher would open it (symbolic links followed), or `path` itself when
// there is nothing of that name, so that the link stays and its file is
// rewritten.
SettingsPathKind platform_settings_path(const char* path, char* dest, unsigned capacity);

// Opens the existing file `path` and takes the writers' lock on it, waiting
// for any other writer. Since a writer puts a new file in the old one's
// place, the lock is taken again until it is held on the file that `path`
// still names. PLATFORM_NO_FILE when there is no such file or it cannot be
// opened. Given back with platform_unlock_settings.
platform_file platform_lock_settings(const char* path);

// Closes the file of platform_lock_settings (unless the rename did) and
// gives the lock back.
void platform_unlock_settings(platform_file held);

// 1 while `path` still names the file `held`.
int platform_same_file(platform_file held, const char* path);

// Makes a new empty file beside `path`, writable by its owner only, and
// writes its name into `temp`. PLATFORM_NO_FILE when it cannot be made.
platform_file platform_create_beside(const char* path, char* temp, unsigned capacity);

// Writes all `size` bytes; 1 when every byte was written.
int platform_write(platform_file file, const void* data, size_t size);

// Makes the file's bytes reach the disk; 1 on success.
int platform_flush(platform_file file);

// Gives `file` the permissions and owner of `model` (a file held open), or
// `mode` (an octal mode; Windows keeps the folder's own) when there is no
// model. With `owner_only`, the group and others are given no permission
// (a password is written); `*narrowed` is then the model's mode when some
// were taken from it, else 0. 1 on success.
int platform_set_access(platform_file file, platform_file model, unsigned mode, int owner_only,
                        unsigned* narrowed);

// Takes the group's and others' permissions from the locked file `held`,
// which a password is kept in though no byte of it changes; `*narrowed` is
// then its old mode, else 0 (also where the folder decides, on Windows).
// 1 on success.
int platform_narrow_to_owner(platform_file held, unsigned* narrowed);

// Puts the flushed file `temp` in the place of `path`: over `*held`, the
// locked file there, or, when it is PLATFORM_NO_FILE, only when there is
// none (0 then, when another writer made one first). The rename itself is
// made durable. Where an open file cannot be replaced, `*held` is closed
// first (the lock stays) and set to PLATFORM_NO_FILE. 1 on success.
int platform_rename_into_place(const char* temp, const char* path, platform_file* held);

// Removes the file `path`; errors are ignored.
void platform_remove_file(const char* path);

// 1 when `path` names the system folder's settings file, which every
// account's launcher reads, however it is spelt: the same file, or, while
// there is none, a talvin.ini in the same folder. Windows has none.
int platform_is_system_settings_file(const char* path);

// For a program run as root for a user (su or sudo keeping HOME), who owns
// HOME (for a HOME of root's, the first entry on the way to the file that is
// not root's): when `path` is that user's own file (`own`: the one chosen
// for the user, else one inside HOME), acts as that user from now on, so
// that nothing of another account is written, and checks that the file it
// leads to and its folders inside HOME belong to the user. Any other file
// is judged by the way to it: its first entry not root's makes root act as
// that entry's owner (a link of the user's outside HOME). 1 when the write
// may go on (also when there is nothing to do); else 0 with the reason in
// `why` (also for a folder of root's on the way that others may write).
int platform_act_as_home_owner(const char* path, int own, char* why, unsigned capacity);

// Makes the folder that holds `file`, and those above it, when they are
// missing; each made readable by its owner only. 1 when the folder is there.
int platform_make_private_folder(const char* file);

// 1 when `path` names a folder.
int platform_is_folder(const char* path);

// Reads a secret line into `dest` (`capacity` bytes): from the terminal
// without echo, after `prompt`, when standard input is one, else from
// standard input. The line end is not kept. Returns its length, or -1 when
// nothing could be read or it does not fit.
long platform_read_secret(const char* prompt, char* dest, unsigned capacity);

// The line end of a settings file made from nothing.
const char* platform_text_line_end(void);

// The last error of a call above, in a few words.
const char* platform_write_error(void);
