#include "tools/config_write.h"

#include "check/check_face.h"
#include "check/terminal_text.h"
#include "platform/settings_write.h"
#include "tools/config_edit.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// The steps of a write, where the tests' hook TALVIN_CONFIG_TEST_STEP=N
// ends the process at once (as a kill would), or with N:change makes the
// change another program might make there.
enum Step {
    STEP_READ = 1,     // the lock is held and the file read
    STEP_CREATED,      // the new file exists, empty
    STEP_HALF_WRITTEN, // half of its bytes are written
    STEP_WRITTEN,      // all, not yet flushed
    STEP_FLUSHED,      // flushed, its mode and owner set; the old file is checked next
    STEP_RENAMED,      // in place; the lock is not yet given back
    STEP_NONE_FOUND,   // no file was there to lock, and none is made yet
};

void step(Step at, const char* path) {
    const char* hook = getenv("TALVIN_CONFIG_TEST_STEP");
    if (hook == nullptr || atoi(hook) != (int)at) return;
    if (strstr(hook, ":change") == nullptr) _Exit(137);
    FILE* other = fopen(path, "ab");
    if (other != nullptr) fputs("; changed by another program\n", other);
    if (other != nullptr) fclose(other);
}

void tell(const char* path, const char* what) {
    terminal_printf(stderr, "talvin-config: %s: %s\n", path, what);
}

void tell_error(const char* path, const char* what) {
    terminal_printf(stderr, "talvin-config: %s: %s: %s; nothing was changed\n", path, what,
                    platform_write_error());
}

// Said when the group's and others' permissions were taken from a file that
// keeps a password (`narrowed`: its mode before, 0 when none were taken).
void tell_narrowed(const char* path, unsigned narrowed) {
    if (narrowed != 0)
        terminal_printf(
            stderr,
            "talvin-config: %s: it holds a password, which others could read: its mode is "
            "now %o (was %o)\n",
            path, narrowed & ~077u, narrowed);
}

struct Buffers {
    char* old;
    char* out;
    char* scratch;
    char text[CONFIG_TEXT_CAP];
};

// The whole file, -1 when it is larger than CONFIG_FILE_CAP, -2 when it
// cannot be read.
long read_whole(platform_file file, char* dest) {
    size_t size = 0;
    long n;
    while (size <= CONFIG_FILE_CAP &&
           (n = platform_read(file, dest + size, (unsigned)(CONFIG_FILE_CAP + 1 - size))) > 0)
        size += (size_t)n;
    return n < 0 ? -2 : size > CONFIG_FILE_CAP ? -1 : (long)size;
}

// 1 when the file at `path` holds exactly `old`: nobody changed it meanwhile.
bool still_holds(const char* path, const char* old, size_t size, char* scratch) {
    platform_file file = platform_open_for_reading(path);
    if (file == PLATFORM_NO_FILE) return false;
    long now = read_whole(file, scratch);
    platform_close(file);
    return now == (long)size && memcmp(scratch, old, size) == 0;
}

// The new section with `line_end` after each line; false when it does not fit.
bool make_text(const ConfigChange& change, const char* line_end, char* text) {
    if (change.lines == nullptr) return true;
    int n = snprintf(text, CONFIG_TEXT_CAP, "[%s]%s", change.name, line_end);
    for (unsigned i = 0; i < change.line_count && n >= 0 && n < CONFIG_TEXT_CAP; i++)
        n += snprintf(text + n, CONFIG_TEXT_CAP - (size_t)n, "%s%s", change.lines[i], line_end);
    return n >= 0 && n < CONFIG_TEXT_CAP;
}

// What is written, and what it replaces (`held` and `old`, or none).
struct Write {
    const ConfigChange* change;
    const char* path;
    platform_file held;
    const char* old;
    size_t old_size;
    const char* bytes;
    size_t size;
    char* scratch; // room to read the file again
};

const int MADE_BY_ANOTHER = -1;

// A file the launcher would not read, `why` (null: as asked of the file).
int refuse_unread(const char* path, const char* why = nullptr) {
    char asked[600];
    if (why == nullptr) check_why_unopened(path, 1, asked, sizeof asked);
    terminal_printf(stderr,
                    "talvin-config: %s: the launcher would not read it: %s; nothing was changed\n",
                    path, why != nullptr ? why : asked);
    return CONFIG_REFUSED;
}

