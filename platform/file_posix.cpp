// Reading files on POSIX: regular files only, opened without ever blocking.
#include "platform/platform.h"

#include "platform/file_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Opens without blocking (a FIFO would wait for a writer) and checks the type
// on the open descriptor, so the name cannot be swapped in between.
int open_regular(const char* path, int flags) {
    int fd = open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

platform_file platform_open_for_reading(const char* path) {
    int fd = open_regular(path, O_RDONLY);
    return fd < 0 ? PLATFORM_NO_FILE : (platform_file)fd;
}

// The settings file chooses the program this user runs, so nobody else may
// be able to change it: owned by the user or root, not writable by others,
// and writable by the group only when it is the user's own primary group
// (a private group, as where umask 002 is the default). The file opened is
// checked, so a symbolic link is judged by what it points to.
platform_file platform_open_settings_file(const char* path) {
    int fd = open_regular(path, O_RDONLY);
    if (fd < 0) return PLATFORM_NO_FILE;
    struct stat info;
    bool trusted = fstat(fd, &info) == 0 && (info.st_uid == geteuid() || info.st_uid == 0) &&
                   (info.st_mode & S_IWOTH) == 0 &&
                   ((info.st_mode & S_IWGRP) == 0 || info.st_gid == getegid());
    if (!trusted) {
        close(fd);
        return PLATFORM_NO_FILE;
    }
    return (platform_file)fd;
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
