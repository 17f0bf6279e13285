#include "launch_files/launch_settings.h"

#include "launch_files/launch_observer.h"

#include <string.h>

LaunchSettings launch_settings = {
    "", "", "", "", "", "", "", "", "", "", "unknown", "quillet", "", 0, 1, 0, {}, 0, 0,
};

void launch_settings_init(void) {
    static const LaunchSettings initial = {
        "", "", "", "", "", "", "", "", "", "", "unknown", "quillet", "", 0, 1, 0, {}, 0, 0,
    };
    launch_settings = initial;
}

namespace {

char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
}

// What the key line being applied did, for the observer.
struct Outcome {
    SectionKind kind;
    const void* field;
    const char* value;
    SettingEffect effect;
} outcome;

void note(const void* field, const char* value, SettingEffect effect) {
    outcome.field = field;
    outcome.value = value;
    outcome.effect = effect;
}

// Copies `value` into a field of `capacity` bytes; a value that would not fit
// is refused whole, since a cut path or command would name something else.
template <unsigned capacity> bool store(char (&field)[capacity], const char* value) {
    size_t length = strlen(value);
    bool fits = length < capacity;
    if (fits) memcpy(field, value, length + 1);
    note(field, value, fits ? EFFECT_STORED : EFFECT_TOO_LONG);
    return fits;
}

// Reads `word` as "%d" would: optional white space, one sign, the longest run
// of digits accumulated modulo 2^32. Returns 0 when no digit was found.
bool read_integer(const char* word, int32_t* result) {
    const char* p = word;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        p++;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (*p < '0' || *p > '9') return false;
    uint32_t value = 0;
    for (; *p >= '0' && *p <= '9'; p++)
        value = value * 10u + (uint32_t)(*p - '0');
    if (negative) value = 0u - value;
    *result = (int32_t)value;
    return true;
}

void apply_messages(const char* first_word) {
    int32_t value;
    bool read = read_integer(first_word, &value);
    if (read) launch_settings.send_identification = value;
    launch_settings.send_identification = launch_settings.send_identification == 0 ? 1 : 0;
    note(&launch_settings.send_identification, first_word,
         read ? EFFECT_STORED : EFFECT_NO_INTEGER);
}

// Keys shared by the launch section and the product section.
bool apply_window_key(const char* key, const char* first_word, const char* full_text) {
    LaunchSettings& s = launch_settings;
    if (names_equal(key, "title"))
        store(s.title, full_text);
    else if (names_equal(key, "messages") || names_equal(key, "handlesmessages"))
        apply_messages(first_word);
    else if (names_equal(key, "wndclass"))
        store(s.wndclass, first_word);
    else if (names_equal(key, "closeotherapps"))
        store(s.closeotherapps, first_word);
    else if (names_equal(key, "wndname"))
        store(s.wndname, full_text);
    else
        return false;
    return true;
}

void apply_launch_key(const char* key, const char* first_word, const char* full_text) {
    LaunchSettings& s = launch_settings;
    if (apply_window_key(key, first_word, full_text)) return;
    if (names_equal(key, "product"))
        store(s.product, first_word);
    else if (names_equal(key, "server"))
        store(s.server, first_word);
    else if (names_equal(key, "missing"))
        store(s.missing, full_text);
    else if (names_equal(key, "app"))
        store(s.app, first_word);
    else if (names_equal(key, "passlaunch")) {
        int32_t value;
        bool read = read_integer(first_word, &value);
        if (read) s.passlaunch = value;
        note(&s.passlaunch, first_word, read ? EFFECT_STORED : EFFECT_NO_INTEGER);
    }
}

// A publickeyN line asks for signed launch files whatever its value holds:
// a key that cannot be read matches no signature, so nothing is let through.
// The whole value is taken: base64 may end in '=', which ends a word.
void apply_public_key(const char* key, const char* full_text) {
    static const char* const NAMES[PUBLIC_KEY_SLOTS] = {"publickey1", "publickey2", "publickey3",
                                                        "publickey4"};
    for (int slot = 0; slot < PUBLIC_KEY_SLOTS; slot++) {
        if (!names_equal(key, NAMES[slot])) continue;
        launch_settings.signature_required = 1;
        store(launch_settings.public_key[slot], full_text);
        return;
    }
}

void apply_product_key(const char* key, const char* first_word, const char* full_text,
                       SettingSource source) {
    LaunchSettings& s = launch_settings;
    if (apply_window_key(key, first_word, full_text)) return;
    // Only the installed settings say which program runs and where.
    if (source != SOURCE_SETTINGS_FILE) {
        if (names_equal(key, "path")) note(s.path, full_text, EFFECT_FROM_LAUNCH_FILE);
        if (names_equal(key, "command")) note(s.command, full_text, EFFECT_FROM_LAUNCH_FILE);
        return;
    }
    if (names_equal(key, "path"))
        s.path_too_long = store(s.path, full_text) ? 0 : 1;
    else if (names_equal(key, "command") && store(s.command, full_text))
        s.command_found = 1;
    else
        apply_public_key(key, full_text);
}

void apply_identification_key(const char* key, const char* full_text) {
    LaunchSettings& s = launch_settings;
    if (names_equal(key, "user"))
        store(s.user, full_text);
    else if (names_equal(key, "password"))
        store(s.password, full_text);
    else if (names_equal(key, "email"))
        store(s.email, full_text);
}

} // namespace

int names_equal(const char* a, const char* b) {
    for (; *a != '\0' && ascii_lower(*a) == ascii_lower(*b); a++, b++) {
    }
    return ascii_lower(*a) == ascii_lower(*b);
}

void apply_setting(const char* section, const char* key, const char* first_word,
                   const char* full_text, SettingSource source) {
    outcome = {SECTION_NONE, nullptr, full_text, EFFECT_NONE};
    if (names_equal(section, "launch")) {
        outcome.kind = SECTION_LAUNCH;
        apply_launch_key(key, first_word, full_text);
    } else if (launch_settings.app[0] != '\0' && names_equal(section, launch_settings.app)) {
        outcome.kind = SECTION_PRODUCT;
        apply_product_key(key, first_word, full_text, source);
    } else if (names_equal(section, "identification")) {
        outcome.kind = SECTION_IDENTIFICATION;
        apply_identification_key(key, full_text);
    }
    if (launch_observer != nullptr)
        launch_observer->setting(key, outcome.value, outcome.kind, outcome.field, outcome.effect);
}
