// The setup check's questions to a POSIX desktop: the default handler of a
// MIME type as the desktop's own tools resolve it (mimeapps.list in the
// XDG config and data folders, then defaults.list, the added associations
// and mimeinfo.cache but for the removed ones; each desktop ID looked up in
// the data folders), the program its Exec line starts, and the box programs.
#include "check/check_setup.h"

#include "check/check_face.h"
#include "launch/entry.h"
#include "platform/posix/file.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <initializer_list>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum { FOLDERS_CAP = 16, DESKTOPS_CAP = 4, KEY_FILE_CAP = 65536, NAME_CAP = 256 };

struct Folders {
    char paths[FOLDERS_CAP][1024];
    unsigned count;
};

void add_folder(Folders* folders, const char* path, size_t length, const char* rest) {
    // A relative folder would be taken from wherever the check runs.
    if (folders->count == FOLDERS_CAP || length == 0 || path[0] != '/') return;
    char* dest = folders->paths[folders->count];
    if (length + strlen(rest) + 1 > sizeof folders->paths[0]) return;
    memcpy(dest, path, length);
    strcpy(dest + length, rest);
    folders->count++;
}

// The home folder's `variable` (else $HOME/`fallback`), then each of the
// list `list` (else `defaults`), each followed by `rest`.
void xdg_folders(Folders* folders, const char* variable, const char* fallback, const char* list,
                 const char* defaults, const char* rest) {
    folders->count = 0;
    const char* own = getenv(variable);
    const char* home = getenv("HOME");
    if (own != nullptr && own[0] == '/') {
        add_folder(folders, own, strlen(own), rest);
    } else if (home != nullptr && home[0] == '/') {
        char path[1024];
        check_format(path, sizeof path, "%s/%s", home, fallback);
        add_folder(folders, path, strlen(path), rest);
    }
    const char* many = getenv(list);
    if (many == nullptr || many[0] == '\0') many = defaults;
    for (const char* p = many; *p != '\0';) {
        size_t length = strcspn(p, ":");
        add_folder(folders, p, length, rest);
        p += length + (p[length] == ':' ? 1 : 0);
    }
}

// The names of the current desktop, lowercased, for "NAME-mimeapps.list".
unsigned current_desktops(char names[DESKTOPS_CAP][64]) {
    const char* list = getenv("XDG_CURRENT_DESKTOP");
    unsigned count = 0;
    for (const char* p = list != nullptr ? list : ""; *p != '\0' && count < DESKTOPS_CAP;) {
        size_t length = strcspn(p, ":");
        if (length > 0 && length < 64) {
            for (size_t i = 0; i < length; i++)
                names[count][i] = (char)tolower((unsigned char)p[i]);
            names[count++][length] = '\0';
        }
        p += length + (p[length] == ':' ? 1 : 0);
    }
    return count;
}

// The value of `key` in the group `group` of the key file `path` into
// `value`; false when it has none (or the file cannot be read).
bool key_file_value(const char* path, const char* group, const char* key, char* value,
                    unsigned capacity) {
    static char text[KEY_FILE_CAP + 1];
    int fd = open_regular(path, O_RDONLY);
    ssize_t size = fd >= 0 ? read(fd, text, KEY_FILE_CAP) : -1;
    if (fd >= 0) close(fd);
    if (size <= 0) return false;
    text[size] = '\0';
    bool in_group = false;
    size_t key_length = strlen(key);
    for (char* line = text; *line != '\0';) {
        char* end = line + strcspn(line, "\n");
        char* next = *end == '\n' ? end + 1 : end;
        *end = '\0';
        if (line[0] == '[') {
            char* close = strchr(line, ']');
            in_group = close != nullptr && (size_t)(close - line - 1) == strlen(group) &&
                       strncmp(line + 1, group, strlen(group)) == 0;
        } else if (in_group && strncmp(line, key, key_length) == 0) {
            const char* rest = line + key_length;
            rest += strspn(rest, " \t");
            if (*rest == '=') {
                rest += 1 + strspn(rest + 1, " \t");
                check_format(value, capacity, "%s", rest);
                return true;
            }
        }
        line = next;
    }
    return false;
}

// The installed desktop entry of `id`: its file into `path`. A hidden one
// hides the same ID in the folders after it.
bool desktop_entry(const char* id, char* path, unsigned capacity) {
    Folders data;
    xdg_folders(&data, "XDG_DATA_HOME", ".local/share", "XDG_DATA_DIRS",
                "/usr/local/share:/usr/share", "/applications");
    char hidden[16];
    for (unsigned i = 0; i < data.count; i++) {
        check_format(path, capacity, "%s/%s", data.paths[i], id);
        if (!check_path_exists(path)) continue;
        return !key_file_value(path, "Desktop Entry", "Hidden", hidden, sizeof hidden) ||
               strcmp(hidden, "true") != 0;
    }
    return false;
}

