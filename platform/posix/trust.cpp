// Who else could change a file on POSIX: its owner, the group and others
// write permissions, access control entries, and each folder on the way to
// it. The accounts and groups are read from /etc/passwd and /etc/group
// themselves: the launcher is linked statically, where the system's name
// services cannot be loaded, and a group these files do not list counts as
// one with other members.
#include "platform/platform.h"

#include "platform/posix/file.h"
#include "platform/posix/trust.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// Links followed on the way to a file, as the kernel's own limit.
const int LINKS_MAX = 40;
// The access control list as the kernel stores it: a version, then entries
// of a tag, permissions and an account or group number, little-endian.
const unsigned ACL_VERSION = 2, ACL_USER = 0x02, ACL_GROUP = 0x08, ACL_MASK = 0x10;
const unsigned ACL_WRITE = 2;

bool other_account(unsigned uid) {
    return uid != (unsigned)geteuid() && uid != 0;
}

// Calls `each` with the colon-separated fields of each line of `file` until
// it returns true; false when none did.
template <typename Each> bool scan_lines(const char* file, Each each) {
    FILE* in = fopen(file, "re");
    if (in == nullptr) return false;
    char* line = nullptr;
    size_t size = 0;
    bool found = false;
    while (!found && getline(&line, &size, in) > 0) {
        char* fields[4] = {line, nullptr, nullptr, nullptr};
        for (int i = 1; i < 4 && fields[i - 1] != nullptr; i++) {
            char* colon = strchr(fields[i - 1], ':');
            if (colon != nullptr) *colon = '\0';
            fields[i] = colon != nullptr ? colon + 1 : nullptr;
        }
        if (fields[3] != nullptr) {
            fields[3][strcspn(fields[3], ":\n")] = '\0';
            found = each(fields);
        }
    }
    free(line);
    fclose(in);
    return found;
}

unsigned number(const char* text) {
    return (unsigned)strtoul(text, nullptr, 10);
}

// The name of account `uid` (/etc/passwd) or group `gid` (/etc/group) into
// `dest`; false when the file lists none.
bool name_of(const char* file, unsigned id, char* dest, size_t capacity) {
    return scan_lines(file, [&](char** f) {
        return number(f[2]) == id && snprintf(dest, capacity, "%s", f[0]) >= 0;
    });
}

} // namespace

bool other_member(unsigned gid, char* member, size_t capacity) {
    char user[256] = "";
    name_of("/etc/passwd", (unsigned)geteuid(), user, sizeof user);
    bool listed = false,
         found = scan_lines("/etc/group", [&](char**f) {
             if (number(f[2]) != gid) return false;
             listed = true;
             for (char* name = strtok(f[3], ","); name != nullptr; name = strtok(nullptr, ","))
                 if (strcmp(name, user) != 0 && strcmp(name, "root") != 0)
                     return snprintf(member, capacity, "%s", name) >= 0;
             return false;
         });
    if (!found)
        found = scan_lines("/etc/passwd", [&](char** f) {
            return number(f[3]) == gid && other_account(number(f[2])) &&
                   snprintf(member, capacity, "%s", f[0]) >= 0;
        });
    if (!found && !listed)
        found = snprintf(member, capacity, "(%s)", "a group /etc/group does not list") >= 0;
    return found;
}

