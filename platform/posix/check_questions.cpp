// The checker's questions to a POSIX system: would a start succeed, why a
// settings file was refused, who may read it. Nothing here changes a file
// the launcher uses.
#include "check/check_face.h"

#include "platform/posix/file.h"
#include "platform/posix/link_folder.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

// snprintf into a buffer of `capacity` bytes; false when the text was cut.
#define FITS(dest, capacity, ...) (snprintf(dest, capacity, __VA_ARGS__) < (int)(capacity))

namespace {

const int INTERPRETER_MISSING = -1;
const unsigned START_OK = 33;

// What starting the program file at `path` would fail with, as an errno
// value (0: it would start); INTERPRETER_MISSING when the file is there but
// the program named on its "#!" line is not.
int start_error(const char* path) {
    struct stat info;
    if (stat(path, &info) != 0) return errno;
    if (!S_ISREG(info.st_mode) || access(path, X_OK) != 0) return EACCES;
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return 0; // runnable without being readable
    char head[256];
    ssize_t n = read(fd, head, sizeof head - 1);
    close(fd);
    if (n >= 4 && memcmp(head,
                         "\x7f"
                         "ELF",
                         4) == 0)
        return 0;
    if (n < 2 || head[0] != '#' || head[1] != '!') return ENOEXEC;
    head[n] = '\0';
    char* interpreter = head + 2 + strspn(head + 2, " \t");
    interpreter[strcspn(interpreter, " \t\n")] = '\0';
    if (interpreter[0] == '\0') return ENOEXEC;
    return access(interpreter, X_OK) == 0 ? 0 : INTERPRETER_MISSING;
}

unsigned result_of(int error, const char* program, char* why, unsigned capacity) {
    switch (error) {
    case 0:
        check_format(why, capacity, "%s would be started", program);
        return START_OK;
    case INTERPRETER_MISSING:
        check_format(why, capacity, "the interpreter named on the first line of %s is missing",
                     program);
        return 11;
    case ENOENT:
        if (directory_part_exists(program)) {
            check_format(why, capacity, "the program %s does not exist", program);
            return 2;
        }
        check_format(why, capacity, "the folder of %s does not exist", program);
        return 3;
    case ENOTDIR:
        check_format(why, capacity, "the folder of %s does not exist", program);
        return 3;
    case EACCES:
    case EPERM:
        check_format(why, capacity, "%s may not be run (not a program file, or no permission)",
                     program);
        return 5;
    case ENOEXEC:
        check_format(why, capacity, "%s is not a program this system can run", program);
        return 11;
    default:
        check_format(why, capacity, "%s cannot be started: %s", program, strerror(error));
        return 0;
    }
}

int predict_candidate(const char* candidate, void*) {
    return start_error(candidate);
}

unsigned predict_from_search_path(const char* name, char* why, unsigned capacity) {
    char candidate[4096];
    int error = search_path(name, predict_candidate, nullptr, candidate);
    if (error != EACCES && error != ENOENT) return result_of(error, candidate, why, capacity);
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

} // namespace

unsigned check_predict_program(const char* program, const char* directory, char* why,
                               unsigned capacity) {
    if (strchr(program, '/') == nullptr) return predict_from_search_path(program, why, capacity);
    char path[8192];
    bool fits = program[0] == '/' || directory == nullptr
                    ? FITS(path, sizeof path, "%s", program)
                    : FITS(path, sizeof path, "%s/%s", directory, program);
    return fits ? result_of(start_error(path), path, why, capacity)
                : result_of(ENAMETOOLONG, program, why, capacity);
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
    if (!stated || !S_ISREG(info.st_mode))
        check_format(why, capacity, "it is not a regular file");
    else if (!settings)
        check_format(why, capacity, "it cannot be read");
    else if (info.st_uid != geteuid() && info.st_uid != 0)
        check_format(why, capacity, "it belongs to another user (uid %u), who could change it",
                     (unsigned)info.st_uid);
    else if ((info.st_mode & S_IWOTH) != 0)
        check_format(why, capacity, "every user may write to it (mode %04o)",
                     (unsigned)(info.st_mode & 07777));
    else if ((info.st_mode & S_IWGRP) != 0 && info.st_gid != getegid())
        check_format(why, capacity, "the members of group %u may write to it (mode %04o)",
                     (unsigned)info.st_gid, (unsigned)(info.st_mode & 07777));
    else
        check_format(why, capacity, "it cannot be read");
}

int check_readable_by_others(const char* path) {
    struct stat info;
    if (stat(path, &info) != 0) return 0;
    return (info.st_mode & S_IROTH) != 0 ||
           ((info.st_mode & S_IRGRP) != 0 && info.st_gid != getegid());
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
