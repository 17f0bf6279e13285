#include "check/check_report.h"

#include "launch_files/launch_settings.h"
#include "launch_files/section_reader.h"
#include "check/check_face.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

CheckReport check_report;

namespace {

const char* const KIND_NAMES[] = {"", "a [launch]", "the product's", "an [identification]"};

// The names a misspelt key is compared with: every key some section knows
// (the table itself says which).
const char* const KEY_NAMES[] = {"product",        "server",   "missing",         "app",
                                 "title",          "messages", "handlesmessages", "wndclass",
                                 "closeotherapps", "wndname",  "passlaunch",      "path",
                                 "command",        "user",     "password",        "email"};

// Where the reader is.
int file = -1;
unsigned line_number = 0;
bool line_ended = true;
bool line_split = false; // the line being read arrives in pieces
char section[CHECK_VALUE_CAP];
unsigned section_line = 0;
bool section_warned; // set at each header

// The kinds of section that know `key`, one bit per SectionKind, asked of
// the key table on a copy of the record.
SectionKind probed_kind;
SettingEffect probed_effect;

void probe_setting(const char*, const char*, SectionKind kind, const void*, SettingEffect effect) {
    probed_kind = kind;
    probed_effect = effect;
}

const LaunchObserver PROBE = {nullptr, nullptr, nullptr, nullptr, probe_setting};

unsigned kinds_knowing(const char* key) {
    LaunchSettings saved = launch_settings;
    const LaunchObserver* observer = launch_observer;
    launch_observer = &PROBE;
    strcpy(launch_settings.app, "\x01");
    const char* sections[] = {"launch", "\x01", "identification"};
    unsigned kinds = 0;
    for (const char* name : sections) {
        apply_setting(name, key, "1", "1", SOURCE_SETTINGS_FILE);
        if (probed_effect != EFFECT_NONE) kinds |= 1u << probed_kind;
    }
    launch_settings = saved;
    launch_observer = observer;
    return kinds;
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
}

// The edit distance of `a` and `b` ignoring case (a swap of two neighbours
// counts one), or 99 for names too long to be a misspelling.
unsigned distance(const char* a, const char* b) {
    enum { N = 24 };
    size_t m = strlen(a), n = strlen(b);
    if (m >= N || n >= N) return 99;
    unsigned d[N][N];
    for (size_t i = 0; i <= m; i++)
        d[i][0] = (unsigned)i;
    for (size_t j = 0; j <= n; j++)
        d[0][j] = (unsigned)j;
    for (size_t i = 1; i <= m; i++)
        for (size_t j = 1; j <= n; j++) {
            unsigned cost = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
            unsigned best = d[i - 1][j - 1] + cost;
            if (d[i - 1][j] + 1 < best) best = d[i - 1][j] + 1;
            if (d[i][j - 1] + 1 < best) best = d[i][j - 1] + 1;
            if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) &&
                lower(a[i - 2]) == lower(b[j - 1]) && d[i - 2][j - 2] + 1 < best)
                best = d[i - 2][j - 2] + 1;
            d[i][j] = best;
        }
    return d[m][n];
}

// The nearest of `names` to `word` when it is close (and not `word` itself).
const char* nearest(const char* word, const char* const* names, unsigned count) {
    const char* best = nullptr;
    unsigned best_distance = strlen(word) <= 4 ? 2 : 3;
    for (unsigned i = 0; i < count; i++) {
        unsigned d = distance(word, names[i]);
        if (d > 0 && d < best_distance) {
            best = names[i];
            best_distance = d;
        }
    }
    return best;
}

FieldTrace* trace_of(const void* address) {
    for (FieldTrace& trace : check_report.fields)
        if (trace.address == address) return &trace;
    return nullptr;
}

void record_set(FieldTrace* trace, const char* value) {
    if (trace->set) {
        if (trace->overridden_count < CHECK_OVERRIDES_CAP)
            trace->overridden[trace->overridden_count] = trace->last;
        trace->overridden_count++;
    }
    trace->set = 1;
    trace->last.file = file;
    trace->last.line = line_number;
    check_copy(trace->last.value, sizeof trace->last.value, value);
}