namespace {

// Account or group `id` of `file` as "name (KIND N)", or "KIND N" when it
// has no name there.
const char* named(const char* file, const char* kind, unsigned id, char* dest, size_t capacity) {
    char name[256];
    if (name_of(file, id, name, sizeof name))
        snprintf(dest, capacity, "%s (%s %u)", name, kind, id);
    else
        snprintf(dest, capacity, "%s %u", kind, id);
    return dest;
}

const char* group_name(unsigned gid, char* dest, size_t capacity) {
    return named("/etc/group", "gid", gid, dest, capacity);
}

unsigned little_endian(const unsigned char* p, int size) {
    unsigned value = 0;
    for (int i = size - 1; i >= 0; i--)
        value = value << 8 | p[i];
    return value;
}

// An access control entry that lets an account but this user and root
// write, through the list's mask: its text into `why`.
bool acl_lets_others_write(int fd, const char* path, const char* subject, char* why,
                           size_t capacity) {
    // As large as the kernel lets a list be; one that cannot be read whole
    // could hold an entry for anyone, so it counts as letting others write.
    static unsigned char acl[XATTR_SIZE_MAX];
    const char* name = "system.posix_acl_access";
    ssize_t size =
        fd >= 0 ? fgetxattr(fd, name, acl, sizeof acl) : getxattr(path, name, acl, sizeof acl);
    if (size < 0 && errno != ENODATA && errno != ENOTSUP) {
        snprintf(why, capacity, "%s has an access control list that cannot be read (%s)", subject,
                 strerror(errno));
        return true;
    }
    if (size < 4 || little_endian(acl, 4) != ACL_VERSION) return false;
    unsigned mask = 7;
    for (ssize_t at = 4; at + 8 <= size; at += 8)
        if (little_endian(acl + at, 2) == ACL_MASK) mask = little_endian(acl + at + 2, 2);
    for (ssize_t at = 4; at + 8 <= size; at += 8) {
        unsigned tag = little_endian(acl + at, 2), id = little_endian(acl + at + 4, 4);
        if ((little_endian(acl + at + 2, 2) & mask & ACL_WRITE) == 0) continue;
        char account[300], group[300], member[256];
        if (tag == ACL_USER && other_account(id)) {
            snprintf(why, capacity, "%s is writable by %s through an access control entry", subject,
                     account_name(id, account, sizeof account));
            return true;
        }
        if (tag == ACL_GROUP && other_member(id, member, sizeof member)) {
            snprintf(why, capacity,
                     "%s is writable by the group %s through an access control entry, and %s is a "
                     "member",
                     subject, group_name(id, group, sizeof group), member);
            return true;
        }
    }
    return false;
}

// The entry `entry` of the folder `folder` (at `path`) could be replaced by
// another account: one that may write into the folder, unless the folder
// has the sticky bit and it and the entry belong to this user or root.
bool replaceable(const struct stat& folder, const char* path, const struct stat& entry, char* why,
                 size_t capacity) {
    char subject[PATH_MAX + 16];
    snprintf(subject, sizeof subject, "the folder %s", path);
    if (!open_to_others(folder, -1, path, subject, why, capacity)) return false;
    return (folder.st_mode & S_ISVTX) == 0 || other_account(folder.st_uid) ||
           other_account(entry.st_uid);
}

// Follows `path` as the kernel resolves it, judging each folder on the way
// as the holder of the next entry, links included; 1 with `why` (and the
// folder in `folder`) when one could be replaced, or when the path no longer
// leads to `file` (`folder` empty).
int judge_way(const char* path, const struct stat& file, char* folder, char* why, size_t capacity) {
    char done[PATH_MAX] = "", rest[2 * PATH_MAX], next[2 * PATH_MAX], current[PATH_MAX] = "";
    struct stat holder, entry = {};
    folder[0] = '\0';
    if ((path[0] != '/' && getcwd(current, sizeof current) == nullptr) ||
        snprintf(rest, sizeof rest, "%s/%s", current, path) >= (int)sizeof rest ||
        stat("/", &holder) != 0)
        return snprintf(why, capacity, "its path cannot be followed"), 1;
    int links = 0;
    for (char* p = rest; *p != '\0';) {
        while (*p == '/')
            p++;
        size_t length = strcspn(p, "/");
        if (length == 0) break;
        char* after = p + length;
        bool dot = length == 1 && p[0] == '.', dots = length == 2 && p[0] == '.' && p[1] == '.';
        if (dots) {
            char* slash = strrchr(done, '/');
            if (slash != nullptr) *slash = '\0';
        }
        if (dot || dots) {
            if (dots && stat(done[0] != '\0' ? done : "/", &holder) != 0) break;
            p = after;
            continue;
        }
        char candidate[PATH_MAX];
        size_t used = strlen(done);
        if (used + 1 + length >= sizeof candidate) break;
        memcpy(candidate, done, used);
        candidate[used] = '/';
        memcpy(candidate + used + 1, p, length);
        candidate[used + 1 + length] = '\0';
        if (lstat(candidate, &entry) != 0) break;
        if (replaceable(holder, done[0] != '\0' ? done : "/", entry, why, capacity)) {
            snprintf(folder, PATH_MAX, "%s", done[0] != '\0' ? done : "/");
            return 1;
        }
        if (S_ISLNK(entry.st_mode)) {
            char target[PATH_MAX];
            ssize_t n = readlink(candidate, target, sizeof target - 1);
            if (n <= 0 || ++links > LINKS_MAX) break;
            target[n] = '\0';
            if (snprintf(next, sizeof next, "%s/%s", target, after) >= (int)sizeof next) break;
            memcpy(rest, next, sizeof rest);
            p = rest;
            if (target[0] == '/') {
                done[0] = '\0';
                if (stat("/", &holder) != 0) break;
            }
            continue;
        }
        memcpy(done, candidate, sizeof done);
        holder = entry;
        p = after;
    }
    if (same_file(entry, file) && !S_ISLNK(entry.st_mode)) return 0;
    snprintf(why, capacity, "its path no longer leads to the file that was opened");
    return 1;
}

} // namespace

