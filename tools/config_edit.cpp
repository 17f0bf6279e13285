#include "tools/config_edit.h"

#include "check/terminal_text.h"
#include "launch_files/launch_observer.h"
#include "launch_files/launch_settings.h"
#include "launch_files/section_reader.h"

#include <stdio.h>
#include <string.h>

namespace {

// The reader tells an observer of everything; these are not asked about.
void no_file(const char*, SettingSource, int) {}
void no_line(unsigned, unsigned, int) {}
void no_ctrl_z(int) {}

// What the line the reader handed out last turned out to be.
enum LineKind { OTHER_LINE, HEADER_LINE, KEY_LINE };

// The edit in progress. The reader has no context pointer for its
// observer, and one file is edited per process.
struct Edit {
    const char* old;
    size_t data_end; // where the reader's data ends: the first Ctrl-Z, or the end
    size_t pos;      // the raw start of the line not yet placed
    size_t line_end; // ... and its end
    bool pending;
    LineKind kind;
    bool header_named; // a header line of the named section
    bool in_named;     // the lines now read belong to the named section
    bool placed;
    bool overrun; // the reader read more than `old` holds
    bool password_kept;
    const char* name;
    const char* text;
    char* out;
    size_t out_size, out_capacity;
} edit;

void put(const char* bytes, size_t size) {
    if (edit.out_size + size > edit.out_capacity) {
        edit.overrun = true;
        return;
    }
    memcpy(edit.out + edit.out_size, bytes, size);
    edit.out_size += size;
}

void put_text() {
    if (edit.text != nullptr && !edit.placed) put(edit.text, strlen(edit.text));
    edit.placed = true;
}

// Places the pending line: kept, or left out when it belongs to the named
// section, whose new text takes the place of its first header.
void place_pending() {
    if (!edit.pending) return;
    edit.pending = false;
    if (edit.kind == HEADER_LINE) edit.in_named = edit.header_named;
    bool named =
        edit.kind == HEADER_LINE ? edit.header_named : edit.kind == KEY_LINE && edit.in_named;
    if (named && edit.kind == HEADER_LINE) put_text();
    if (!named) put(edit.old + edit.pos, edit.line_end - edit.pos);
    edit.pos = edit.line_end;
}

// A line of `length` characters as read: CR LF counts one, so its raw end
// is found by walking the bytes as the reader folds them.
void edit_line(unsigned length, unsigned, int) {
    place_pending();
    size_t i = edit.pos;
    for (unsigned n = 0; n < length && i < edit.data_end; n++)
        i += edit.old[i] == '\r' && i + 1 < edit.data_end && edit.old[i + 1] == '\n' ? 2 : 1;
    if (i - edit.pos < length) edit.overrun = true;
    edit.line_end = i;
    edit.pending = true;
    edit.kind = OTHER_LINE;
}

void edit_section(const char* name) {
    edit.kind = HEADER_LINE;
    edit.header_named = names_equal(name, edit.name) != 0;
}

void edit_setting(const char* key, const char*, SectionKind kind, const void*, SettingEffect) {
    edit.kind = KEY_LINE;
    if (kind == SECTION_IDENTIFICATION && !edit.in_named && names_equal(key, "password"))
        edit.password_kept = true;
}

const LaunchObserver EDIT_OBSERVER = {no_file, edit_line, no_ctrl_z, edit_section, edit_setting};

// --- show

bool show_wanted = false; // the section being read is shown
bool show_identification = false;
bool show_opened = false;

// The name only of a file that is read: a refused one shows nothing.
void show_file(const char* path, SettingSource, int opened) {
    show_opened = opened != 0;
    if (show_opened) terminal_printf(stdout, "%s\n", path);
}

void show_section(const char* name) {
    show_identification = names_equal(name, "identification") != 0;
    show_wanted = !names_equal(name, "launch") && !names_equal(name, "signature");
    if (!show_wanted) return;
    // The section read as the product's, so that each value is the one the
    // launcher would take from it.
    size_t length = strlen(name);
    if (!show_identification && length < sizeof launch_settings.app)
        memcpy(launch_settings.app, name, length + 1);
    terminal_printf(stdout, "[%s]\n", name);
}

void show_setting(const char* key, const char* value, SectionKind, const void*,
                  SettingEffect effect) {
    if (!show_wanted) return;
    if (show_identification && names_equal(key, "password"))
        terminal_printf(stdout, "  %s: %u characters\n", key, (unsigned)strlen(value));
    else
        terminal_printf(stdout, "  %s=%s\n", key, value);
    if (effect == EFFECT_TOO_LONG) printf("    (longer than its field: the launcher ignores it)\n");
}

const LaunchObserver SHOW_OBSERVER = {show_file, no_line, no_ctrl_z, show_section, show_setting};

} // namespace

int edit_kept_password(void) {
    return edit.password_kept;
}

const char* line_end_of(const char* old, size_t old_size, const char* fallback) {
    const char* ctrl_z = (const char*)memchr(old, 0x1A, old_size);
    size_t end = ctrl_z != nullptr ? (size_t)(ctrl_z - old) : old_size;
    const char* feed = (const char*)memchr(old, '\n', end);
    if (feed == nullptr) return fallback;
    return feed > old && feed[-1] == '\r' ? "\r\n" : "\n";
}

long edit_settings(const char* path, const char* old, size_t old_size, const char* name,
                   const char* text, const char* line_end, char* out, size_t out_capacity) {
    const char* ctrl_z = (const char*)memchr(old, 0x1A, old_size);
    edit = {};
    edit.old = old;
    edit.data_end = ctrl_z != nullptr ? (size_t)(ctrl_z - old) : old_size;
    edit.name = name;
    edit.text = text;
    edit.out = out;
    edit.out_capacity = out_capacity;
    launch_settings_init();
    launch_observer = &EDIT_OBSERVER;
    section_file_unread = false;
    int read = parse_section_file(nullptr, path, SOURCE_SETTINGS_FILE);
    launch_observer = nullptr;
    place_pending();
    if (!read && section_file_unread) return -2;
    if (!read || edit.overrun || edit.pos != edit.data_end) return -1;
    if (!edit.placed && text != nullptr) {
        // A last line without its line end would run into the header. One
        // ending in a carriage return keeps it only when CR LF follows: a
        // line feed alone would fold into it.
        if (edit.pos > 0 && old[edit.pos - 1] != '\n') {
            const char* end = old[edit.pos - 1] == '\r' ? "\r\n" : line_end;
            put(end, strlen(end));
        }
        put_text();
    }
    put(old + edit.data_end, old_size - edit.data_end);
    return edit.overrun ? -1 : (long)edit.out_size;
}

int show_settings(const char* path) {
    launch_settings_init();
    show_opened = false;
    launch_observer = &SHOW_OBSERVER;
    int read = parse_section_file(nullptr, path, SOURCE_SETTINGS_FILE);
    launch_observer = nullptr;
    return read ? 1 : show_opened ? -1 : 0;
}
