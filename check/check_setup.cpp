#include "check/check_setup.h"

#include "check/check_face.h"
#include "check/check_run.h"
#include "launch/entry.h"
#include "launch_files/launch_settings.h"

#include <stdio.h>
#include <string.h>

namespace {

const char* const KIND_WORDS[SETUP_HANDLER_KINDS] = {"launch files", "talvin: links"};
const char* const KIND_KEYS[SETUP_HANDLER_KINDS] = {"launch_file", "link"};

// The settings file in `folder`, judged by the launcher's own opening.
void judge_settings_file(const char* folder, SetupSettingsFile* file) {
    check_format(file->path, sizeof file->path, "%s%c%s", folder, platform_path_separator(),
                 SETTINGS_FILE_NAME);
    file->why[0] = '\0';
    platform_file opened = platform_open_settings_file(file->path);
    if (opened != PLATFORM_NO_FILE) {
        platform_close(opened);
        file->state = "read";
    } else if (!check_path_exists(file->path)) {
        file->state = "absent";
    } else {
        file->state = "refused";
        check_why_unopened(file->path, 1, file->why, sizeof file->why);
    }
}

// The files in the order the launcher reads them: the system folder's
// first, where there is one of its own.
void find_settings_files(SetupCheck* setup) {
    char system[SETTINGS_DIR_CAP], own[SETTINGS_DIR_CAP];
    unsigned length = platform_system_settings_directory(system, WINDOWS_DIR_QUERY_CAP);
    unsigned own_length = platform_windows_directory(own, WINDOWS_DIR_QUERY_CAP);
    bool has_own = own_length > 0 && own_length < WINDOWS_DIR_QUERY_CAP;
    if (length > 0 && length < WINDOWS_DIR_QUERY_CAP &&
        !(has_own && own_length == length && memcmp(own, system, length) == 0))
        judge_settings_file(system, &setup->settings[setup->settings_count++]);
    if (has_own) judge_settings_file(own, &setup->settings[setup->settings_count++]);
}

// Appends `reason` to `reasons`, parted from the one before by "; ".
void add_reason(char* reasons, unsigned capacity, const char* reason) {
    size_t used = strlen(reasons);
    check_format(reasons + used, capacity - (unsigned)used, "%s%s", used > 0 ? "; " : "", reason);
}

// The verdict: why a click would not reach a product, in words support can
// read out, or that it would.
void judge(SetupCheck* setup) {
    char reasons[sizeof setup->verdict] = "", reason[2 * CHECK_PATH_CAP];
    for (int kind = 0; kind < SETUP_HANDLER_KINDS; kind++) {
        const SetupHandler& h = setup->handlers[kind];
        if (h.handler[0] == '\0')
            check_format(reason, sizeof reason, "nothing opens %s (install the launcher)",
                         KIND_WORDS[kind]);
        else if (h.program[0] == '\0')
            check_format(reason, sizeof reason, "%s open with %s, which starts no program (%s)",
                         KIND_WORDS[kind], h.handler, h.problem);
        else if (!h.is_launcher)
            check_format(reason, sizeof reason,
                         "%s open with %s, another program, not this launcher (install the "
                         "launcher again, or make it the default)",
                         KIND_WORDS[kind], h.program);
        else
            continue;
        add_reason(reasons, sizeof reasons, reason);
    }
    bool any_read = false, any_refused = false;
    for (unsigned i = 0; i < setup->settings_count; i++) {
        const SetupSettingsFile& file = setup->settings[i];
        any_read = any_read || strcmp(file.state, "read") == 0;
        if (strcmp(file.state, "refused") != 0) continue;
        any_refused = true;
        check_format(reason, sizeof reason, "the launcher refuses %s: %s", file.path, file.why);
        add_reason(reasons, sizeof reasons, reason);
    }
    if (!any_read && !any_refused)
        add_reason(reasons, sizeof reasons,
                   "no settings file can be read, so no product is installed for the launcher "
                   "(a product's installer writes one with talvin-config)");
    setup->reaches_product = reasons[0] == '\0';
    if (setup->reaches_product)
        check_format(setup->verdict, sizeof setup->verdict,
                     "A click reaches this launcher, version %s, and it reads its settings.",
                     setup->handlers[SETUP_LAUNCH_FILES].version);
    else
        check_format(setup->verdict, sizeof setup->verdict,
                     "A click would not reach a product: %s.", reasons);
    if (setup->boxes_asked && setup->box_program[0] == '\0') {
        size_t used = strlen(setup->verdict);
        check_format(setup->verdict + used, sizeof setup->verdict - (unsigned)used,
                     " Its messages would not be seen: no program to show boxes is installed "
                     "(install the package %s).",
                     setup->box_package);
    }
}

} // namespace