const char* account_name(unsigned uid, char* dest, size_t capacity) {
    return named("/etc/passwd", "uid", uid, dest, capacity);
}

bool open_to_others(const struct stat& info, int fd, const char* path, const char* subject,
                    char* why, size_t capacity) {
    char name[300], member[256];
    unsigned mode = info.st_mode & 07777;
    if (other_account(info.st_uid))
        snprintf(why, capacity, "%s belongs to %s", subject,
                 account_name(info.st_uid, name, sizeof name));
    else if ((mode & S_IWOTH) != 0)
        snprintf(why, capacity, "%s is writable by every account (mode %04o)", subject, mode);
    else if ((mode & S_IWGRP) != 0 && other_member(info.st_gid, member, sizeof member))
        snprintf(why, capacity, "%s is writable by the group %s (mode %04o), and %s is a member",
                 subject, group_name(info.st_gid, name, sizeof name), mode, member);
    else
        return acl_lets_others_write(fd, path, subject, why, capacity);
    return true;
}

int platform_others_could_change(platform_file file, const char* path, unsigned fix_mode, char* why,
                                 unsigned why_capacity) {
    char reason[3 * PATH_MAX], folder[PATH_MAX] = "", user[300];
    struct stat info;
    int could = 1;
    if (fstat((int)file, &info) != 0)
        snprintf(reason, sizeof reason, "it cannot be looked at");
    else if (!open_to_others(info, (int)file, nullptr, "it", reason, sizeof reason))
        could = judge_way(path, info, folder, reason, sizeof reason);
    else
        folder[0] = '\0';
    if (could == 0 || why == nullptr || why_capacity == 0) return could;
    if (!name_of("/etc/passwd", (unsigned)geteuid(), user, sizeof user))
        snprintf(user, sizeof user, "%u", (unsigned)geteuid());
    if (folder[0] != '\0')
        snprintf(why, why_capacity,
                 "%s: another account could put another file in its place: %s; keep it in a "
                 "folder only you can write into (chmod go-w %s, if it is yours)",
                 path, reason, folder);
    else if (other_account(info.st_uid))
        snprintf(why, why_capacity, "%s: another account could change it: %s; run: chown %s %s",
                 path, reason, user, path);
    else
        snprintf(why, why_capacity, "%s: another account could change it: %s; run: chmod %o %s",
                 path, reason, fix_mode, path);
    return 1;
}

platform_file platform_open_settings_file(const char* path, char* why, unsigned why_capacity) {
    if (why != nullptr && why_capacity > 0) why[0] = '\0';
    int fd = open_regular(path, O_RDONLY);
    if (fd < 0) return PLATFORM_NO_FILE;
    // The system folder's file is read by every account; a user's own holds a password.
    char system[PATH_MAX];
    unsigned length = platform_system_settings_directory(system, sizeof system);
    bool shared = length > 0 && length < sizeof system && strncmp(path, system, length) == 0 &&
                  path[length] == '/' && strchr(path + length + 1, '/') == nullptr;
    if (platform_others_could_change((platform_file)fd, path, shared ? 0644 : 0600, why,
                                     why_capacity) == 0)
        return (platform_file)fd;
    found_nothing_to_read = 1; // refused, as the caller says, not failed
    close(fd);
    return PLATFORM_NO_FILE;
}
