// The checker's questions to a POSIX system: would a start succeed, why a
// settings file was refused, who may read it. Nothing here changes a file
// the launcher uses.
#include "check/check_face.h"

#include "launch/command_line_split.h"
#include "platform/posix/file.h"
#include "platform/posix/link_folder.h"
#include "platform/posix/trust.h"

#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

// snprintf into a buffer of `capacity` bytes; false when the text was cut.
#define FITS(dest, capacity, ...) (snprintf(dest, capacity, __VA_ARGS__) < (int)(capacity))

namespace {

const unsigned START_OK = 33;
// Files the kernel takes in turn for one start: the program, then each
// "#!" interpreter, the last of which must be a binary (4 levels of scripts
// naming scripts).
const int EXEC_FILES_MAX = 6;
const size_t HEAD_SIZE = 256; // the bytes the kernel reads to choose a format
// What start_error gives for a file of the start that may be run but not
// read: the kernel would read it, the check cannot.
const int CANNOT_TELL = -1;

#if defined(__x86_64__)
const unsigned NATIVE_MACHINE = 62, NATIVE_CLASS = 2, COMPAT_MACHINE = 3; // x86-64; i386
#elif defined(__i386__)
const unsigned NATIVE_MACHINE = 3, NATIVE_CLASS = 1, COMPAT_MACHINE = 0;
#elif defined(__aarch64__)
const unsigned NATIVE_MACHINE = 183, NATIVE_CLASS = 2, COMPAT_MACHINE = 0;
#else
const unsigned NATIVE_MACHINE = 0, NATIVE_CLASS = 0, COMPAT_MACHINE = 0; // not judged
#endif

// Up to `size` bytes at `at`, read on after a short or interrupted read;
// -1 when a read failed.
ssize_t read_at(int fd, void* dest, size_t size, off_t at) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = pread(fd, (char*)dest + done, size - done, at + (off_t)done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += (size_t)n;
    }
    return (ssize_t)done;
}

// 1 when the kernel runs 32-bit programs beside its own: built in
// (/proc/sys/abi/vsyscall32 is there) and not turned off at boot.
bool compat_enabled() {
    if (access("/proc/sys/abi/vsyscall32", F_OK) != 0) return false;
    char line[4096] = "";
    int fd = open("/proc/cmdline", O_RDONLY | O_CLOEXEC);
    ssize_t n = fd >= 0 ? read_at(fd, line, sizeof line - 1, 0) : -1;
    if (fd >= 0) close(fd);
    line[n > 0 ? n : 0] = '\0';
    const char* given = strstr(line, "ia32_emulation=");
    if (given == nullptr) return true;
    given += 15;
    return strchr("0nNfF", given[0]) == nullptr && strncmp(given, "off", 3) != 0;
}

unsigned read_number(const unsigned char* at, unsigned size) {
    uint64_t value = 0;
    memcpy(&value, at, size); // the kernel reads the fields in its own byte order
    return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : (unsigned)value;
}

// `name` as the kernel opens it from the folder `directory` (null: ours);
// an empty name is that folder itself.
bool resolve(const char* name, const char* directory, char* dest, unsigned capacity) {
    if (name[0] == '\0') return FITS(dest, capacity, "%s", directory != nullptr ? directory : ".");
    return name[0] == '/' || directory == nullptr ? FITS(dest, capacity, "%s", name)
                                                  : FITS(dest, capacity, "%s/%s", directory, name);
}

// 1 when a program has the file at `path` open for writing (an update in
// progress), which makes the kernel refuse to run it (ETXTBSY). The kernel
// grants a read lease only on a file no one writes: one is asked for and
// given back at once, by closing the file. Only the file's owner and root
// may ask; for others the file is taken as not written.
bool being_written(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    bool written = fcntl(fd, F_SETLEASE, F_RDLCK) != 0 && errno == EAGAIN;
    close(fd);
    return written;
}

