// The one seam between the launcher and the operating system.
//
// Each face defines every procedure below, in this order: the operating
// systems' faces in posix/ and win32/, each split into queries, actions, file
// reading, appending and signatures (queries.cpp, actions.cpp, file.cpp,
// append.cpp, crypto.cpp), with the process's entry in main.cpp; the
// recording fake of the tests (platform/fake/). Only the files under posix/ and
// win32/ include an OS header; everything else calls these. Sizes follow the Win32 calls they stand
// for: a procedure that fills a buffer returns the length written, 0 on failure, or the size it
// would need (terminator included) when the buffer is too small.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The window that owns message boxes; null means the boxes have no owner.
typedef void* platform_window;

// Shows a modal box with `text`, `caption` and one OK button, owned by
// `owner`, and returns when it has been dismissed. Both texts are data: they
// are never used as a format.
void platform_message_box(platform_window owner, const char* text, const char* caption);

// Writes the Windows directory (no trailing separator) into `dest`: the
// folder that holds the shared settings file.
unsigned platform_windows_directory(char* dest, unsigned capacity);

// The system folder, whose talvin.ini is read before the one in
// platform_windows_directory's folder, so that a user's own file adds to the
// products installed for every account rather than hiding them (the same
// folder, when the user has none of their own). 0 when there is none
// (Windows; WINDIR set).
unsigned platform_system_settings_directory(char* dest, unsigned capacity);

// One short sentence saying why platform_windows_directory gives the folder
// it gives (for tools that explain a launch). Never null.
const char* platform_settings_directory_reason(void);

// The separator that follows a directory name: a backslash or a slash.
char platform_path_separator(void);

// Writes the short form of `path` into `dest`; where paths have no short
// form this always fails and returns 0.
unsigned platform_short_path(const char* path, char* dest, unsigned capacity);

// Writes `path` made absolute against the current directory into `dest`.
unsigned platform_full_path(const char* path, char* dest, unsigned capacity);

// Makes `path` the current directory; returns 1 on success, 0 on failure.
int platform_change_directory(const char* path);

// Writes the current directory into `dest`.
unsigned platform_current_directory(char* dest, unsigned capacity);

// Sets the environment entry `name` to `value` for this process and the
// programs it starts. A failure is not reported: the start goes on.
void platform_set_environment(const char* name, const char* value);

// Starts the program named at the head of `command_line` with the rest as
// its arguments, without waiting for it. Returns a value above 31 on
// success, otherwise a start result code: 0, 2 (file not found), 3 (path not
// found), 5 (access denied), 8 (out of memory), 11 (invalid executable)...
// A program named without a folder is looked for in the current folder only
// when `in_product_folder` is 1 (the product's `path` was made current):
// else the current folder is where the launcher was started, which may be
// the folder the browser downloads into. The program is started in the
// current folder either way.
unsigned platform_start_program(const char* command_line, int show_state, int in_product_folder);

// 1 when file names ignore letter case (so a command line may be uppercased
// without naming another file), 0 when case matters.
int platform_file_names_ignore_case(void);

// 1 when `byte` is the lead byte of a double-byte character in the ANSI
// code page, else 0.
int platform_is_lead_byte(unsigned char byte);

// Working memory: `size` bytes, or null at once when the request cannot be
// met. Every block taken is given back with platform_give_memory.
void* platform_take_memory(size_t size);
void platform_give_memory(void* block);

// Files. Only regular disk files are opened: a directory, FIFO, socket,
// device or pipe is refused like a missing file. Opening never blocks.
typedef intptr_t platform_file;
#define PLATFORM_NO_FILE ((platform_file)-1)

// Opens an existing file for reading; other processes may go on reading and
// writing it. Returns PLATFORM_NO_FILE when it cannot be opened.
platform_file platform_open_for_reading(const char* path);

// Opens the shared settings file like platform_open_for_reading, but refuses
// (PLATFORM_NO_FILE) one that another account could change
// (platform_others_could_change), since it chooses the program this user
// runs. With `why`, a file refused by that rule leaves one line there saying
// why and what mends it; else `why` is emptied.
platform_file platform_open_settings_file(const char* path, char* why = nullptr,
                                          unsigned why_capacity = 0);

