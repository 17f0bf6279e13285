#include "check/check_run.h"

#include "launch/entry.h"
#include "launch/launch_sequence.h"
#include "launch_files/launch_settings.h"
#include "launch_files/launch_signature.h"
#include "launch_files/section_reader.h"
#include "launch/command_line_split.h"

#include <stdio.h>
#include <string.h>

namespace {

// Why file `file` of the report could not be read: the launcher takes a file
// it opened but could not read to its end as one it cannot open.
void why_unread(int file, int settings, char* reason, unsigned capacity) {
    if (check_report.opened[file])
        check_format(reason, capacity,
                     "a read failed before its end (or no working memory was left)");
    else
        check_why_unopened(check_report.files[file], settings, reason, capacity);
}

void explain_launch_file(const CheckRun* run, char* why) {
    const CheckReport& r = check_report;
    if (run->argument[0] == '\0' && run->argument_note[0] != '\0') {
        check_format(why, CHECK_WHY_CAP, "%s", run->argument_note);
    } else if (run->argument[0] == '\0' || strcmp(run->argument, "\"\"") == 0) {
        check_format(why, CHECK_WHY_CAP, "no launch file was named");
    } else if (r.tried[CHECK_FILE_LAUNCH]) {
        char reason[CHECK_WHY_CAP];
        why_unread(CHECK_FILE_LAUNCH, 0, reason, sizeof reason);
        check_format(why, CHECK_WHY_CAP, "%s cannot be %s: %s", r.files[CHECK_FILE_LAUNCH],
                     r.opened[CHECK_FILE_LAUNCH] ? "read" : "opened", reason);
    } else if (strlen(run->argument) >= LAUNCH_PATH_CAP) {
        check_format(why, CHECK_WHY_CAP, "the launch file's path is longer than %u bytes",
                     LAUNCH_PATH_CAP - 1);
    } else {
        check_format(why, CHECK_WHY_CAP,
                     "the path would not reach the product whole as one quoted argument (it holds "
                     "a double quote or ends in a backslash), or it cannot be made absolute within "
                     "%u bytes",
                     LAUNCH_PATH_CAP - 1);
    }
}

void explain_not_installed(char* why) {
    const LaunchSettings& s = launch_settings;
    const CheckReport& r = check_report;
    const FieldTrace* command = check_field("command");
    if (s.app[0] == '\0')
        check_format(why, CHECK_WHY_CAP, "no [launch] section sets app, the product's section");
    else if (!r.product_section_seen)
        check_format(why, CHECK_WHY_CAP, "talvin.ini has no [%s] section", s.app);
    else if (!s.command_found)
        check_format(why, CHECK_WHY_CAP, "the [%s] section of talvin.ini sets no command%s", s.app,
                     command->set ? "" : " (or one too long for its field)");
    else if (s.path_too_long)
        check_format(why, CHECK_WHY_CAP,
                     "the last path of the [%s] section, talvin.ini line %u, is longer than the "
                     "%u bytes its field holds: the product's folder is unknown",
                     s.app, r.path_too_long_line, (unsigned)sizeof s.path - 1);
    else
        why[0] = '\0';
}

// What was wrong with a link the launcher refuses.
void explain_link(const CheckRun* run, char* why) {
    const DecodedLink& link = run->decoded;
    const char* text = run->argument[0] == '"' ? run->argument + 1 : run->argument;
    unsigned char c = (unsigned char)text[link.bad_at];
    switch (link.verdict) {
    case LINK_TOO_LONG:
        check_format(why, CHECK_WHY_CAP, "the link is %u characters long; at most %u are taken",
                     (unsigned)strcspn(text, "\""), LINK_LENGTH_LIMIT);
        break;
    case LINK_NOT_BASE64URL:
        if (c == '"')
            check_format(why, CHECK_WHY_CAP, "text follows the link's closing double quote");
        else if (c == '\0' || c == '=' || c == '%')
            check_format(why, CHECK_WHY_CAP,
                         "its base64url text has a length that no encoding gives (a lone last "
                         "character, or padding that does not complete the last four)");
        else
            check_format(why, CHECK_WHY_CAP,
                         "character %u of the link, byte 0x%02X, is not base64url (A-Z a-z 0-9 "
                         "- _), nor padding at its end",
                         link.bad_at + 1, c);
        break;
    case LINK_EMPTY:
        check_format(why, CHECK_WHY_CAP, "nothing follows \"talvin:\"");
        break;
    case LINK_NOT_STORED:
        if (check_record.link_asked)
            check_format(why, CHECK_WHY_CAP, "the folder %s cannot be used: %s",
                         check_record.link_folder, check_record.link_refused);
        else
            check_format(why, CHECK_WHY_CAP,
                         "there is no folder for it (no XDG_RUNTIME_DIR, XDG_CACHE_HOME or HOME "
                         "names one), or its path would not fit %u bytes or reach the product "
                         "whole",
                         LAUNCH_PATH_CAP - 1);
        break;
    case LINK_DECODED:
        why[0] = '\0';
        break;
    }
}

void explain_box(const CheckRun* run, const CheckBox& box, char* why) {
    const CheckReport& r = check_report;
    if (run->is_link && strcmp(box.caption, "Launcher") == 0 &&
        run->decoded.verdict != LINK_DECODED &&
        strcmp(box.text, link_refusal(run->decoded.verdict)) == 0) {
        explain_link(run, why);
    } else if (strcmp(box.text, "Unable to open launch file!") == 0) {
        explain_launch_file(run, why);
    } else if (strncmp(box.text, "Unable to open talvin.ini file!", 31) == 0) {
        const char* own =
            run->settings_option != nullptr ? run->settings_option : r.files[CHECK_FILE_SETTINGS];
        const char* line = box.text + 32; // the line of a refused file, after the text
        if (!r.tried[CHECK_FILE_SETTINGS] && !r.tried[CHECK_FILE_SYSTEM]) {
            check_format(why, CHECK_WHY_CAP, "there is no settings folder");
        } else if (strlen(box.text) > 32 && strncmp(line, own, strlen(own)) == 0) {
            // The user's own file stops the launch, whatever the system's.
            char reason[CHECK_WHY_CAP];
            check_why_unopened(r.files[CHECK_FILE_SETTINGS], 1, reason, sizeof reason);
            check_format(why, CHECK_WHY_CAP, "%s cannot be opened: %s", own, reason);
        } else {
            char reason[CHECK_WHY_CAP], system_reason[CHECK_WHY_CAP] = "";
            why_unread(CHECK_FILE_SETTINGS, 1, reason, sizeof reason);
            if (r.tried[CHECK_FILE_SYSTEM])
                why_unread(CHECK_FILE_SYSTEM, 1, system_reason, sizeof system_reason);
            check_format(why, CHECK_WHY_CAP, "%s%s%s%s%s cannot be opened: %s",
                         r.tried[CHECK_FILE_SYSTEM] ? r.files[CHECK_FILE_SYSTEM] : "",
                         r.tried[CHECK_FILE_SYSTEM] ? " cannot be opened: " : "", system_reason,
                         r.tried[CHECK_FILE_SYSTEM] ? "; and " : "",
                         run->settings_option != nullptr ? run->settings_option
                                                         : r.files[CHECK_FILE_SETTINGS],
                         reason);
        }
    } else if (strcmp(box.caption, "Launch file refused") == 0) {
        char reason[CHECK_WHY_CAP] = "";
        const char* path = r.files[CHECK_FILE_LAUNCH];
        platform_file file = platform_open_for_reading(path);
        if (run->signature.verdict == SIGNATURE_VALID && file != PLATFORM_NO_FILE)
            platform_others_could_change(file, path, 0600, reason, sizeof reason);
        if (file != PLATFORM_NO_FILE) platform_close(file);
        if (reason[0] != '\0')
            check_format(why, CHECK_WHY_CAP,
                         "the product requires its publisher's signature, and the launch file "
                         "must be safe from other accounts: %s",
                         reason);
        else
            check_format(why, CHECK_WHY_CAP, "the product requires its publisher's signature: %s",
                         signature_verdict_text(run->signature.verdict));
    } else if (strcmp(box.caption, "Product not installed!") == 0) {
        explain_not_installed(why);
    } else if (strncmp(box.text, "no matching ']' found on ", 25) == 0 && box.file >= 0) {
        check_format(why, CHECK_WHY_CAP, "line %u of %s has a section header without ']'", box.line,
                     box.file == CHECK_FILE_LAUNCH ? "the launch file" : "talvin.ini");
    } else if (check_record.started) {
        check_format(why, CHECK_WHY_CAP, "%s", check_record.start_why);
    } else {
        why[0] = '\0';
    }
}

// Warnings that need the whole run.
void warn_after(const CheckRun* run) {
    const LaunchSettings& s = launch_settings;
    const CheckReport& r = check_report;
    if ((r.opened[CHECK_FILE_SETTINGS] || r.opened[CHECK_FILE_SYSTEM]) && s.app[0] != '\0' &&
        !r.product_section_seen)
        check_warn(r.app_file, r.app_line, "no-product-section",
                   "app names the product \"%s\", but talvin.ini has no [%s] section (its "
                   "installer writes one with: talvin-config set %s --command ...)",
                   s.app, s.app, s.app);
    if (run->argument[0] != '\0' && run->argument_note[0] != '\0')
        check_warn(-1, 0, "short-form", "%s", run->argument_note);
    const FieldTrace* password = check_field("password");
    int in = password->last.file;
    const char* settings = run->settings_option != nullptr && in == CHECK_FILE_SETTINGS
                               ? run->settings_option
                               : r.files[in];
    if (password->set && in != CHECK_FILE_LAUNCH && check_readable_by_others(settings))
        check_warn(in, password->last.line, "password-readable",
                   "talvin.ini holds a password and other users may read it (chmod 600 %s)",
                   settings);
    if (check_record.change_fails[0] != '\0') {
        const FieldTrace* path = check_field("path");
        check_warn(path->last.file, path->last.line, "path-unusable",
                   "the launcher cannot change to the folder %s (%s): the product would run in "
                   "the launcher's own folder, and a relative command is looked for from there",
                   check_record.change_asked, check_record.change_fails);
    }
    for (unsigned i = 0; i < check_record.box_count && i < CHECK_BOXES_CAP; i++) {
        const CheckBox& box = check_record.boxes[i];
        if (strcmp(box.text, "Unable to open launch file!") == 0 && !r.tried[CHECK_FILE_LAUNCH])
            check_warn(-1, 0, "launch-path", "the launcher would refuse this launch path: %s",
                       run->box_why[i]);
    }
}

// Each `from` in `text` (a box's text) replaced by `to`, cut to fit.
void rename_in(char* text, const char* from, const char* to) {
    char renamed[CHECK_TEXT_CAP] = "";
    size_t from_length = strlen(from);
    for (char *p = text, *at; *p != '\0'; p = at + from_length) {
        at = strstr(p, from);
        size_t used = strlen(renamed);
        check_format(renamed + used, (unsigned)(sizeof renamed - used), "%.*s%s",
                     (int)(at != nullptr ? at - p : (long)strlen(p)), p, at != nullptr ? to : "");
        if (at == nullptr) break;
    }
    memcpy(text, renamed, sizeof renamed);
}

} // namespace