// The kernel's opening of a file to run: 0 or the errno value.
int open_error(const char* path) {
    struct stat info;
    if (stat(path, &info) != 0) return errno;
    if (!S_ISREG(info.st_mode) || access(path, X_OK) != 0) return EACCES;
    return being_written(path) ? ETXTBSY : 0;
}

// Why the kernel would not take a file it needs besides the program (an
// interpreter or loader) whose opening gave `error`.
const char* refusal(int error) {
    return error == ENOENT    ? "is missing"
           : error == EACCES  ? "may not be run (a folder, not a program file, or no permission)"
           : error == ETXTBSY ? "is open for writing (an update in progress?), and the system "
                                "runs no file while it is written"
                              : "cannot be reached";
}

// Which of the kernel's ELF loaders takes a program for `machine`, by the
// layout it reads the headers in: 2 (64-bit), 1 (32-bit), or 0 for none.
// The class byte is not asked, as the kernel does not ask it; the 32-bit
// loader takes EM_486 as well as EM_386.
unsigned elf_layout(unsigned machine) {
    bool x86 = machine == 3 || machine == 6;
    if (machine == NATIVE_MACHINE || (NATIVE_MACHINE == 3 && x86)) return NATIVE_CLASS;
    if (COMPAT_MACHINE != 0 && x86 && compat_enabled()) return 1;
    return 0;
}

// The ELF checks of the kernel's loader for the file `fd` whose first bytes
// are `head`, read in `layout` (as elf_layout gives): its type, machine and
// program headers. ENOEXEC when it is no program this system runs (`bad`
// for the loader's own checks, ELIBBAD); `interp` receives the loader it
// names, or is emptied.
int elf_error(int fd, const unsigned char* head, int bad, unsigned layout, char* interp,
              unsigned capacity) {
    interp[0] = '\0';
    unsigned type = read_number(head + 16, 2), machine = read_number(head + 18, 2);
    if (NATIVE_MACHINE == 0) return 0;
    if (bad == ENOEXEC && type != 2 && type != 3) return ENOEXEC;
    // A loader must be for the loader of the program that names it.
    if (layout == 0 || elf_layout(machine) != layout) return bad;
    bool wide = layout == 2;
    unsigned entry_size = wide ? 56 : 32;
    uint64_t table = 0;
    memcpy(&table, head + (wide ? 32 : 28), wide ? 8 : 4);
    unsigned size = read_number(head + (wide ? 54 : 42), 2);
    unsigned total = size * read_number(head + (wide ? 56 : 44), 2);
    if (size != entry_size || total == 0 || total > 4096) return bad;
    unsigned char entries[4096];
    if (read_at(fd, entries, total, (off_t)table) != (ssize_t)total) return bad;
    if (bad != ENOEXEC) return 0; // a loader's own loader is not asked for
    for (const unsigned char* e = entries; e < entries + total; e += entry_size) {
        if (read_number(e, 4) != 3) continue; // the first PT_INTERP counts
        uint64_t offset = 0;
        memcpy(&offset, e + (wide ? 8 : 4), wide ? 8 : 4);
        unsigned length = read_number(e + (wide ? 32 : 16), wide ? 8 : 4);
        if (length < 2 || length > 4096 || length > capacity) return ENOEXEC;
        if (read_at(fd, interp, length, (off_t)offset) != (ssize_t)length) return EIO;
        if (interp[length - 1] != '\0') return ENOEXEC;
        return 0;
    }
    return 0;
}

// The folder where the kernel lists the program formats registered with it
// (binfmt_misc); the tests name one of their own.
const char* formats_folder() {
    const char* hook = getenv("TALVIN_TEST_BINFMT_FOLDER");
    return hook != nullptr ? hook : "/proc/sys/fs/binfmt_misc";
}

