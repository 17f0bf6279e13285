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

constexpr char ascii_lower(char c) {
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

// Every key that some table knows.
enum Key {
    OTHER_KEY,
    APP,
    CLOSEOTHERAPPS,
    COMMAND,
    EMAIL,
    HANDLESMESSAGES,
    MESSAGES,
    MISSING,
    PASSLAUNCH,
    PASSWORD,
    PATH,
    PRODUCT,
    SERVER,
    TITLE,
    USER,
    WNDCLASS,
    WNDNAME,
};

struct KeyName {
    const char* name;
    Key key;
};

constexpr KeyName KEY_NAMES[] = {
    {"app", APP},
    {"closeotherapps", CLOSEOTHERAPPS},
    {"command", COMMAND},
    {"email", EMAIL},
    {"handlesmessages", HANDLESMESSAGES},
    {"messages", MESSAGES},
    {"missing", MISSING},
    {"passlaunch", PASSLAUNCH},
    {"password", PASSWORD},
    {"path", PATH},
    {"product", PRODUCT},
    {"server", SERVER},
    {"title", TITLE},
    {"user", USER},
    {"wndclass", WNDCLASS},
    {"wndname", WNDNAME},
};

// Every key line is looked up, so a key is compared with one name at most:
// the one in its slot, found from its first and fifth characters (zero for
// a shorter key), read without measuring the key. No two keys share a slot
// (checked below).
const unsigned KEY_SLOTS = 32;

constexpr unsigned slot_of(char first, char fifth) {
    return ((unsigned char)ascii_lower(first) + (unsigned char)ascii_lower(fifth) * 7u) % KEY_SLOTS;
}

constexpr char fifth_of(const char* name) {
    return name[1] != '\0' && name[2] != '\0' && name[3] != '\0' ? name[4] : '\0';
}

struct KeySlots {
    const KeyName* of[KEY_SLOTS];
    bool shared;
    constexpr KeySlots() : of(), shared(false) {
        for (const KeyName& k : KEY_NAMES) {
            unsigned slot = slot_of(k.name[0], fifth_of(k.name));
            shared = shared || of[slot] != nullptr;
            of[slot] = &k;
        }
    }
};
constexpr KeySlots KEY_SLOTS_TABLE;
static_assert(!KEY_SLOTS_TABLE.shared, "two keys share a slot: change slot_of");

Key key_of(const char* key) {
    if (key[0] == '\0') return OTHER_KEY;
    const KeyName* k = KEY_SLOTS_TABLE.of[slot_of(key[0], fifth_of(key))];
    return k != nullptr && names_equal(key, k->name) ? k->key : OTHER_KEY;
}

// Keys shared by the launch section and the product section.
bool apply_window_key(Key key, const char* first_word, const char* full_text) {
    LaunchSettings& s = launch_settings;
    switch (key) {
    case TITLE:
        store(s.title, full_text);
        return true;
    case MESSAGES:
    case HANDLESMESSAGES:
        apply_messages(first_word);
        return true;
    case WNDCLASS:
        store(s.wndclass, first_word);
        return true;
    case CLOSEOTHERAPPS:
        store(s.closeotherapps, first_word);
        return true;
    case WNDNAME:
        store(s.wndname, full_text);
        return true;
    default:
        return false;
    }
}

void apply_launch_key(Key key, const char* first_word, const char* full_text) {
    LaunchSettings& s = launch_settings;
    if (apply_window_key(key, first_word, full_text)) return;
    switch (key) {
    case PRODUCT:
        store(s.product, first_word);
        break;
    case SERVER:
        store(s.server, first_word);
        break;
    case MISSING:
        store(s.missing, full_text);
        break;
    case APP:
        store(s.app, first_word);
        break;
    case PASSLAUNCH: {
        int32_t value;
        bool read = read_integer(first_word, &value);
        if (read) s.passlaunch = value;
        note(&s.passlaunch, first_word, read ? EFFECT_STORED : EFFECT_NO_INTEGER);
        break;
    }
    default:
        break;
    }
}

// A publickeyN line asks for signed launch files whatever its value holds:
// a key that cannot be read matches no signature, so nothing is let through.
// The whole value is taken: base64 may end in '=', which ends a word.
void apply_public_key(const char* key, const char* full_text) {
    if (ascii_lower(key[0]) != 'p') return; // every name below begins with it
    static const char* const NAMES[PUBLIC_KEY_SLOTS] = {"publickey1", "publickey2", "publickey3",
                                                        "publickey4"};
    for (int slot = 0; slot < PUBLIC_KEY_SLOTS; slot++) {
        if (!names_equal(key, NAMES[slot])) continue;
        launch_settings.signature_required = 1;
        store(launch_settings.public_key[slot], full_text);
        return;
    }
}

void apply_product_key(const char* name, Key key, const char* first_word, const char* full_text,
                       SettingSource source) {
    LaunchSettings& s = launch_settings;
    if (apply_window_key(key, first_word, full_text)) return;
    // Only the installed settings say which program runs and where.
    if (source != SOURCE_SETTINGS_FILE) {
        if (key == PATH) note(s.path, full_text, EFFECT_FROM_LAUNCH_FILE);
        if (key == COMMAND) note(s.command, full_text, EFFECT_FROM_LAUNCH_FILE);
        return;
    }
    if (key == PATH)
        s.path_too_long = store(s.path, full_text) ? 0 : 1;
    else if (key == COMMAND && store(s.command, full_text))
        s.command_found = 1;
    else if (key == OTHER_KEY)
        apply_public_key(name, full_text);
}

void apply_identification_key(Key key, const char* full_text) {
    LaunchSettings& s = launch_settings;
    if (key == USER)
        store(s.user, full_text);
    else if (key == PASSWORD)
        store(s.password, full_text);
    else if (key == EMAIL)
        store(s.email, full_text);
}

} // namespace

int names_equal(const char* a, const char* b) {
    for (;; a++, b++) {
        if (*a == *b) {
            if (*a == '\0') return 1;
        } else if (ascii_lower(*a) != ascii_lower(*b)) {
            return 0;
        }
    }
}

int section_is_ignored(const char* section) {
    return !names_equal(section, "launch") &&
           !(launch_settings.app[0] != '\0' && names_equal(section, launch_settings.app)) &&
           !names_equal(section, "identification");
}

void apply_setting(const char* section, const char* key, const char* first_word,
                   const char* full_text, SettingSource source) {
    outcome = {SECTION_NONE, nullptr, full_text, EFFECT_NONE};
    if (names_equal(section, "launch")) {
        outcome.kind = SECTION_LAUNCH;
        apply_launch_key(key_of(key), first_word, full_text);
    } else if (launch_settings.app[0] != '\0' && names_equal(section, launch_settings.app)) {
        outcome.kind = SECTION_PRODUCT;
        apply_product_key(key, key_of(key), first_word, full_text, source);
    } else if (names_equal(section, "identification")) {
        outcome.kind = SECTION_IDENTIFICATION;
        apply_identification_key(key_of(key), full_text);
    }
    if (launch_observer != nullptr)
        launch_observer->setting(key, outcome.value, outcome.kind, outcome.field, outcome.effect);
}
