// Rewriting the settings file on POSIX: flock on the file itself, a new file
// made beside it with mkstemp, fsync, then rename (or link, which never
// replaces, for a file made from nothing) and fsync of the folder.
#include "platform/settings_write.h"

#include "platform/posix/file.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#ifndef LAUNCHER_SETTINGS_DIR
#define LAUNCHER_SETTINGS_DIR "/etc"
#endif

namespace {

int last_error = 0;

bool fail() {
    last_error = errno;
    return false;
}

// The folder part of `path` ("." when it has none) into `dest`.
bool folder_of(const char* path, char* dest, size_t capacity) {
    const char* slash = strrchr(path, '/');
    size_t length = slash == nullptr ? 0 : slash == path ? 1 : (size_t)(slash - path);
    if (length + 2 > capacity) return false;
    if (length == 0) {
        memcpy(dest, ".", 2);
    } else {
        memcpy(dest, path, length);
        dest[length] = '\0';
    }
    return true;
}

// A rename lasts only once the folder that records it has reached the disk.
// Makes the rename last; a failure is not the rename's.
void flush_folder(const char* path) {
    char folder[PATH_MAX];
    int fd = folder_of(path, folder, sizeof folder)
                 ? open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                 : -1;
    if (fd >= 0 && fsync(fd) == 0) {
    }
    if (fd >= 0) close(fd);
}

} // namespace

SettingsPathKind platform_settings_path(const char* path, char* dest, unsigned capacity) {
    struct stat info;
    if (lstat(path, &info) != 0) {
        if (strlen(path) + 1 > capacity) return SETTINGS_PATH_TOO_LONG;
        strcpy(dest, path);
        return SETTINGS_PATH_ABSENT;
    }
    if (!S_ISLNK(info.st_mode)) {
        if (strlen(path) + 1 > capacity) return SETTINGS_PATH_TOO_LONG;
        strcpy(dest, path);
        return SETTINGS_PATH_FILE;
    }
    char real[PATH_MAX];
    if (realpath(path, real) == nullptr) return SETTINGS_PATH_BROKEN_LINK;
    if (strlen(real) + 1 > capacity) return SETTINGS_PATH_TOO_LONG;
    strcpy(dest, real);
    return SETTINGS_PATH_FILE;
}

platform_file platform_lock_settings(const char* path) {
    for (;;) {
        int fd = open_regular(path, O_RDONLY);
        if (fd < 0) {
            fail();
            return PLATFORM_NO_FILE;
        }
        int locked;
        while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        // Open again while the old file was replaced under the waiting lock.
        if (locked == 0 && platform_same_file(fd, path)) {
            // The descriptor is used only for reading: nonblocking no more.
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            return (platform_file)fd;
        }
        if (locked != 0) fail();
        close(fd);
        if (locked != 0) return PLATFORM_NO_FILE;
    }
}

void platform_unlock_settings(platform_file held) {
    close((int)held); // the lock goes with the last descriptor
}

int platform_same_file(platform_file held, const char* path) {
    struct stat a, b;
    return fstat((int)held, &a) == 0 && stat(path, &b) == 0 && same_file(a, b);
}

platform_file platform_create_beside(const char* path, char* temp, unsigned capacity) {
    char folder[PATH_MAX];
    const char* slash = strrchr(path, '/');
    const char* name = slash != nullptr ? slash + 1 : path;
    if (!folder_of(path, folder, sizeof folder) ||
        snprintf(temp, capacity, "%s/.%s.XXXXXX", folder, name) >= (int)capacity) {
        errno = ENAMETOOLONG;
        fail();
        return PLATFORM_NO_FILE;
    }
    int fd = mkostemp(temp, O_CLOEXEC); // mode 0600
    if (fd < 0) fail();
    return fd < 0 ? PLATFORM_NO_FILE : (platform_file)fd;
}

int platform_write(platform_file file, const void* data, size_t size) {
    return write_all((int)file, data, size) || fail();
}