// The file `name` of `folder` into `text`, terminated; false when it is empty
// or cannot be read.
bool read_small(const char* folder, const char* name, char* text, unsigned capacity) {
    char path[4200];
    int fd = FITS(path, sizeof path, "%s/%s", folder, name)
                 ? open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK)
                 : -1;
    ssize_t n = fd >= 0 ? read_at(fd, text, capacity - 1, 0) : -1;
    if (fd >= 0) close(fd);
    text[n > 0 ? n : 0] = '\0';
    return n > 0;
}

// The bytes written in hexadecimal at `hex` (up to the first other
// character), at most `capacity`; returns their count.
unsigned hex_bytes(const char* hex, unsigned char* dest, unsigned capacity) {
    auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    unsigned count = 0;
    for (; count < capacity && isxdigit((unsigned char)hex[0]) && isxdigit((unsigned char)hex[1]);
         hex += 2)
        dest[count++] = (unsigned char)(digit(hex[0]) * 16 + digit(hex[1]));
    return count;
}

// A format registered with the kernel that takes the file `path` whose first
// bytes are `head`, as the kernel asks them before its own: its interpreter
// into `dest`, and `preopened` when the kernel opened that at registration
// (flag F), so that its name no longer matters.
bool registered_format(const char* path, const unsigned char* head, char* dest, unsigned capacity,
                       bool* preopened) {
    const char* folder = formats_folder();
    char text[4096];
    if (!read_small(folder, "status", text, sizeof text) || strncmp(text, "enabled", 7) != 0)
        return false;
    DIR* dir = opendir(folder);
    bool found = false;
    for (dirent* entry; !found && dir != nullptr && (entry = readdir(dir)) != nullptr;) {
        if (entry->d_name[0] == '.' || strcmp(entry->d_name, "status") == 0 ||
            strcmp(entry->d_name, "register") == 0 ||
            !read_small(folder, entry->d_name, text, sizeof text) ||
            strncmp(text, "enabled\n", 8) != 0)
            continue;
        const char* interpreter = strstr(text, "\ninterpreter ");
        const char* flags = strstr(text, "\nflags: ");
        const char* extension = strstr(text, "\nextension .");
        const char* magic = strstr(text, "\nmagic ");
        const char* mask = strstr(text, "\nmask ");
        const char* offset = strstr(text, "\noffset ");
        const char* dot = strrchr(path, '.');
        if (interpreter == nullptr) continue;
        if (extension != nullptr) {
            size_t length = strcspn(extension + 12, "\n");
            found = dot != nullptr && strlen(dot + 1) == length &&
                    strncmp(dot + 1, extension + 12, length) == 0;
        } else if (magic != nullptr) {
            unsigned char want[HEAD_SIZE], bits[HEAD_SIZE];
            unsigned at = offset != nullptr ? (unsigned)atoi(offset + 8) : 0;
            unsigned size = hex_bytes(magic + 7, want, sizeof want);
            unsigned masked = mask != nullptr ? hex_bytes(mask + 6, bits, sizeof bits) : 0;
            found = size > 0 && at < HEAD_SIZE && size <= HEAD_SIZE - at;
            for (unsigned i = 0; found && i < size; i++)
                found = ((head[at + i] ^ want[i]) & (i < masked ? bits[i] : 0xFF)) == 0;
        }
        *preopened = found && flags != nullptr && memchr(flags + 8, 'F', strcspn(flags + 8, "\n"));
        if (found)
            found = FITS(dest, capacity, "%.*s", (int)strcspn(interpreter + 13, "\n"),
                         interpreter + 13);
    }
    if (dir != nullptr) closedir(dir);
    return found;
}

bool spacetab(char c) {
    return c == ' ' || c == '\t';
}