struct Search {
    const char* type;
    SetupHandler* handler;
    char missing[NAME_CAP]; // the first ID named that is not installed
    char missing_in[CHECK_PATH_CAP];
    char removed[NAME_CAP]; // the first ID passed over as removed
    char removed_in[CHECK_PATH_CAP];
};

// Whether the list of desktop IDs `list` (parted by ';') holds `id`.
bool listed(const char* list, const char* id) {
    size_t length = strlen(id);
    for (const char* p = list; *p != '\0';) {
        size_t n = strcspn(p, ";");
        if (n == length && strncmp(p, id, length) == 0) return true;
        p += n + (p[n] == ';' ? 1 : 0);
    }
    return false;
}

// The first installed desktop ID of the list in `group` of `file`, but for
// those in `removed`.
bool first_installed(Search* search, const char* file, const char* group,
                     const char* removed = "") {
    char list[4096], entry[CHECK_PATH_CAP];
    if (!key_file_value(file, group, search->type, list, sizeof list)) return false;
    for (char* id = strtok(list, ";"); id != nullptr; id = strtok(nullptr, ";")) {
        if (strchr(id, '/') != nullptr || strlen(id) >= NAME_CAP) continue;
        if (listed(removed, id)) {
            if (search->removed[0] == '\0')
                check_format(search->removed, sizeof search->removed, "%s", id);
            continue;
        }
        if (desktop_entry(id, entry, sizeof entry)) {
            check_format(search->handler->handler, CHECK_PATH_CAP, "%s", id);
            check_format(search->handler->found_in, CHECK_PATH_CAP, "%s [%s]", file, group);
            return true;
        }
        if (search->missing[0] == '\0') {
            check_format(search->missing, sizeof search->missing, "%s", id);
            check_format(search->missing_in, sizeof search->missing_in, "%s", file);
        }
    }
    return false;
}

// The mimeapps.list files in the order they count: the config folders'
// (the desktop's own name first in each), then the data folders', each
// data folder's followed by its mimeinfo.cache when `caches` is set.
unsigned mimeapps_files(char files[][1200], unsigned capacity, bool caches) {
    char desktops[DESKTOPS_CAP][64];
    unsigned desktop_count = current_desktops(desktops), count = 0;
    Folders config, data;
    xdg_folders(&config, "XDG_CONFIG_HOME", ".config", "XDG_CONFIG_DIRS", "/etc/xdg", "");
    xdg_folders(&data, "XDG_DATA_HOME", ".local/share", "XDG_DATA_DIRS",
                "/usr/local/share:/usr/share", "/applications");
    for (const Folders* folders : {&config, &data})
        for (unsigned i = 0; i < folders->count; i++) {
            for (unsigned d = 0; d < desktop_count && count < capacity; d++)
                check_format(files[count++], sizeof files[0], "%s/%s-mimeapps.list",
                             folders->paths[i], desktops[d]);
            if (count < capacity)
                check_format(files[count++], sizeof files[0], "%s/mimeapps.list",
                             folders->paths[i]);
            if (caches && folders == &data && count < capacity)
                check_format(files[count++], sizeof files[0], "%s/mimeinfo.cache",
                             folders->paths[i]);
        }
    return count;
}

bool find_desktop_id(Search* search) {
    static char files[FOLDERS_CAP * 2 * (DESKTOPS_CAP + 2)][1200];
    unsigned count = mimeapps_files(files, sizeof files / sizeof files[0], false);
    for (unsigned i = 0; i < count; i++)
        if (first_installed(search, files[i], "Default Applications")) return true;
    Folders data;
    xdg_folders(&data, "XDG_DATA_HOME", ".local/share", "XDG_DATA_DIRS",
                "/usr/local/share:/usr/share", "/applications");
    char file[1200];
    for (unsigned i = 0; i < data.count; i++) {
        check_format(file, sizeof file, "%s/defaults.list", data.paths[i]);
        if (first_installed(search, file, "Default Applications")) return true;
    }
    // No default: the first application associated with the type, folder
    // by folder. An ID a [Removed Associations] names is passed over there
    // and in every later folder, as the desktop passes it over: a person
    // who took the launcher off a type's list clicks and nothing opens.
    count = mimeapps_files(files, sizeof files / sizeof files[0], true);
    char removed[4096] = "", list[4096];
    for (unsigned i = 0; i < count; i++) {
        size_t length = strlen(files[i]);
        bool cache = length >= 15 && strcmp(files[i] + length - 15, "/mimeinfo.cache") == 0;
        if (first_installed(search, files[i], cache ? "MIME Cache" : "Added Associations", removed))
            return true;
        size_t used = strlen(removed);
        if (cache ||
            !key_file_value(files[i], "Removed Associations", search->type, list, sizeof list))
            continue;
        check_format(removed + used, (unsigned)(sizeof removed - used), "%s;", list);
        if (search->removed_in[0] == '\0')
            check_format(search->removed_in, sizeof search->removed_in, "%s", files[i]);
    }
    return false;
}

