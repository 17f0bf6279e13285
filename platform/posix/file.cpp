// Reading files on POSIX: regular files only, opened without ever blocking.
#include "platform/platform.h"

#include "platform/posix/file.h"

#include <errno.h>
#include <limits.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

int found_nothing_to_read = 1;

// Opens without blocking (a FIFO would wait for a writer) and checks the type
// on the open descriptor, so the name cannot be swapped in between.
int open_regular(const char* path, int flags) {
    int fd = open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    found_nothing_to_read = fd < 0 && (errno == ENOENT || errno == ENOTDIR ||
                                       errno == ENAMETOOLONG || errno == ELOOP || errno == ENXIO);
    if (fd < 0) return -1;
    struct stat info;
    bool looked = fstat(fd, &info) == 0;
    if (!looked || !S_ISREG(info.st_mode)) {
        found_nothing_to_read = looked; // not a file to read
        close(fd);
        return -1;
    }
    return fd;
}

int platform_open_found_nothing(void) {
    return found_nothing_to_read;
}

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Another account that may change the folder can remove the file once read,
// or put a link to one of this user's files (~/.bashrc) in its place: the
// block, password and all, goes to the file that was read or nowhere. That
// file is held open, so no new file can have its device and inode.
int open_for_append(const char* path, platform_file read, const char** why) {
    const int flags = O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    struct stat was, info;
    if (fstat((int)read, &was) != 0) {
        *why = "it cannot be looked at";
        return -1;
    }
    int fd = open(path, flags | O_NOFOLLOW);
    if (fd < 0 && errno == ELOOP) {
        // A link is followed only to the very file that was read, looked at
        // before it is opened, so that a link to a device is not opened (one
        // swapped in between is opened, and refused below, unwritten).
        if (stat(path, &info) != 0 || !same_file(info, was)) {
            *why = "a link to another file is in its place";
            return -1;
        }
        fd = open(path, flags);
    }
    if (fd < 0) {
        *why = errno == ENOENT ? "it is gone" : "it cannot be opened for writing";
        return -1;
    }
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !same_file(info, was))
        *why = "another file is in its place";
    else if (info.st_uid != geteuid())
        *why = "it is another account's, who would read the password";
    else
        return fd;
    close(fd);
    return -1;
}

bool opened_elsewhere(platform_file read) {
    // A lease broken in between is signalled: it must not end the program.
    struct sigaction ignore = {}, was;
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGIO, &ignore, &was);
    bool elsewhere;
    if (fcntl((int)read, F_SETLEASE, F_WRLCK) != 0)
        elsewhere = errno == EAGAIN;
    else // a lease not given back is broken by the append's own opening: none then
        elsewhere = fcntl((int)read, F_SETLEASE, F_UNLCK) != 0;
    sigaction(SIGIO, &was, nullptr);
    return elsewhere;
}

bool directory_part_exists(const char* program) {
    const char* slash = strrchr(program, '/');
    if (slash == nullptr || slash == program) return true;
    char directory[4096];
    size_t length = (size_t)(slash - program);
    if (length >= sizeof directory) return false;
    memcpy(directory, program, length);
    directory[length] = '\0';
    struct stat info;
    return stat(directory, &info) == 0 && S_ISDIR(info.st_mode);
}

int search_path(const char* name, int (*attempt)(const char* candidate, void* context),
                void* context, char found[4096]) {
    const char* search = getenv("PATH");
    if (search == nullptr || search[0] == '\0') search = "/usr/local/bin:/usr/bin:/bin";
    bool denied = false;
    size_t name_length = strlen(name);
    for (const char* entry = search; *entry != '\0';) {
        const char* end = strchr(entry, ':');
        if (end == nullptr) end = entry + strlen(entry);
        size_t length = (size_t)(end - entry);
        if (entry[0] == '/' && length + 1 + name_length < 4096) {
            memcpy(found, entry, length);
            found[length] = '/';
            memcpy(found + length + 1, name, name_length + 1);
            int error = attempt(found, context);
            if (error == EACCES)
                denied = true;
            else if (error != ENOENT && error != ENOTDIR)
                return error;
        }
        entry = *end == ':' ? end + 1 : end;
    }
    return denied ? EACCES : ENOENT;
}

bool write_all(int fd, const void* data, size_t size) {
    struct sigaction ignore = {}, previous_pipe, previous_size;
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous_pipe);
    sigaction(SIGXFSZ, &ignore, &previous_size);
    const char* p = (const char*)data;
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        p += n;
        size -= (size_t)n;
    }
    sigaction(SIGXFSZ, &previous_size, nullptr);
    sigaction(SIGPIPE, &previous_pipe, nullptr);
    return size == 0;
}

struct sigaction reap_helpers() {
    struct sigaction reap = {}, given;
    reap.sa_handler = SIG_DFL;
    sigaction(SIGCHLD, &reap, &given);
    return given;
}

void restore_sigchld(const struct sigaction& given) {
    sigaction(SIGCHLD, &given, nullptr);
}

int wait_for(pid_t pid) {
    int status;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool led_by_anothers_link(const char* path, const struct stat& file, char* link, size_t capacity,
                          int depth) {
    if (geteuid() != 0 || depth > 8) return depth > 8;
    char entry[PATH_MAX], target[PATH_MAX], next[2 * PATH_MAX];
    size_t length = strlen(path);
    if (length >= sizeof entry) return true;
    for (size_t end = 1; end <= length; end++) {
        if (path[end] != '/' && path[end] != '\0') continue;
        memcpy(entry, path, end);
        entry[end] = '\0';
        struct stat info;
        if (lstat(entry, &info) != 0 || !S_ISLNK(info.st_mode)) continue;
        if (info.st_uid != 0 && info.st_uid != file.st_uid)
            return snprintf(link, capacity, "%s", entry), true;
        // A link of root's may lead on through another's.
        ssize_t n = readlink(entry, target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = '\0';
        const char* slash = strrchr(entry, '/');
        int folder = target[0] == '/' || slash == nullptr ? 0 : (int)(slash - entry);
        snprintf(next, sizeof next, "%.*s%s%s", folder, entry, folder > 0 ? "/" : "", target);
        if (led_by_anothers_link(next, file, link, capacity, depth + 1)) return true;
    }
    return false;
}

platform_file platform_open_for_reading(const char* path) {
    int fd = open_regular(path, O_RDONLY);
    struct stat info;
    char link[PATH_MAX];
    if (fd >= 0 && (fstat(fd, &info) != 0 || led_by_anothers_link(path, info, link, sizeof link))) {
        close(fd);
        fd = -1;
    }
    return fd < 0 ? PLATFORM_NO_FILE : (platform_file)fd;
}

long platform_read(platform_file file, void* dest, unsigned capacity) {
    for (;;) {
        ssize_t n = read((int)file, dest, capacity);
        if (n < 0 && errno == EINTR) continue;
        return n < 0 ? -1 : (long)n;
    }
}

void platform_close(platform_file file) {
    close((int)file);
}