// The interpreter named on a "#!" line, as the kernel reads it from the
// file's first 256 bytes (zeros past its end); false when it names none.
bool script_interpreter(char* head, char* dest, unsigned capacity) {
    char* end = (char*)memchr(head, '\n', HEAD_SIZE);
    char* last = head + HEAD_SIZE - 1;
    if (end == nullptr) {
        char* name = head + 2;
        while (name <= last && spacetab(*name))
            name++;
        char* stop = name;
        while (stop <= last && !spacetab(*stop) && *stop != '\0')
            stop++;
        if (stop > last) return false; // no name, or one cut off
        end = last;
    }
    while (end > head + 2 && spacetab(end[-1]))
        end--;
    char* name = head + 2;
    while (name < end && spacetab(*name))
        name++;
    if (name >= end) return false;
    size_t length = 0;
    while (name + length < end && !spacetab(name[length]) && name[length] != '\0')
        length++;
    return FITS(dest, capacity, "%.*s", (int)length, name);
}

// What starting the program file at `program` would fail with, as an errno
// value (0: it would start), following the kernel: the program's format, its
// machine and loader, and each "#!" interpreter in turn. Relative names of
// interpreters and loaders are taken from `directory` (null: ours). When the
// failure is not the program's own, `why` tells it; else it is emptied.
int start_error(const char* program, const char* directory, char* why, unsigned capacity) {
    why[0] = '\0';
    char path[4096], next[4096], who[8400];
    int error = open_error(program);
    if (error != 0 || !FITS(path, sizeof path, "%s", program)) return error;
    for (int files = 1;; files++) {
        if (files == 1)
            check_format(who, sizeof who, "%s", program);
        else
            check_format(who, sizeof who, "%s, the interpreter of %s,", path, program);
        unsigned char head[HEAD_SIZE] = {0};
        int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            check_format(why, capacity,
                         "%s may be run but not read by this account, so its format, its "
                         "interpreter and its loader cannot be judged",
                         who);
            return CANNOT_TELL;
        }
        ssize_t n = read_at(fd, head, HEAD_SIZE, 0);
        char name[4096]; // the interpreter
        bool preopened = false,
             registered = registered_format(path, head, name, sizeof name, &preopened);
        bool script = registered || (n >= 2 && head[0] == '#' && head[1] == '!');
        if (registered) {
            error = preopened                                     ? 0
                    : resolve(name, directory, next, sizeof next) ? open_error(next)
                                                                  : ENAMETOOLONG;
            if (error != 0)
                check_format(why, capacity,
                             "the interpreter %s that the system has registered for files like %s "
                             "%s",
                             name, who,
                             error == ENOENT || error == ETXTBSY ? refusal(error)
                                                                 : "may not be run");
            if (preopened) return close(fd), 0;
        } else if (n >= 4 && memcmp(head,
                                    "\x7f"
                                    "ELF",
                                    4) == 0) {
            unsigned machine = read_number(head + 18, 2);
            unsigned layout = elf_layout(machine);
            error = elf_error(fd, head, ENOEXEC, layout, next, sizeof next);
            if (error == ENOEXEC && layout == 0)
                check_format(why, capacity,
                             "%s is a program for another processor or system (ELF machine %u)",
                             who, machine);
            else if (error != 0 && files > 1)
                check_format(why, capacity, "%s is not a program this system can run", who);
            if (error == 0 && next[0] != '\0') {
                char loader[4096];
                error = resolve(next, directory, loader, sizeof loader) ? open_error(loader)
                                                                        : ENAMETOOLONG;
                int loader_fd = error == 0 ? open(loader, O_RDONLY | O_CLOEXEC) : -1;
                unsigned char loader_head[HEAD_SIZE] = {0};
                if (error == 0 && loader_fd < 0) {
                    check_format(why, capacity,
                                 "%s needs the loader %s, which may be run but not read by this "
                                 "account, so it cannot be judged",
                                 who, loader);
                    return close(fd), CANNOT_TELL;
                }
                if (loader_fd >= 0) {
                    ssize_t got = read_at(loader_fd, loader_head, HEAD_SIZE, 0);
                    error =
                        got < (layout == 2 ? 64 : 52) ? EIO
                        : memcmp(loader_head,
                                 "\x7f"
                                 "ELF",
                                 4) != 0
                            ? ELIBBAD
                            : elf_error(loader_fd, loader_head, ELIBBAD, layout, next, sizeof next);
                    close(loader_fd);
                }
                if (error != 0)
                    check_format(why, capacity, "%s needs the loader %s, which %s", who, loader,
                                 error == ENOENT || error == ETXTBSY ? refusal(error)
                                 : error == EACCES                   ? "may not be run"
                                                                     : "this system cannot use");
            }
        } else if (script) {
            error = script_interpreter((char*)head, name, sizeof name) ? 0 : ENOEXEC;
            if (error == 0)
                error =
                    resolve(name, directory, next, sizeof next) ? open_error(next) : ENAMETOOLONG;
            if (error == ENOEXEC)
                check_format(why, capacity, "the first line of %s names no interpreter", who);
            else if (error != 0)
                check_format(why, capacity, "the interpreter %s named on the first line of %s %s",
                             name[0] != '\0' ? name : "\"\" (the current folder)", who,
                             refusal(error));
        } else {
            error = ENOEXEC;
            if (files > 1)
                check_format(why, capacity, "%s is not a program this system can run", who);
        }
        close(fd);
        if (error != 0 || !script) return error;
        if (files == EXEC_FILES_MAX) {
            check_format(why, capacity,
                         "%s names an interpreter that is itself a script, more levels deep than "
                         "the system follows",
                         who);
            return ELOOP;
        }
        memcpy(path, next, sizeof path);
    }
}