int platform_flush(platform_file file) {
    return fsync((int)file) == 0 || fail();
}

int platform_set_access(platform_file file, platform_file model, unsigned mode, int owner_only,
                        unsigned* narrowed) {
    struct stat info;
    *narrowed = 0;
    if (model == PLATFORM_NO_FILE) return fchmod((int)file, (mode_t)mode) == 0 || fail();
    if (fstat((int)model, &info) != 0) return fail();
    // The owner first: a change of owner may clear the set-id bits.
    if ((info.st_uid != geteuid() || info.st_gid != getegid()) &&
        fchown((int)file, info.st_uid, info.st_gid) != 0)
        return fail();
    mode_t kept = info.st_mode & 07777;
    if (owner_only && (kept & 077) != 0) {
        *narrowed = kept;
        kept &= ~(mode_t)077;
    }
    return fchmod((int)file, kept) == 0 || fail();
}

int platform_narrow_to_owner(platform_file held, unsigned* narrowed) {
    struct stat info;
    *narrowed = 0;
    if (fstat((int)held, &info) != 0) return fail();
    if ((info.st_mode & 077) == 0) return 1;
    if (fchmod((int)held, info.st_mode & 07700) != 0) return fail();
    *narrowed = info.st_mode & 07777;
    return 1;
}

int platform_rename_into_place(const char* temp, const char* path, platform_file* held) {
    if (*held != PLATFORM_NO_FILE) {
        if (rename(temp, path) != 0) return fail();
    } else {
        // link never replaces: a file another writer made first stays.
        if (link(temp, path) != 0) return fail();
        unlink(temp);
    }
    // The new file is in place whole, the rename being one step: a folder
    // that cannot be flushed leaves it as it is, not as if nothing changed.
    flush_folder(path);
    return 1;
}

void platform_remove_file(const char* path) {
    unlink(path);
}

