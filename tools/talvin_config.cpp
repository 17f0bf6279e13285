// talvin-config: writes products' sections and the user's identification
// into talvin.ini, checked against the launcher's own limits first, so that
// what is written is what the launcher reads. Exit status 0: done; 1: the
// write (or show's read or output) failed and nothing changed; 2: refused,
// nothing changed.
#include "check/check_face.h"
#include "check/terminal_text.h"
#include "launch/launch_sequence.h"
#include "launch_files/launch_settings.h"
#include "launch_files/launch_signature.h"
#include "platform/settings_write.h"
#include "platform/terminal_set.h"
#include "tools/config_edit.h"
#include "tools/config_write.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char USAGE[] =
    "usage: talvin-config [--file FILE | --system] set PRODUCT --command CMD [--path DIR]\n"
    "                     [--title TEXT] [--publickey KEY]...\n"
    "       talvin-config [--file FILE | --system] remove PRODUCT\n"
    "       talvin-config [--file FILE] identification --user NAME [--email ADDR]\n"
    "                     (the password is read from standard input)\n"
    "       talvin-config [--file FILE] identification --clear\n"
    "       talvin-config [--file FILE | --system] show\n"
    "       talvin-config --version\n";

struct Request {
    const char* command;
    const char* product;
    const char* file;
    bool system;
    const char* program; // --command
    const char* path;
    const char* title;
    const char* keys[PUBLIC_KEY_SLOTS];
    unsigned key_count;
    const char* user;
    const char* email;
    bool clear;
};

int usage(const char* why) {
    if (why != nullptr) terminal_printf(stderr, "talvin-config: %s\n", why);
    fputs(USAGE, stderr);
    return CONFIG_REFUSED;
}

int refuse(const char* format, const char* a, const char* b = "") {
    fputs("talvin-config: ", stderr);
    terminal_printf(stderr, format, a, b);
    fputs("; nothing was changed\n", stderr);
    return CONFIG_REFUSED;
}

// Reads the options; a null `why` and 1 when they make a request.
bool parse(int argc, char** argv, Request* r, const char** why) {
    *why = nullptr;
    for (int i = 1; i < argc; i++) {
        const char* a = argv[i];
        const char** value = nullptr;
        if (strcmp(a, "--system") == 0) {
            r->system = true;
        } else if (strcmp(a, "--clear") == 0) {
            r->clear = true;
        } else if (strcmp(a, "--file") == 0) {
            value = &r->file;
        } else if (strcmp(a, "--command") == 0) {
            value = &r->program;
        } else if (strcmp(a, "--path") == 0) {
            value = &r->path;
        } else if (strcmp(a, "--title") == 0) {
            value = &r->title;
        } else if (strcmp(a, "--user") == 0) {
            value = &r->user;
        } else if (strcmp(a, "--email") == 0) {
            value = &r->email;
        } else if (strcmp(a, "--publickey") == 0) {
            if (r->key_count == PUBLIC_KEY_SLOTS) {
                *why = "at most 4 --publickey";
                return false;
            }
            value = &r->keys[r->key_count++];
        } else if (strcmp(a, "--password") == 0) {
            *why = "the password is never an argument (every user sees the arguments): it is "
                   "read from standard input";
            return false;
        } else if (a[0] == '-' && a[1] == '-') {
            *why = "unknown option";
            return false;
        } else if (r->command == nullptr) {
            r->command = a;
        } else if (r->product == nullptr) {
            r->product = a;
        } else {
            *why = "too many words";
            return false;
        }
        if (value != nullptr) {
            if (i + 1 >= argc || *value != nullptr) {
                *why = i + 1 >= argc ? "an option lacks its value" : "an option is given twice";
                return false;
            }
            *value = argv[++i];
        }
    }
    return r->command != nullptr;
}

// The launcher reads a value as its full text: from its first byte that is
// no blank or '=' to its last that is no blank, to the line's end. One it
// would read otherwise, or one too long for its field, is refused.
int check_value(const char* option, const char* value, size_t capacity) {
    size_t length = strlen(value);
    char field[16];
    snprintf(field, sizeof field, "%u", (unsigned)(capacity - 1));
    if (length == 0) return refuse("%s is empty", option);
    if (length >= capacity)
        return refuse("%s is longer than the %s bytes the launcher's field holds", option, field);
    if (strpbrk(value, "\n\r\x1a") != nullptr)
        return refuse("%s holds a line feed, carriage return or Ctrl-Z", option);
    if (value[0] == ' ' || value[0] == '\t' || value[0] == '=' || value[length - 1] == ' ')
        return refuse("%s begins with a blank or '=', or ends with a blank: the launcher would "
                      "read it without them",
                      option);
    return 0;
}