// The start result the launcher gives for `error` from starting `program`
// (platform/posix/actions.cpp), and why; `detail` tells a failure that is
// not the program's own.
unsigned result_of(int error, const char* program, const char* detail, char* why,
                   unsigned capacity) {
    struct stat info;
    bool exists = stat(program, &info) == 0;
    unsigned result = error == 0                          ? START_OK
                      : error == ENOENT && exists         ? 11
                      : error == ENOENT                   ? (directory_part_exists(program) ? 2 : 3)
                      : error == ENOTDIR                  ? 3
                      : error == EACCES || error == EPERM ? 5
                      : error == ENOEXEC                  ? 11
                      : error == ENOMEM                   ? 8
                      : error == CANNOT_TELL              ? CHECK_START_UNKNOWN
                                                          : 0;
    if (error != 0 && detail[0] != '\0')
        check_format(why, capacity, "%s", detail);
    else if (result == START_OK)
        check_format(why, capacity, "%s would be started", program);
    else if (result == 2)
        check_format(why, capacity, "the program %s does not exist", program);
    else if (result == 3)
        check_format(why, capacity, "the folder of %s does not exist", program);
    else if (result == 5)
        check_format(why, capacity, "%s may not be run (not a program file, or no permission)",
                     program);
    else if (result == 11)
        check_format(why, capacity, "%s is not a program this system can run", program);
    else if (error == ETXTBSY)
        check_format(why, capacity, "%s %s", program, refusal(error));
    else
        check_format(why, capacity, "%s cannot be started: %s", program, strerror(error));
    return result;
}

struct Candidate {
    const char* directory; // where relative interpreters and loaders are found
    char detail[CHECK_TEXT_CAP];
};

// As the launcher's search: a program that is there although its
// interpreter or loader is not ends the search, as one that cannot be run.
int predict_candidate(const char* candidate, void* context) {
    Candidate* c = (Candidate*)context;
    int error = start_error(candidate, c->directory, c->detail, sizeof c->detail);
    struct stat info;
    return error == ENOENT && stat(candidate, &info) == 0 ? ENOEXEC : error;
}

unsigned predict_from_search_path(const char* name, const char* directory, char* why,
                                  unsigned capacity) {
    char candidate[4096];
    static Candidate found;
    found.directory = directory;
    int error = search_path(name, predict_candidate, &found, candidate);
    if (error != EACCES && error != ENOENT)
        return result_of(error, candidate, found.detail, why, capacity);
    check_format(why, capacity, "no absolute folder of PATH holds a program %s%s", name,
                 error == EACCES ? " that may be run" : "");
    return error == EACCES ? 5 : 2;
}

