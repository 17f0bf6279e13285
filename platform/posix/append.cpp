// Appending to files on POSIX: the one file action, apart from reading so
// that a face which only records actions can still read files for real.
#include "platform/platform.h"

#include "platform/posix/file.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

void append_to(const char* path, platform_file read, const void* data, unsigned size) {
    // Whoever opened the file while it was readable by others keeps reading
    // it after the narrowing: with another descriptor open, nothing changes.
    if (opened_elsewhere(read)) return;
    const char* why;
    int fd = open_for_append(path, read, &why);
    if (fd < 0) return;
    // The block holds a password: a browser saves with the user's umask, so
    // the group and others lose what they may do with the file before it is
    // written, or it is not written. The product runs as this user.
    struct stat info;
    bool mine_alone =
        fstat(fd, &info) == 0 &&
        ((info.st_mode & 077) == 0 || (fchmod(fd, info.st_mode & 07700) == 0 &&
                                       fstat(fd, &info) == 0 && (info.st_mode & 077) == 0));
    close(fd);
    // Asked again with only the read descriptor open: narrowed, the file can
    // no longer be opened by another account.
    if (!mine_alone || opened_elsewhere(read)) return;
    fd = open_for_append(path, read, &why);
    if (fd < 0) return;
    // All or nothing: a block cut short (a full disk, a size limit) is cut
    // back off, so that no reader takes half a block for the user's.
    if (fstat(fd, &info) == 0 && !write_all(fd, data, size) && ftruncate(fd, info.st_size) != 0) {
        // Nothing more can be done: the launch goes on, as after any failed append.
    }
    close(fd);
}

} // namespace

void platform_append(const char* path, platform_file read, const void* data, unsigned size) {
    append_to(path, read, data, size);
    close((int)read);
}