int check_product(const char* name) {
    if (name == nullptr) return usage("which product?");
    size_t length = strlen(name);
    if (length == 0 || length >= sizeof launch_settings.app)
        return refuse("the product name \"%s\" is empty or longer than the %s bytes of the "
                      "launcher's app field",
                      name, "79");
    if (strpbrk(name, "] \t=\n\r\x1a") != nullptr || names_equal(name, "launch") ||
        names_equal(name, "identification") || names_equal(name, "signature"))
        return refuse("the launcher could not match a product named \"%s\" (no ']', blank, "
                      "'=' or line end; not launch, identification or signature)",
                      name);
    return 0;
}

// Warnings for what may be installed later: written all the same.
void warn_missing(const Request& r) {
    if (r.path != nullptr && !platform_is_folder(r.path))
        terminal_printf(stderr, "talvin-config: warning: the path %s is no folder (yet)\n", r.path);
    char why[600];
    unsigned result = check_predict_start(r.program, r.path, why, sizeof why);
    if (result == 2 || result == 3)
        terminal_printf(stderr, "talvin-config: warning: %s (yet)\n", why);
}

int settings_file(const Request& r, char* dest, size_t capacity) {
    if (r.file != nullptr) {
        if (strlen(r.file) >= capacity) return refuse("%s: the name is too long", r.file);
        strcpy(dest, r.file);
        return 0;
    }
    char folder[CONFIG_PATH_CAP], system[CONFIG_PATH_CAP];
    unsigned system_length = platform_system_settings_directory(system, sizeof system);
    unsigned length = r.system ? system_length : platform_windows_directory(folder, sizeof folder);
    if (r.system) strcpy(folder, system);
    if (r.system && system_length == 0)
        return refuse("%s", "there is no system folder here (WINDIR names the one folder)");
    if (length == 0 || length >= sizeof folder)
        return refuse("%s", "no settings folder (WINDIR, XDG_CONFIG_HOME or HOME)");
    // Without a folder of the user's own the launcher's search ends at the
    // system folder, whose file every account reads.
    if (!r.system && system_length > 0 && strcmp(folder, system) == 0)
        return refuse("%s", "no folder of your own: set HOME, or name the file with --file");
    if (snprintf(dest, capacity, "%s%c%s", folder, platform_path_separator(), SETTINGS_FILE_NAME) >=
        (int)capacity)
        return refuse("%s", "the settings folder's name is too long");
    return 0;
}

int run_set(const Request& r, ConfigChange* change) {
    int refused = check_product(r.product);
    if (refused == 0 && r.program == nullptr) return usage("set needs --command");
    if (refused == 0) refused = check_value("--command", r.program, sizeof launch_settings.command);
    if (refused == 0 && r.path != nullptr)
        refused = check_value("--path", r.path, sizeof launch_settings.path);
    if (refused == 0 && r.title != nullptr)
        refused = check_value("--title", r.title, sizeof launch_settings.title);
    unsigned char point[64];
    for (unsigned i = 0; refused == 0 && i < r.key_count; i++) {
        refused = check_value("--publickey", r.keys[i], PUBLIC_KEY_CAP);
        if (refused == 0 && !read_public_key(r.keys[i], point))
            refused = refuse("--publickey %s is not a P-256 public key (base64 of its DER form, "
                             "as talvin-sign --public prints it)",
                             r.keys[i]);
    }
    if (refused != 0) return refused;
    static char lines[3 + PUBLIC_KEY_SLOTS][CONFIG_TEXT_CAP / 4];
    static const char* line_of[3 + PUBLIC_KEY_SLOTS];
    unsigned n = 0;
    snprintf(lines[n++], sizeof lines[0], "command=%s", r.program);
    if (r.path != nullptr) snprintf(lines[n++], sizeof lines[0], "path=%s", r.path);
    if (r.title != nullptr) snprintf(lines[n++], sizeof lines[0], "title=%s", r.title);
    for (unsigned i = 0; i < r.key_count; i++)
        snprintf(lines[n++], sizeof lines[0], "publickey%u=%s", i + 1, r.keys[i]);
    for (unsigned i = 0; i < n; i++)
        line_of[i] = lines[i];
    change->lines = line_of;
    change->line_count = n;
    warn_missing(r);
    return 0;
}