// A new private folder of the checker's own under $TMPDIR (else /tmp).
bool make_scratch_folder(char* folder, unsigned capacity) {
    const char* tmp = getenv("TMPDIR");
    return FITS(folder, capacity, "%s/talvin-check.XXXXXX",
                tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") &&
           mkdtemp(folder) != nullptr;
}

// The result of starting `program`, as check_predict_start.
unsigned predict_program(const char* program, const char* directory, char* why, unsigned capacity) {
    if (strchr(program, '/') == nullptr)
        return predict_from_search_path(program, directory, why, capacity);
    char path[8192];
    bool fits = program[0] == '/' || directory == nullptr
                    ? FITS(path, sizeof path, "%s", program)
                    : FITS(path, sizeof path, "%s/%s", directory, program);
    static char detail[CHECK_TEXT_CAP];
    return fits ? result_of(start_error(path, directory, detail, sizeof detail), path, detail, why,
                            capacity)
                : result_of(ENAMETOOLONG, program, "", why, capacity);
}

} // namespace

// The program is the command line's first word, split by the same rules as
// the launcher's start.
unsigned check_predict_start(const char* command_line, const char* directory, char* why,
                             unsigned capacity) {
    size_t length = strlen(command_line);
    char* text = (char*)malloc(length + 1);
    char** args = (char**)malloc(sizeof(char*) * (length / 2 + 2));
    unsigned result = 8;
    check_format(why, capacity, "out of memory");
    int count =
        text != nullptr && args != nullptr
            ? split_command_line(command_line, text, length + 1, args, (int)(length / 2 + 1))
            : -1;
    if (count == 0 || (count > 0 && args[0][0] == '\0')) {
        check_format(why, capacity, "the command line names no program");
        result = 2;
    } else if (count > 0) {
        result = predict_program(args[0], directory, why, capacity);
    }
    free(args);
    free(text);
    return result;
}

int check_why_folder_unusable(const char* path, char* why, unsigned capacity) {
    struct stat info;
    if (stat(path, &info) != 0)
        check_format(why, capacity, "%s",
                     errno == ENOENT    ? "there is no such folder"
                     : errno == ENOTDIR ? "a part of its path is not a folder"
                                        : strerror(errno));
    else if (!S_ISDIR(info.st_mode))
        check_format(why, capacity, "it is not a folder");
    else if (access(path, X_OK) != 0)
        check_format(why, capacity, "it may not be entered (no search permission)");
    else
        why[0] = '\0';
    return why[0] != '\0' ? 1 : 0;
}

void check_why_unopened(const char* path, int settings, char* why, unsigned capacity) {
    struct stat info;
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        check_format(why, capacity, "%s",
                     errno == ENOENT ? "there is no such file" : strerror(errno));
        return;
    }
    bool stated = fstat(fd, &info) == 0;
    close(fd);
    char link[PATH_MAX];
    if (!stated || !S_ISREG(info.st_mode))
        check_format(why, capacity, "it is not a regular file");
    else if (!settings && led_by_anothers_link(path, info, link, sizeof link))
        check_format(why, capacity,
                     "it is reached through %s, a link of another account's, and is not that "
                     "account's: run as root, no file is read that such a link leads to",
                     link);
    else if (!settings)
        check_format(why, capacity, "it cannot be read");
    else {
        // The launcher's own refusal, without the name it starts with.
        platform_file file = platform_open_settings_file(path, why, capacity);
        size_t length = strlen(path);
        if (file != PLATFORM_NO_FILE) {
            platform_close(file);
            check_format(why, capacity, "it cannot be read");
        } else if (strncmp(why, path, length) == 0 && strncmp(why + length, ": ", 2) == 0) {
            memmove(why, why + length + 2, strlen(why + length + 2) + 1);
        }
    }
}

