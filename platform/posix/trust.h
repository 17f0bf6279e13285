// Who but this user and root could change a file or folder on POSIX: the
// one rule that platform_others_could_change applies on the way to a file,
// shared with the faces that judge folders of their own.
#pragma once

#include <stddef.h>
#include <sys/stat.h>

// 1 when an account other than this user and root could write the file or
// folder `info` (also by owning it): `why` then receives "SUBJECT is ..."
// naming the account, group or access control entry. The access control
// list is read from `fd` when it is 0 or more, else from `path`.
bool open_to_others(const struct stat& info, int fd, const char* path, const char* subject,
                    char* why, size_t capacity);

// The account `uid` as "name (uid N)", or "uid N" when it has no name here.
const char* account_name(unsigned uid, char* dest, size_t capacity);

// 1 when group `gid` has a member but this user and root (one /etc/group
// lists, one whose own group it is, or any, when the group is not listed),
// named in `member`.
bool other_member(unsigned gid, char* member, size_t capacity);