// The first word of an Exec value, its quoting and escapes taken.
void exec_program(const char* exec, char* dest, unsigned capacity) {
    unsigned length = 0;
    bool quoted = exec[0] == '"';
    for (const char* p = exec + (quoted ? 1 : 0); *p != '\0' && length + 1 < capacity; p++) {
        if (quoted ? *p == '"' : (*p == ' ' || *p == '\t')) break;
        if (*p == '\\' && p[1] != '\0') p++;
        dest[length++] = *p;
    }
    dest[length] = '\0';
}

int runnable(const char* candidate, void*) {
    struct stat info;
    if (stat(candidate, &info) != 0) return ENOENT;
    return S_ISREG(info.st_mode) && access(candidate, X_OK) == 0 ? 0 : EACCES;
}

} // namespace

void check_user_name(char* dest, unsigned capacity) {
    const struct passwd* user = getpwuid(geteuid());
    if (user != nullptr)
        check_format(dest, capacity, "%s (uid %u)", user->pw_name, (unsigned)geteuid());
    else
        check_format(dest, capacity, "uid %u", (unsigned)geteuid());
}

void check_find_handler(int kind, SetupHandler* h) {
    h->type = kind == SETUP_LAUNCH_FILES ? LAUNCH_FILE_MIME_TYPE : "x-scheme-handler/talvin";
    h->handler[0] = h->found_in[0] = h->program[0] = h->problem[0] = '\0';
    static Search search;
    memset(&search, 0, sizeof search);
    search.type = h->type;
    search.handler = h;
    if (!find_desktop_id(&search)) {
        if (search.removed[0] != '\0')
            check_format(h->problem, sizeof h->problem,
                         "%s takes %s off the list of %s ([Removed Associations]), and no "
                         "other desktop entry is named",
                         search.removed_in, search.removed, h->type);
        else if (search.missing[0] != '\0')
            check_format(h->problem, sizeof h->problem,
                         "%s names %s, which is not installed (no desktop entry, or a hidden one)",
                         search.missing_in, search.missing);
        else
            check_format(h->problem, sizeof h->problem,
                         "no mimeapps.list, defaults.list or mimeinfo.cache names a desktop "
                         "entry for %s",
                         h->type);
        return;
    }
    char entry[CHECK_PATH_CAP], exec[4096], program[4096];
    desktop_entry(h->handler, entry, sizeof entry);
    if (!key_file_value(entry, "Desktop Entry", "Exec", exec, sizeof exec)) {
        check_format(h->problem, sizeof h->problem, "%s has no Exec line", entry);
        return;
    }
    exec_program(exec, program, sizeof program);
    if (strchr(program, '/') != nullptr) {
        check_format(h->program, sizeof h->program, "%s", program);
    } else if (program[0] == '\0' || search_path(program, runnable, nullptr, h->program) != 0) {
        h->program[0] = '\0';
        check_format(h->problem, sizeof h->problem,
                     "%s starts \"%s\", which no folder of PATH holds", entry, program);
    }
}

int check_launcher_version(const char* program, char* version, unsigned capacity) {
    static const char MARK[] = LAUNCHER_VERSION_MARK;
    const size_t mark_length = sizeof MARK - 1;
    static char chunk[65536 + 128];
    int fd = open_regular(program, O_RDONLY);
    if (fd < 0) return 0;
    size_t kept = 0; // the end of the chunk before, which a mark may cross
    bool found = false;
    for (ssize_t n; !found && (n = read(fd, chunk + kept, sizeof chunk - 128 - kept)) > 0;) {
        size_t size = kept + (size_t)n;
        const char* at = (const char*)memmem(chunk, size, MARK, mark_length);
        if (at != nullptr && (size_t)(at - chunk) + mark_length + 64 > size) {
            // The version may go on in the next chunk.
            ssize_t more = read(fd, chunk + size, 128);
            size += more > 0 ? (size_t)more : 0;
        }
        if (at != nullptr) {
            unsigned length = 0;
            for (const char* v = at + mark_length;
                 v < chunk + size && length + 1 < capacity &&
                 (isalnum((unsigned char)*v) || strchr(".+-~", *v));
                 v++)
                version[length++] = *v;
            version[length] = '\0';
            found = length > 0;
        }
        kept = size < mark_length ? size : mark_length;
        memmove(chunk, chunk + size - kept, kept);
    }
    close(fd);
    return found ? 1 : 0;
}

int check_path_exists(const char* path) {
    struct stat info;
    return stat(path, &info) == 0 ? 1 : 0;
}

int check_box_program(char* dest, unsigned capacity, const char** package) {
    *package = "zenity (or x11-utils, for xmessage)";
    char found[4096];
    dest[0] = '\0';
    for (const char* name : {"zenity", "xmessage"})
        if (search_path(name, runnable, nullptr, found) == 0) {
            check_format(dest, capacity, "%s", found);
            break;
        }
    return 1;
}