const char* check_why_not_appended(const char* path, platform_file read) {
    const char* why;
    int fd = open_for_append(path, read, &why);
    if (fd >= 0) {
        close(fd);
        why = opened_elsewhere(read) ? "another program has it open, which could read the password"
                                     : nullptr;
    }
    close((int)read);
    return why;
}

int check_readable_by_others(const char* path) {
    struct stat info;
    char member[256];
    if (stat(path, &info) != 0) return 0;
    return (info.st_mode & S_IROTH) != 0 ||
           ((info.st_mode & S_IRGRP) != 0 && other_member(info.st_gid, member, sizeof member));
}

unsigned check_mode_to_narrow(platform_file read) {
    struct stat info;
    return fstat((int)read, &info) == 0 && (info.st_mode & 077) != 0 ? info.st_mode & 07777 : 0;
}

// The arguments are the bytes the launcher is given too.
const char* check_argument(int, const char* given, char*, unsigned, char* note, unsigned) {
    note[0] = '\0';
    return given;
}

int check_make_settings_folder(const char* path, char* dir, unsigned capacity) {
    char target[4096];
    char current[2048];
    if (path[0] != '/' && getcwd(current, sizeof current) == nullptr) return 0;
    if (!(path[0] == '/' ? FITS(target, sizeof target, "%s", path)
                         : FITS(target, sizeof target, "%s/%s", current, path)))
        return 0;
    char folder[2048];
    if (!make_scratch_folder(folder, sizeof folder)) return 0;
    char link[2100];
    snprintf(link, sizeof link, "%s/talvin.ini", folder);
    if (symlink(target, link) != 0 || !FITS(dir, capacity, "%s/", folder)) {
        unlink(link);
        rmdir(folder);
        return 0;
    }
    return 1;
}

void check_remove_settings_folder(const char* dir) {
    char link[4200];
    if (FITS(link, sizeof link, "%stalvin.ini", dir)) unlink(link);
    rmdir(dir); // its trailing slash names the folder all the same
}

int check_why_link_folder_refused(const char* folder, char* why, unsigned capacity) {
    char parent[4096];
    const char* slash = strrchr(folder, '/');
    size_t length = slash == nullptr || slash == folder ? 1 : (size_t)(slash - folder);
    const char* problem = "the folder that holds it cannot be opened";
    int parent_fd = -1;
    if (length < sizeof parent) {
        memcpy(parent, folder, length);
        parent[length] = '\0';
        parent_fd = open(parent, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (parent_fd >= 0) {
        problem = link_holder_problem(parent_fd);
        close(parent_fd);
    } else if (errno == ENOENT) {
        problem = nullptr; // the cache folder would be made
    }
    if (problem == nullptr) {
        int fd = open_link_folder(folder);
        if (fd >= 0)
            problem = link_folder_problem(fd);
        else if (errno != ENOENT)
            problem = errno == ENOTDIR || errno == ELOOP ? "it is a symbolic link or no folder"
                                                         : "it cannot be opened";
        if (fd >= 0) close(fd);
    }
    check_format(why, capacity, "%s", problem != nullptr ? problem : "");
    return problem != nullptr ? 1 : 0;
}

int check_write_scratch_file(const void* data, unsigned size, char* path, unsigned capacity) {
    char folder[2048];
    if (!make_scratch_folder(folder, sizeof folder)) return 0;
    if (!FITS(path, capacity, "%s/link.tvl", folder)) {
        rmdir(folder);
        return 0;
    }
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool written = fd >= 0 && write_all(fd, data, size);
    if (fd >= 0) close(fd);
    if (!written) check_remove_scratch_file(path);
    return written ? 1 : 0;
}

void check_remove_scratch_file(const char* path) {
    unlink(path);
    char folder[4096];
    if (!FITS(folder, sizeof folder, "%s", path)) return;
    char* slash = strrchr(folder, '/');
    if (slash == nullptr) return;
    *slash = '\0';
    rmdir(folder);
}