int run_identification(const Request& r, ConfigChange* change) {
    change->name = "identification";
    if (r.system || platform_is_system_settings_file(change->path))
        return refuse("%s is the system file, which holds no identification: every account "
                      "reads it",
                      change->path);
    if (r.clear)
        return r.user != nullptr || r.email != nullptr ? usage("--clear takes nothing more") : 0;
    if (r.user == nullptr) return usage("identification needs --user (or --clear)");
    int refused = check_value("--user", r.user, sizeof launch_settings.user);
    if (refused == 0 && r.email != nullptr)
        refused = check_value("--email", r.email, sizeof launch_settings.email);
    if (refused != 0) return refused;
    static char password[sizeof launch_settings.password + 1];
    long length = platform_read_secret("Password: ", password, sizeof password);
    // The password itself is never shown, not even in a refusal.
    if (length < 0 || (size_t)length >= sizeof launch_settings.password)
        return refuse("no password was read, or it is longer than the %s bytes of its field",
                      "255");
    if (strlen(password) != (size_t)length) return refuse("%s", "the password holds a zero byte");
    if (check_value("the password", password, sizeof launch_settings.password) != 0)
        return CONFIG_REFUSED;
    static char lines[3][CONFIG_TEXT_CAP / 4];
    static const char* line_of[3];
    unsigned n = 0;
    snprintf(lines[n++], sizeof lines[0], "user=%s", r.user);
    snprintf(lines[n++], sizeof lines[0], "password=%s", password);
    if (r.email != nullptr) snprintf(lines[n++], sizeof lines[0], "email=%s", r.email);
    for (unsigned i = 0; i < n; i++)
        line_of[i] = lines[i];
    change->lines = line_of;
    change->line_count = n;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    platform_hold_standard_streams();
    static Request r;
    const char* why;
    if (argc == 2 && strcmp(argv[1], "--help") == 0) {
        fputs(USAGE, stdout);
        return terminal_output_written("talvin-config") ? 0 : CONFIG_WRITE_FAILED;
    }
    if (argc == 2 && strcmp(argv[1], "--version") == 0) {
        puts("talvin-config " LAUNCHER_VERSION);
        return terminal_output_written("talvin-config") ? 0 : CONFIG_WRITE_FAILED;
    }
    if (!parse(argc, argv, &r, &why)) return usage(why);
    if (r.file != nullptr && r.system) return usage("--file or --system, not both");
    static char path[CONFIG_PATH_CAP];
    int refused = settings_file(r, path, sizeof path);
    if (refused != 0) return refused;
    static char not_own[600];
    if (!platform_act_as_home_owner(path, r.file == nullptr && !r.system, not_own, sizeof not_own))
        return refuse("%s: %s", path, not_own);

    bool set = strcmp(r.command, "set") == 0, remove = strcmp(r.command, "remove") == 0;
    bool identification = strcmp(r.command, "identification") == 0;
    bool product_options =
        r.program != nullptr || r.path != nullptr || r.title != nullptr || r.key_count > 0;
    bool identification_options = r.user != nullptr || r.email != nullptr || r.clear;
    if (strcmp(r.command, "show") == 0) {
        if (r.product != nullptr || product_options || identification_options)
            return usage("show takes no more");
        int shown = show_settings(path);
        if (shown > 0) return terminal_output_written("talvin-config") ? 0 : CONFIG_WRITE_FAILED;
        // A read that failed part way is a failure, as a write's is: the
        // file was opened, so it is no refusal and the launcher's reason for
        // one would not say what happened.
        if (shown < 0) {
            terminal_printf(stderr, "talvin-config: %s: cannot be read to its end\n", path);
            return CONFIG_WRITE_FAILED;
        }
        // Not opened is refused, as a write refuses it.
        char reason[600];
        check_why_unopened(path, 1, reason, sizeof reason);
        terminal_printf(stderr, "talvin-config: %s: the launcher would not read it: %s\n", path,
                        reason);
        return CONFIG_REFUSED;
    }
    if ((!set && !remove && !identification) || ((set || remove) && identification_options) ||
        (!set && product_options) || (identification && r.product != nullptr))
        return usage(nullptr);

    ConfigChange change = {};
    change.path = path;
    change.name = r.product;
    // The system file is read by every account: a new one is made readable.
    change.new_mode = r.system ? 0644 : 0600;
    change.private_folder = r.file == nullptr && !r.system;
    change.holds_password = identification && !r.clear;
    refused = set      ? run_set(r, &change)
              : remove ? check_product(r.product)
                       : run_identification(r, &change);
    if (refused != 0) return refused;
    return config_write(change);
}
