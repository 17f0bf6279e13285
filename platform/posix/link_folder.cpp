// The folder of the launch files of links on POSIX: $XDG_RUNTIME_DIR/talvin
// (a per-user folder that ends with the session), else the user's cache
// folder. It only names and judges the folder; link_store.cpp writes there.
#include "platform/platform.h"

#include "platform/posix/link_folder.h"

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A relative folder would be taken from the current one, which may be the
// browser's download folder, so only absolute ones count.
const char* absolute_variable(const char* name) {
    const char* value = getenv(name);
    return value != nullptr && value[0] == '/' ? value : nullptr;
}

unsigned joined(char* dest, unsigned capacity, const char* base, const char* rest) {
    size_t base_length = strlen(base), rest_length = strlen(rest);
    size_t length = base_length + rest_length;
    if (length + 1 > capacity) return (unsigned)(length + 1);
    memcpy(dest, base, base_length);
    memcpy(dest + base_length, rest, rest_length + 1);
    return (unsigned)length;
}

} // namespace

unsigned platform_link_folder(char* dest, unsigned capacity) {
    if (const char* runtime = absolute_variable("XDG_RUNTIME_DIR"))
        return joined(dest, capacity, runtime, "/talvin");
    if (const char* cache = absolute_variable("XDG_CACHE_HOME"))
        return joined(dest, capacity, cache, "/talvin");
    if (const char* home = absolute_variable("HOME"))
        return joined(dest, capacity, home, "/.cache/talvin");
    return 0;
}

int open_link_folder(const char* folder) {
    return open(folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

const char* link_folder_problem(int fd) {
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode)) return "it is not a folder";
    if (info.st_uid != geteuid()) return "another user owns it";
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "other users may write into it";
    return nullptr;
}

const char* link_holder_problem(int fd) {
    struct stat info;
    if (fstat(fd, &info) != 0) return "the folder that holds it cannot be read";
    if (info.st_uid != geteuid() && info.st_uid != 0)
        return "another user owns the folder that holds it";
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (info.st_mode & S_ISVTX) == 0)
        return "other users may write into the folder that holds it";
    return nullptr;
}