void check_run(CheckRun* run) {
    check_observe();
    launch_signature_checked = false;
    memset(&check_record, 0, sizeof check_record);
    check_record.file = -1;
    char settings_dir[CHECK_PATH_CAP] = "";
    if (run->settings_option != nullptr) {
        check_format(run->settings_reason, CHECK_WHY_CAP, "Given with --settings.");
        const char* name = strrchr(run->settings_option, platform_path_separator());
        name = name != nullptr ? name + 1 : run->settings_option;
        bool named_so = strcmp(name, SETTINGS_FILE_NAME) == 0;
        if (named_so) {
            size_t length = (size_t)(name - run->settings_option);
            if (length == 0) {
                char current[SETTINGS_DIR_CAP];
                unsigned n = platform_current_directory(current, sizeof current - 1);
                if (n > 0 && n < sizeof current - 1) {
                    current[n] = platform_path_separator();
                    current[n + 1] = '\0';
                    check_copy(settings_dir, sizeof settings_dir, current);
                }
            } else if (length < sizeof settings_dir) {
                memcpy(settings_dir, run->settings_option, length);
                settings_dir[length] = '\0';
            }
        } else if (!check_make_settings_folder(run->settings_option, settings_dir,
                                               sizeof settings_dir)) {
            settings_dir[0] = '\0';
        }
        char launch_path[LAUNCH_PATH_CAP] = "";
        if (strlen(run->argument) < sizeof launch_path) strcpy(launch_path, run->argument);
        if (is_link(run->argument))
            launch_from_link(nullptr, "", settings_dir, run->argument);
        else
            run_launch(nullptr, settings_dir, launch_path);
        if (settings_dir[0] != '\0' && !named_so) {
            check_remove_settings_folder(settings_dir);
            // The reader saw the scratch name, gone now: lines, reasons and
            // boxes name the file given.
            if (check_report.tried[CHECK_FILE_SETTINGS])
                check_copy(check_report.files[CHECK_FILE_SETTINGS], CHECK_PATH_CAP,
                           run->settings_option);
            char scratch[CHECK_PATH_CAP];
            check_format(scratch, sizeof scratch, "%s%s", settings_dir, SETTINGS_FILE_NAME);
            for (unsigned i = 0; i < check_record.box_count && i < CHECK_BOXES_CAP; i++)
                rename_in(check_record.boxes[i].text, scratch, run->settings_option);
        }
    } else {
        check_format(run->settings_reason, CHECK_WHY_CAP, "%s",
                     platform_settings_directory_reason());
        // Told apart from the user's own by its name.
        char system[SETTINGS_DIR_CAP], own[SETTINGS_DIR_CAP];
        unsigned length = platform_system_settings_directory(system, WINDOWS_DIR_QUERY_CAP);
        unsigned own_length = platform_windows_directory(own, WINDOWS_DIR_QUERY_CAP);
        if (length > 0 && length < WINDOWS_DIR_QUERY_CAP &&
            !(own_length == length && memcmp(own, system, length) == 0))
            check_format(check_report.system_file, CHECK_PATH_CAP, "%s%c%s", system,
                         platform_path_separator(), SETTINGS_FILE_NAME);
        launch_from_argument_text(nullptr, run->argument);
    }
    launch_observer = nullptr;
    run->is_link = is_link(run->argument);
    if (run->is_link) {
        decode_link(run->argument, &run->decoded);
        // The launcher would also refuse a link whose file cannot be kept.
        if (run->decoded.verdict == LINK_DECODED && check_record.link_file[0] == '\0')
            run->decoded.verdict = LINK_NOT_STORED;
    }

    const CheckReport& r = check_report;
    run->cannot_tell = check_record.started && check_record.start_result == CHECK_START_UNKNOWN;
    run->would_start = check_record.started && check_record.start_result > 31 && !run->cannot_tell;
    // The settings file the launcher would have read next, when it was not reached.
    if (!r.tried[CHECK_FILE_SETTINGS] && run->settings_option == nullptr) {
        char dir[SETTINGS_DIR_CAP];
        unsigned length = platform_windows_directory(dir, WINDOWS_DIR_QUERY_CAP);
        if (length > 0 && length < WINDOWS_DIR_QUERY_CAP)
            check_format(check_report.files[CHECK_FILE_SETTINGS], CHECK_PATH_CAP, "%s%c%s", dir,
                         platform_path_separator(), SETTINGS_FILE_NAME);
    }
    // A file opened but not read to its end could not be read either.
    run->could_not_read = run->argument[0] == '\0' ||
                          (section_file_unread &&
                           (!r.tried[CHECK_FILE_SETTINGS] || run->settings_option != nullptr)) ||
                          (r.tried[CHECK_FILE_LAUNCH] && !r.opened[CHECK_FILE_LAUNCH]) ||
                          (run->settings_option != nullptr && !r.opened[CHECK_FILE_SETTINGS] &&
                           r.opened[CHECK_FILE_LAUNCH]);
    run->signature_checked = r.opened[CHECK_FILE_LAUNCH];
    // The launcher's own check of the bytes it read, when it made one.
    if (run->signature_checked)
        run->signature = launch_signature_checked
                             ? launch_signature_check
                             : check_launch_signature(r.files[CHECK_FILE_LAUNCH]);
    for (unsigned i = 0; i < check_record.box_count && i < CHECK_BOXES_CAP; i++)
        explain_box(run, check_record.boxes[i], run->box_why[i]);
    warn_after(run);
}

void check_end(const CheckRun*) {
    if (check_record.link_file[0] != '\0') check_remove_scratch_file(check_record.link_file);
}
