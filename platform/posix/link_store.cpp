// Writing the launch file of a link on POSIX: a new file of the launcher's
// own (mode 0600) in its private folder (mode 0700), never through a
// symbolic link, and the files it wrote there over a day ago removed.
#include "platform/platform.h"

#include "launch/launch_link.h"

#include "platform/posix/file.h"
#include "platform/posix/link_folder.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

const time_t A_DAY = 24 * 60 * 60;

// Only names the launcher gives, only regular files of this user's, and
// only those last written more than a day ago: a product may still be
// reading a younger one.
void remove_old_files(int folder_fd) {
    int listing_fd = dup(folder_fd);
    DIR* listing = listing_fd < 0 ? nullptr : fdopendir(listing_fd);
    if (listing == nullptr) {
        if (listing_fd >= 0) close(listing_fd);
        return;
    }
    time_t now = time(nullptr);
    while (struct dirent* entry = readdir(listing)) {
        struct stat info;
        if (!is_link_file_name(entry->d_name) ||
            fstatat(folder_fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISREG(info.st_mode) && info.st_uid == geteuid() && info.st_mtime < now - A_DAY)
            unlinkat(folder_fd, entry->d_name, 0);
    }
    closedir(listing);
}

// A new file in the folder, named from the time and the process (another
// try with the next name if one is taken); -1 when none can be made.
int create_file(int folder_fd, char name[LINK_FILE_NAME_LENGTH + 1]) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    unsigned long long stamp =
        (unsigned long long)now.tv_sec * 1000000000ull + (unsigned long long)now.tv_nsec;
    for (unsigned attempt = 0; attempt < 64; attempt++) {
        snprintf(name, LINK_FILE_NAME_LENGTH + 1, "link-%016llx%08x.tvl", stamp + attempt,
                 (unsigned)getpid());
        int fd =
            openat(folder_fd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// The folder, made when missing and checked on the opened folder itself;
// -1 when it cannot be had or may not be used.
int open_private_folder(const char* folder) {
    const char* slash = strrchr(folder, '/');
    char parent[4096];
    size_t parent_length = slash == folder ? 1 : (size_t)(slash - folder);
    if (parent_length >= sizeof parent) return -1;
    memcpy(parent, folder, parent_length);
    parent[parent_length] = '\0';
    mkdir(parent, 0700); // the cache folder may not exist yet
    int parent_fd = open(parent, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent_fd < 0) return -1;
    if (link_holder_problem(parent_fd) != nullptr) {
        close(parent_fd);
        return -1;
    }
    mkdirat(parent_fd, slash + 1, 0700);
    int fd = openat(parent_fd, slash + 1, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info;
    bool usable = fd >= 0 && link_folder_problem(fd) == nullptr && fstat(fd, &info) == 0 &&
                  ((info.st_mode & 07777) == 0700 || fchmod(fd, 0700) == 0);
    close(parent_fd);
    if (!usable && fd >= 0) close(fd);
    return usable ? fd : -1;
}

} // namespace

unsigned platform_store_link_file(const char* folder, const void* data, unsigned size, char* dest,
                                  unsigned capacity) {
    size_t folder_length = strlen(folder);
    size_t length = folder_length + 1 + LINK_FILE_NAME_LENGTH;
    if (length + 1 > capacity) return (unsigned)(length + 1);
    if (folder[0] != '/' || folder_length < 2 || folder[folder_length - 1] == '/') return 0;
    int folder_fd = open_private_folder(folder);
    if (folder_fd < 0) return 0;
    remove_old_files(folder_fd);
    char name[LINK_FILE_NAME_LENGTH + 1];
    int fd = create_file(folder_fd, name);
    bool written = fd >= 0 && fchmod(fd, 0600) == 0 && write_all(fd, data, size);
    if (fd >= 0 && close(fd) != 0) written = false;
    if (fd >= 0 && !written) unlinkat(folder_fd, name, 0); // never left torn
    close(folder_fd);
    if (!written) return 0;
    memcpy(dest, folder, folder_length);
    dest[folder_length] = '/';
    memcpy(dest + folder_length + 1, name, LINK_FILE_NAME_LENGTH + 1);
    return (unsigned)length;
}