int platform_is_system_settings_file(const char* path) {
    // The tests' hook, as the launcher takes it: a system folder of their own.
    const char* hook = getenv("TALVIN_TEST_SYSTEM_FOLDER");
    const char* folder = hook != nullptr && hook[0] == '/' ? hook : LAUNCHER_SETTINGS_DIR;
    char system[PATH_MAX], given[PATH_MAX];
    if (snprintf(system, sizeof system, "%s/talvin.ini", folder) >= (int)sizeof system) return 0;
    struct stat a, b;
    if (stat(path, &a) == 0)
        return stat(system, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    const char* slash = strrchr(path, '/');
    const char* name = slash != nullptr ? slash + 1 : path;
    return strcmp(name, "talvin.ini") == 0 && folder_of(path, given, sizeof given) &&
           stat(given, &a) == 0 && stat(folder, &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

namespace {

// The name of the account `uid`, or its number.
const char* account_name(uid_t uid, char* dest, size_t capacity) {
    const struct passwd* entry = getpwuid(uid);
    if (entry != nullptr) snprintf(dest, capacity, "%s", entry->pw_name);
    if (entry == nullptr) snprintf(dest, capacity, "uid %lu", (unsigned long)uid);
    return dest;
}

// 0 and the reason when the existing `path` belongs neither to `user` nor
// to `also`.
int check_owner(const char* path, const char* what, uid_t user, uid_t also, const char* where,
                char* why, unsigned capacity) {
    struct stat info;
    if (stat(path, &info) != 0 || info.st_uid == user || info.st_uid == also) return 1;
    char owner[64], name[64], real[PATH_MAX];
    bool linked = realpath(path, real) != nullptr && strcmp(real, path) != 0;
    snprintf(why, capacity,
             "%s %s%s belongs to %s, not to %s, who owns %s: run as root, a file reached "
             "through another account's folder or link is written only as that account, where "
             "it owns the file and its folder",
             what, linked ? real : path, linked ? ", where its name leads," : "",
             account_name(info.st_uid, owner, sizeof owner), account_name(user, name, sizeof name),
             where);
    return 0;
}

// An account, and the group of what it owns.
struct Owner {
    uid_t user;
    gid_t group;
};

// One entry on the way to the file, not followed if a link: its owner, when
// not root, into `*owner`. False, with the reason, when it is a folder of
// root's in which other accounts may put entries of their own (writable by
// others, or by a group but root's, without the sticky bit); with `why`
// null, such a folder is left to the rule of who else could change a file.
bool step_on_way(const char* entry, const char* file, Owner* owner, char* why, unsigned capacity) {
    struct stat info;
    if (lstat(entry, &info) != 0) return true; // not made yet
    if (info.st_uid != 0) *owner = {info.st_uid, info.st_gid};
    bool others_write =
        (info.st_mode & S_IWOTH) != 0 || ((info.st_mode & S_IWGRP) != 0 && info.st_gid != 0);
    if (why == nullptr || info.st_uid != 0 || !S_ISDIR(info.st_mode) || !others_write ||
        (info.st_mode & S_ISVTX) != 0)
        return true;
    snprintf(why, capacity,
             "the folder %s, on the way to %s, lets other accounts put entries of their own in "
             "it: run as root, no file is written where another account could have put a "
             "link",
             entry, file);
    return false;
}

// For a home of root's, or a file outside the home: the first account but root that owns an entry
// on the way to the file `full` (each entry of the absolute `path`, from the top, each as
// `step_on_way` takes it; `through_links`: and of the real names they lead to), which could have
// put a link there; none when every entry is root's.
bool owner_on_way(const char* path, bool through_links, const char* full, Owner* owner, char* why,
                  unsigned capacity) {
    char entry[PATH_MAX], real[PATH_MAX];
    size_t length = strlen(path);
    if (length >= sizeof entry) return true;
    for (size_t end = 1; end <= length && owner->user == 0; end++) {
        if (path[end] != '/' && path[end] != '\0') continue;
        memcpy(entry, path, end);
        entry[end] = '\0';
        if (!step_on_way(entry, full, owner, why, capacity)) return false;
        if (through_links && owner->user == 0 && realpath(entry, real) != nullptr &&
            strcmp(real, entry) != 0 && !owner_on_way(real, false, full, owner, why, capacity))
            return false;
    }
    return true;
}

} // namespace

int platform_act_as_home_owner(const char* path, int own, char* why, unsigned capacity) {
    if (geteuid() != 0) return 1;
    // Without a home, every file is judged by the way to it.
    const char* home = getenv("HOME");
    struct stat info = {};
    char real_home[PATH_MAX], full[PATH_MAX], current[PATH_MAX];
    if (home == nullptr || home[0] != '/' || stat(home, &info) != 0 ||
        realpath(home, real_home) == nullptr)
        home = strcpy(real_home, "/"), info.st_uid = 0, own = 0;
    size_t home_length = strlen(home);
    while (home_length > 1 && home[home_length - 1] == '/')
        home_length--;
    if ((path[0] != '/' && getcwd(current, sizeof current) == nullptr) ||
        snprintf(full, sizeof full, "%s%s%s", path[0] == '/' ? "" : current,
                 path[0] == '/' ? "" : "/", path) >= (int)sizeof full) {
        snprintf(why, capacity, "cannot tell whether it lies in %s: %s", home,
                 path[0] == '/' ? strerror(ENAMETOOLONG) : "no current folder, or too long");
        return 0;
    }
    bool inside =
        home_length > 1 && strncmp(full, home, home_length) == 0 && full[home_length] == '/';
    char where[PATH_MAX + 16] = "an entry on the way to it";
    if (own || inside) snprintf(where, sizeof where, "the home %s", home);
    // The user is the home's owner; for a home of root's, or a file outside
    // the home, the owner of whatever on the way to it another account could
    // change (a link of theirs outside the home leads root as far as inside).
    Owner owner = {own || inside ? info.st_uid : 0, info.st_gid};
    bool root_home = owner.user == 0;
    if (root_home &&
        !owner_on_way(full, true, full, &owner, own || inside ? why : nullptr, capacity))
        return 0;
    if (owner.user == 0) return 1; // all root's: nobody else could have put a link there
    // As the user, the system itself refuses what the user could not write,
    // also where a link is put in place after the checks below.
    uid_t user = owner.user;
    const struct passwd* entry = getpwuid(user);
    gid_t group = entry != nullptr ? entry->pw_gid : owner.group;
    bool acting =
        (entry != nullptr ? initgroups(entry->pw_name, group) : setgroups(1, &group)) == 0 &&
        setegid(group) == 0 && seteuid(user) == 0;
    if (!acting) {
        snprintf(why, capacity, "cannot act as the owner of %s: %s", where, strerror(errno));
        return 0;
    }
    // The file the name leads to, and the real folders above it up to the
    // home: the user's (in a home of root's, root's above the one that
    // holds the file may be).
    if (!check_owner(full, "the file", user, user, where, why, capacity)) return 0;
    char folder[PATH_MAX], real[PATH_MAX];
    if (!folder_of(full, folder, sizeof folder)) return 1;
    // A folder not made yet: the nearest one that is there.
    while (realpath(folder, real) == nullptr && strcmp(folder, "/") != 0) {
        memcpy(real, folder, sizeof real);
        if (!folder_of(real, folder, sizeof folder)) return 1;
    }
    // The one that holds the file, and those above it inside the home.
    size_t real_home_length = strlen(real_home);
    for (bool first = true;; first = false) {
        bool in_home = strncmp(real, real_home, real_home_length) == 0 &&
                       (real[real_home_length] == '/' || real[real_home_length] == '\0');
        uid_t also = root_home && !first ? 0 : user;
        if ((first || in_home) &&
            !check_owner(real, "the folder", user, also, where, why, capacity))
            return 0;
        if (!in_home || strlen(real) <= real_home_length) return 1;
        memcpy(folder, real, sizeof folder);
        if (!folder_of(folder, real, sizeof real)) return 1;
    }
}

int platform_make_private_folder(const char* file) {
    char folder[PATH_MAX];
    if (!folder_of(file, folder, sizeof folder)) return 0;
    struct stat info;
    if (stat(folder, &info) == 0) return S_ISDIR(info.st_mode);
    // Each missing folder from the top down.
    for (char* p = folder + 1;; p++) {
        if (*p != '/' && *p != '\0') continue;
        char kept = *p;
        *p = '\0';
        if (mkdir(folder, 0700) != 0 && errno != EEXIST) return fail();
        *p = kept;
        if (kept == '\0') return 1;
    }
}

int platform_is_folder(const char* path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

long platform_read_secret(const char* prompt, char* dest, unsigned capacity) {
    struct termios saved;
    bool terminal = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        struct termios quiet = saved;
        quiet.c_lflag &= (tcflag_t) ~(ECHO | ECHONL);
        write_all(STDERR_FILENO, prompt, strlen(prompt));
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    // One byte at a time: nothing after the line is taken from the input.
    size_t length = 0;
    bool ended = false, fits = true;
    char c;
    ssize_t n;
    while ((n = read(STDIN_FILENO, &c, 1)) != 0) {
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (c == '\n') {
            ended = true;
            break;
        }
        if (length + 1 < capacity)
            dest[length++] = c;
        else
            fits = false;
    }
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        write_all(STDERR_FILENO, "\n", 1);
    }
    if (length > 0 && dest[length - 1] == '\r') length--;
    dest[length] = '\0';
    if (!fits || (length == 0 && !ended)) return -1;
    return (long)length;
}

const char* platform_text_line_end(void) {
    return "\n";
}

const char* platform_write_error(void) {
    return strerror(last_error);
}