void on_file(const char* path, SettingSource source, int opened) {
    file = source == SOURCE_LAUNCH_FILE ? CHECK_FILE_LAUNCH
           : check_report.system_file[0] != '\0' && strcmp(path, check_report.system_file) == 0
               ? CHECK_FILE_SYSTEM
               : CHECK_FILE_SETTINGS;
    check_copy(check_report.files[file], CHECK_PATH_CAP, path);
    check_report.tried[file] = 1;
    check_report.opened[file] = opened;
    line_number = 0;
    line_ended = true;
    line_split = false;
    check_record.file = file;
    check_record.line = 0;
}

void on_line(unsigned length, unsigned text_length, int ends_line) {
    if (line_ended)
        line_number++;
    else if (!line_split) // once for each line, however many pieces it has
        check_warn(file, line_number, "long-line",
                   "the line is longer than %u characters: the rest is read as a line of its own",
                   (unsigned)LINE_MAX_CHARS);
    line_split = !line_ended;
    line_ended = ends_line != 0;
    if (text_length < length)
        check_warn(file, line_number, "zero-byte",
                   "a zero byte ends the line after %u characters: the rest of it is ignored",
                   text_length);
    check_record.file = file;
    check_record.line = line_number;
}

void on_ctrl_z(int more) {
    if (more)
        check_warn(file, line_ended ? line_number + 1 : line_number, "ctrl-z",
                   "a Ctrl-Z byte ends the file here: everything after it is ignored");
}

void on_section(const char* name) {
    check_copy(section, sizeof section, name);
    section_line = line_number;
    section_warned = false;
    if (file != CHECK_FILE_LAUNCH && launch_settings.app[0] != '\0' &&
        names_equal(name, launch_settings.app))
        check_report.product_section_seen = 1;
}

void warn_section() {
    if (section_warned) return;
    section_warned = true;
    // The launcher's own signature section, reported with the signature.
    if (file == CHECK_FILE_LAUNCH && strcmp(section, "signature") == 0) return;
    const char* known[] = {"launch", "identification", launch_settings.app};
    const char* near = nearest(section, known, launch_settings.app[0] != '\0' ? 3 : 2);
    if (near != nullptr)
        check_warn(file, section_line, "unknown-section",
                   "no table knows the section [%s] (did you mean [%s]?): its lines are ignored",
                   section, near);
    else if (file == CHECK_FILE_LAUNCH)
        check_warn(file, section_line, "unknown-section",
                   "the section [%s] is neither [launch], [identification] nor the product "
                   "named by app%s%s%s: its lines are ignored",
                   section, launch_settings.app[0] != '\0' ? " (now \"" : " (not set yet",
                   launch_settings.app, launch_settings.app[0] != '\0' ? "\")" : ")");
}

void warn_no_effect(const char* key, SectionKind kind) {
    unsigned kinds = kinds_knowing(key);
    if (kinds == 0) {
        const char* near = nearest(key, KEY_NAMES, sizeof KEY_NAMES / sizeof *KEY_NAMES);
        if (near != nullptr)
            check_warn(file, line_number, "unknown-key",
                       "no section knows the key \"%s\" (did you mean \"%s\"?)", key, near);
        else
            check_warn(file, line_number, "unknown-key", "no section knows the key \"%s\"", key);
        return;
    }
    char where[80] = "";
    for (int k = SECTION_LAUNCH; k <= SECTION_IDENTIFICATION; k++)
        if (kinds & (1u << k)) {
            size_t used = strlen(where);
            snprintf(where + used, sizeof where - used, "%s%s", used > 0 ? " or " : "",
                     KIND_NAMES[k]);
        }
    check_warn(file, line_number, "no-effect",
               "the key \"%s\" has no effect in %s section; it belongs in %s section", key,
               KIND_NAMES[kind], where);
}