// The one rule for "another account could change it", for the settings
// files, the launch files a signature is required of, talvin-check and
// talvin-config. Returns 1 when an account other than this user and root
// could write the open file `file`, found at `path` (absolute), or put
// another file in its place: as its owner, through the group's write
// permission where the group has a member but this user and root, through
// the others' write permission or an access control entry, or through a
// folder on the way to it that such an account could write into (a folder
// with the sticky bit, itself this user's or root's, protects the entries
// of this user and root); also when `path` no longer names `file`. Then
// `why` (when given) receives one line naming the account, group, entry or
// folder, and what mends it, with `fix_mode` the mode it suggests for the
// file. Returns 0 when no other account could.
int platform_others_could_change(platform_file file, const char* path, unsigned fix_mode, char* why,
                                 unsigned why_capacity);

// After platform_open_for_reading or platform_open_settings_file failed: 1
// when the file is not there or was refused as those say, 0 when it is there
// but could not be opened (no leave, a read error, no memory): a file that
// cannot be read, which is not passed over as if it were missing.
int platform_open_found_nothing(void);

// Reads up to `capacity` bytes; returns the count, 0 at the end of the file
// and -1 on a read error.
long platform_read(platform_file file, void* dest, unsigned capacity);

void platform_close(platform_file file);

// Appends `size` bytes to the end of `path` in one write, only when `path`
// still names the very file `read` (POSIX: the same device and inode;
// Windows: the same volume and file index): the launch file, held open since
// it was read, so that no new file can be given its identity. Never to a
// file created for it or put in its place, nor through a link to another
// file; on POSIX only to a file this user owns, since the bytes hold a
// password, and only once the file is the owner's alone to read (its group
// and others permissions cleared; where they cannot be, nothing is
// appended). Nor while another program has the file open, which could read
// the block: on POSIX no lease can be had; on Windows `read` is given back
// first and the file is opened with no sharing. A failure is not reported:
// the start goes on. `read` is closed on return.
void platform_append(const char* path, platform_file read, const void* data, unsigned size);

// Signatures, by the operating system's own cryptography, loaded only when
// a signature must be checked. Checks that `signature` (r then s, 32 bytes
// each, big-endian) is an ECDSA signature over the SHA-256 hash of the
// `size` bytes at `message` by the P-256 public key `public_key` (the point's
// x then y, 32 bytes each). Returns 1 when it is, 0 when it is not, and -1
// when the system's cryptography cannot be had.
int platform_verify_p256(const unsigned char public_key[64], const void* message, size_t size,
                         const unsigned char signature[64]);

// The launch files of links. The launcher writes each link's bytes into a
// new file of its own, named "link-" and 24 lowercase hexadecimal digits
// (from the time and the process) followed by ".tvl", in a folder that only
// this user can read.
enum { LINK_FILE_NAME_LENGTH = 33 };

// Writes the name of that folder (no trailing separator) into `dest`;
// nothing is created or checked. 0 when the user has none.
unsigned platform_link_folder(char* dest, unsigned capacity);

// Creates `folder` when it is missing and checks that only this user can
// use it (refused: a symbolic link, another user's folder, one that others
// may write into); removes the launcher's own files there that were last
// written more than a day ago; then writes the `size` bytes at `data` into
// a new file there, created without following a link, and writes its path
// into `dest`. Returns the path's length, 0 on failure (no file is left
// behind), or the size needed when `dest` is too small (nothing is written).
unsigned platform_store_link_file(const char* folder, const void* data, unsigned size, char* dest,
                                  unsigned capacity);

// Removes the file at `path` that platform_store_link_file wrote, once the
// product started with it has had time to read it: LINK_KEEP_SECONDS later
// (a test may name fewer in TALVIN_TEST_LINK_KEEP, or "sweep"), so that
// the password in its identification block does not stay behind. POSIX: a
// process of its own waits and removes it, so the launcher ends at once;
// removed only while it is still that file. Windows: the launcher waits,
// answering its window's messages. What a killed launcher left is swept a
// day later.
enum { LINK_KEEP_SECONDS = 60 };
void platform_forget_link_file(const char* path);