// Writes the bytes into a new file beside the old one and puts it in its
// place: over `held`, or, when there is none, only where there is still
// none (MADE_BY_ANOTHER when another writer made one first).
int replace(const Write& w, platform_file* held) {
    bool replacing = *held != PLATFORM_NO_FILE;
    char temp[CONFIG_PATH_CAP];
    platform_file file = platform_create_beside(w.path, temp, sizeof temp);
    if (file == PLATFORM_NO_FILE) {
        tell_error(w.path, "cannot make a new file beside it");
        return CONFIG_WRITE_FAILED;
    }
    step(STEP_CREATED, w.path);
    size_t half = w.size / 2;
    bool ok = platform_write(file, w.bytes, half);
    step(STEP_HALF_WRITTEN, w.path);
    ok = ok && platform_write(file, w.bytes + half, w.size - half);
    step(STEP_WRITTEN, w.path);
    const char* failed = ok ? nullptr : "cannot write the new file";
    if (failed == nullptr && !platform_flush(file)) failed = "cannot flush the new file";
    unsigned narrowed = 0;
    bool owner_only = w.change->holds_password || (replacing && edit_kept_password());
    if (failed == nullptr &&
        !platform_set_access(file, w.held, w.change->new_mode, owner_only, &narrowed))
        failed = "cannot give the new file the old one's owner and mode";
    // A file made from nothing where another account could put another in
    // its place would be refused by the launcher: none is made there.
    static char unsafe[2 * CONFIG_PATH_CAP];
    bool refused =
        failed == nullptr && !replacing &&
        platform_others_could_change(file, temp, w.change->new_mode, unsafe, sizeof unsafe);
    if (refused) failed = "";
    platform_close(file);
    if (failed == nullptr) step(STEP_FLUSHED, w.path);
    // Checked under the lock: a program that takes none may have changed it.
    bool changed =
        failed == nullptr && replacing &&
        (!platform_same_file(w.held, w.path) || !still_holds(w.path, w.old, w.old_size, w.scratch));
    if (failed == nullptr && !changed && !platform_rename_into_place(temp, w.path, held))
        failed = "cannot put the new file in its place";
    if (failed == nullptr && !changed) {
        step(STEP_RENAMED, w.path);
        tell_narrowed(w.path, narrowed);
        return CONFIG_DONE;
    }
    platform_remove_file(temp);
    if (refused) {
        size_t named = strlen(temp) + 2; // the line names the new file first
        const char* reason = strncmp(unsafe, temp, named - 2) == 0 ? unsafe + named : unsafe;
        return refuse_unread(w.path, reason);
    }
    if (changed) {
        tell(w.path, "another program changed it while it was being rewritten; nothing was "
                     "changed: run the command again");
        return CONFIG_WRITE_FAILED;
    }
    char there[CONFIG_PATH_CAP];
    if (!replacing && platform_settings_path(w.path, there, sizeof there) == SETTINGS_PATH_FILE)
        return MADE_BY_ANOTHER;
    tell_error(w.path, failed);
    return CONFIG_WRITE_FAILED;
}

// The writers' lock on the file at `path`; PLATFORM_NO_FILE, with `*none`
// set, when there was no file to lock. Another writer making the file from
// nothing may put it in place between a failed open and the look that
// follows: a file found there is locked once more before it counts as
// unreadable. One put there after the look is left to the making, whose
// rename never replaces: it is never taken for a file that cannot be read.
platform_file lock_settings(const char* path, bool* none) {
    platform_file held = platform_lock_settings(path);
    char there[CONFIG_PATH_CAP];
    *none = held == PLATFORM_NO_FILE &&
            platform_settings_path(path, there, sizeof there) == SETTINGS_PATH_ABSENT;
    if (held == PLATFORM_NO_FILE && !*none) held = platform_lock_settings(path);
    return held;
}