void on_setting(const char* key, const char* value, SectionKind kind, const void* field,
                SettingEffect effect) {
    FieldTrace* trace = trace_of(field);
    // command, path and the publisher's keys: known to the product's section,
    // refused from a downloaded file.
    bool settings_only =
        effect == EFFECT_FROM_LAUNCH_FILE ||
        (file == CHECK_FILE_LAUNCH && effect == EFFECT_NONE && kind == SECTION_PRODUCT &&
         (kinds_knowing(key) & (1u << SECTION_PRODUCT)) != 0) ||
        (file == CHECK_FILE_LAUNCH && effect == EFFECT_NONE &&
         (names_equal(key, "command") || names_equal(key, "path")));
    if (settings_only) {
        check_warn(file, line_number, "launch-file-program",
                   "a launch file may not set \"%s\": only talvin.ini chooses the program, its "
                   "folder and its publisher's keys",
                   key);
        return;
    }
    switch (effect) {
    case EFFECT_NONE:
        if (kind == SECTION_NONE)
            warn_section();
        else
            warn_no_effect(key, kind);
        break;
    case EFFECT_STORED:
        if (trace != nullptr) record_set(trace, value);
        if (field == launch_settings.command)
            record_set(trace_of(&launch_settings.command_found), "1");
        break;
    case EFFECT_TOO_LONG:
        check_warn(file, line_number, "too-long",
                   "the value of \"%s\" is %u characters, longer than the %u that %s holds: the "
                   "line is ignored%s",
                   key, (unsigned)strlen(value), trace != nullptr ? trace->capacity - 1 : 0,
                   trace != nullptr ? trace->name : key,
                   file != CHECK_FILE_LAUNCH ? " (talvin-config checks every value it writes)"
                                             : "");
        break;
    case EFFECT_NO_INTEGER:
        if (trace != nullptr && strcmp(trace->name, "send_identification") == 0) {
            record_set(trace, value);
            check_warn(file, line_number, "no-number",
                       "\"%s\" holds no number: send_identification is inverted", key);
        } else {
            check_warn(file, line_number, "no-number", "\"%s\" holds no number: %s keeps its value",
                       key, trace != nullptr ? trace->name : key);
        }
        break;
    case EFFECT_FROM_LAUNCH_FILE:
        break; // warned above
    }
    // The last path of talvin.ini decides whether the product's folder is known.
    if (field == launch_settings.path && file != CHECK_FILE_LAUNCH)
        check_report.path_too_long_line = effect == EFFECT_TOO_LONG ? line_number : 0;
    if (trace != nullptr && strcmp(trace->name, "app") == 0 && effect == EFFECT_STORED) {
        check_report.app_file = file;
        check_report.app_line = line_number;
    }
}

const LaunchObserver OBSERVER = {on_file, on_line, on_ctrl_z, on_section, on_setting};

} // namespace

void check_copy(char* dest, unsigned capacity, const char* text) {
    size_t length = strlen(text);
    if (length < capacity) {
        memcpy(dest, text, length + 1);
        return;
    }
    memcpy(dest, text, capacity - 4);
    memcpy(dest + capacity - 4, "...", 4);
}

void check_warn(int in_file, unsigned line, const char* code, const char* format, ...) {
    CheckReport& r = check_report;
    if (r.warning_count < CHECK_WARNINGS_CAP) {
        CheckWarning& w = r.warnings[r.warning_count];
        w.file = in_file;
        w.line = line;
        w.code = code;
        va_list args;
        va_start(args, format);
        vsnprintf(w.text, sizeof w.text, format, args);
        va_end(args);
    }
    r.warning_count++;
}

const FieldTrace* check_field(const char* name) {
    for (const FieldTrace& trace : check_report.fields)
        if (strcmp(trace.name, name) == 0) return &trace;
    return nullptr;
}

void check_observe(void) {
    LaunchSettings& s = launch_settings;
    struct Field {
        const char* name;
        const void* address;
        unsigned capacity;
    };
#define TEXT_FIELD(name) {#name, s.name, sizeof s.name},
#define NUMBER_FIELD(name) {#name, &s.name, 0},
    const Field fields[CHECK_FIELD_COUNT] = {LAUNCH_SETTINGS_TEXT_FIELDS(TEXT_FIELD)
                                                 LAUNCH_SETTINGS_NUMBER_FIELDS(NUMBER_FIELD)};
#undef TEXT_FIELD
#undef NUMBER_FIELD
    memset(&check_report, 0, sizeof check_report);
    for (unsigned i = 0; i < CHECK_FIELD_COUNT; i++) {
        check_report.fields[i].name = fields[i].name;
        check_report.fields[i].address = fields[i].address;
        check_report.fields[i].capacity = fields[i].capacity;
    }
    check_record.file = -1;
    launch_observer = &OBSERVER;
}