int check_setup(SetupCheck* setup) {
    check_user_name(setup->user, sizeof setup->user);
    for (int kind = 0; kind < SETUP_HANDLER_KINDS; kind++) {
        SetupHandler* h = &setup->handlers[kind];
        check_find_handler(kind, h);
        if (h->program[0] != '\0' && !check_path_exists(h->program)) {
            check_format(h->problem, sizeof h->problem, "its program %s is missing", h->program);
            h->program[0] = '\0';
        }
        h->is_launcher = h->program[0] != '\0' &&
                         check_launcher_version(h->program, h->version, sizeof h->version);
    }
    find_settings_files(setup);
    setup->boxes_asked =
        check_box_program(setup->box_program, sizeof setup->box_program, &setup->box_package);
    judge(setup);
    return setup->reaches_product;
}

void check_print_setup_text(const SetupCheck* setup) {
    check_put("The setup of the user %s\n", setup->user);
    for (int kind = 0; kind < SETUP_HANDLER_KINDS; kind++) {
        const SetupHandler& h = setup->handlers[kind];
        check_put("\nA click on %s (%s):\n", KIND_WORDS[kind], h.type);
        if (h.handler[0] == '\0') {
            check_put("  Handler:  none (%s)\n", h.problem);
            continue;
        }
        check_put("  Handler:  %s\n            chosen by %s\n", h.handler, h.found_in);
        if (h.program[0] == '\0')
            check_put("  Program:  none: %s\n", h.problem);
        else if (h.is_launcher)
            check_put("  Program:  %s\n            this launcher, version %s\n", h.program,
                      h.version);
        else
            check_put("  Program:  %s\n            another program, not this launcher\n",
                      h.program);
    }
    check_put("\nSettings files, in the order the launcher reads them:\n");
    for (unsigned i = 0; i < setup->settings_count; i++) {
        const SetupSettingsFile& file = setup->settings[i];
        check_put("  %s: %s%s%s\n", file.path, file.state, file.why[0] != '\0' ? ": " : "",
                  file.why);
    }
    if (setup->boxes_asked) {
        if (setup->box_program[0] != '\0')
            check_put("\nMessage boxes: shown by %s\n", setup->box_program);
        else
            check_put("\nMessage boxes: none can be shown: neither zenity nor xmessage is on "
                      "PATH (install the package %s)\n",
                      setup->box_package);
    }
    check_put("\n%s\n", setup->verdict);
}

void check_print_setup_json(const SetupCheck* setup) {
    printf("{\n  \"format\": 1,\n  \"user\": ");
    check_put_json(setup->user);
    printf(",\n  \"handlers\": [");
    for (int kind = 0; kind < SETUP_HANDLER_KINDS; kind++) {
        const SetupHandler& h = setup->handlers[kind];
        printf("%s\n    {\"kind\": \"%s\", \"type\": ", kind > 0 ? "," : "", KIND_KEYS[kind]);
        check_put_json(h.type);
        printf(", \"handler\": ");
        check_put_json(h.handler[0] != '\0' ? h.handler : nullptr);
        printf(", \"chosen_by\": ");
        check_put_json(h.handler[0] != '\0' ? h.found_in : nullptr);
        printf(", \"program\": ");
        check_put_json(h.program[0] != '\0' ? h.program : nullptr);
        printf(", \"problem\": ");
        check_put_json(h.problem[0] != '\0' ? h.problem : nullptr);
        printf(", \"launcher\": %s, \"version\": ", h.is_launcher ? "true" : "false");
        check_put_json(h.is_launcher ? h.version : nullptr);
        printf("}");
    }
    printf("],\n  \"settings_files\": [");
    for (unsigned i = 0; i < setup->settings_count; i++) {
        const SetupSettingsFile& file = setup->settings[i];
        printf("%s\n    {\"path\": ", i > 0 ? "," : "");
        check_put_json(file.path);
        printf(", \"state\": \"%s\", \"why\": ", file.state);
        check_put_json(file.why[0] != '\0' ? file.why : nullptr);
        printf("}");
    }
    printf("],\n  \"box_program\": ");
    if (setup->boxes_asked) {
        printf("{\"path\": ");
        check_put_json(setup->box_program[0] != '\0' ? setup->box_program : nullptr);
        printf(", \"install\": ");
        check_put_json(setup->box_program[0] != '\0' ? nullptr : setup->box_package);
        printf("}");
    } else {
        printf("null");
    }
    printf(",\n  \"reaches_product\": %s,\n  \"verdict\": ",
           setup->reaches_product ? "true" : "false");
    check_put_json(setup->verdict);
    printf("\n}\n");
}