// One attempt under the lock (or, for a file made from nothing, under none:
// the rename that never replaces decides).
int attempt(const ConfigChange& change, const char* path, Buffers* b) {
    bool none;
    Write w = {&change, path, lock_settings(path, &none), b->old, 0, b->out, 0, b->scratch};
    if (w.held == PLATFORM_NO_FILE) {
        if (!none) return refuse_unread(path);
        step(STEP_NONE_FOUND, path);
        if (change.lines == nullptr) return CONFIG_DONE; // nothing to remove
        if (change.private_folder && !platform_make_private_folder(path)) {
            tell_error(path, "cannot make its folder");
            return CONFIG_WRITE_FAILED;
        }
        if (!make_text(change, platform_text_line_end(), b->text)) {
            tell(path, "the new section is too long");
            return CONFIG_REFUSED;
        }
        w.bytes = b->text;
        w.size = strlen(b->text);
        return replace(w, &w.held);
    }
    // Judged under the lock, while no writer is replacing it: the launcher
    // would refuse a file another user could change, and so is it here.
    // A name that leads there through a link is judged too, as the launcher
    // opens it: a link of another account's, in a folder where it could put
    // its own, would lead the launcher (and this write) where it chose.
    platform_file judged = platform_open_settings_file(path);
    const char* refused = judged == PLATFORM_NO_FILE ? path : nullptr;
    if (refused == nullptr && strcmp(change.path, path) != 0) {
        platform_close(judged);
        judged = platform_open_settings_file(change.path);
        if (judged == PLATFORM_NO_FILE) refused = change.path;
    }
    if (refused != nullptr) {
        platform_unlock_settings(w.held);
        return refuse_unread(refused);
    }
    platform_close(judged);
    int status = CONFIG_REFUSED;
    long size = read_whole(w.held, b->old);
    step(STEP_READ, path);
    const char* line_end =
        size >= 0 ? line_end_of(b->old, (size_t)size, platform_text_line_end()) : "\n";
    long out_size = -1;
    if (size == -2)
        tell(path, "cannot be read; nothing was changed"), status = CONFIG_WRITE_FAILED;
    else if (size < 0)
        tell(path, "is larger than 8 MiB; nothing was changed");
    else if (!make_text(change, line_end, b->text))
        tell(path, "the new section is too long; nothing was changed");
    else if ((out_size = edit_settings(path, b->old, (size_t)size, change.name,
                                       change.lines != nullptr ? b->text : nullptr, line_end,
                                       b->out, CONFIG_FILE_CAP + CONFIG_TEXT_CAP)) == -2)
        tell(path, "cannot be read; nothing was changed"), status = CONFIG_WRITE_FAILED;
    else if (out_size < 0)
        tell(path, "the launcher's reader does not read it as it was read; nothing was changed");
    else if (out_size == size && memcmp(b->out, b->old, (size_t)size) == 0) {
        // Already as asked, and a password in it is still left to its owner
        // alone: a file written before the narrowing, or by hand, is too.
        unsigned narrowed = 0;
        status = CONFIG_DONE;
        if ((change.holds_password || edit_kept_password()) &&
            !platform_narrow_to_owner(w.held, &narrowed)) {
            tell_error(path, "cannot take the permissions of others from it");
            status = CONFIG_WRITE_FAILED;
        }
        tell_narrowed(path, narrowed);
    } else {
        w.old_size = (size_t)size;
        w.size = (size_t)out_size;
        status = replace(w, &w.held);
    }
    platform_unlock_settings(w.held);
    return status;
}

} // namespace

ConfigStatus config_write(const ConfigChange& change) {
    char path[CONFIG_PATH_CAP];
    switch (platform_settings_path(change.path, path, sizeof path)) {
    case SETTINGS_PATH_BROKEN_LINK:
        tell(change.path, "a symbolic link to nothing; nothing was changed");
        return CONFIG_REFUSED;
    case SETTINGS_PATH_TOO_LONG:
        tell(change.path, "the name is too long; nothing was changed");
        return CONFIG_REFUSED;
    case SETTINGS_PATH_FILE:
    case SETTINGS_PATH_ABSENT:
        break;
    }
    static Buffers buffers;
    buffers.old = (char*)platform_take_memory(CONFIG_FILE_CAP + 1);
    buffers.out = (char*)platform_take_memory(CONFIG_FILE_CAP + CONFIG_TEXT_CAP);
    buffers.scratch = (char*)platform_take_memory(CONFIG_FILE_CAP + 1);
    int status = CONFIG_WRITE_FAILED;
    if (buffers.old == nullptr || buffers.out == nullptr || buffers.scratch == nullptr)
        tell(change.path, "not enough memory; nothing was changed");
    else
        // Writers that make the file from nothing at once: all but one try again.
        for (int i = 0; i < 100 && (status = attempt(change, path, &buffers)) == MADE_BY_ANOTHER;
             i++) {
        }
    platform_give_memory(buffers.scratch);
    platform_give_memory(buffers.out);
    platform_give_memory(buffers.old);
    return status == MADE_BY_ANOTHER ? CONFIG_WRITE_FAILED : (ConfigStatus)status;
}
