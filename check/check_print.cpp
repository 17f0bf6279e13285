// The two forms of talvin-check's answer: text for a person, and one JSON
// object (its fields are listed in talvin-check(1); keep them stable).
#include "check/check_run.h"

#include "check/terminal_text.h"
#include "launch_files/launch_settings.h"
#include "platform/terminal_set.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace {

const char* const FILE_KEYS[] = {"launch", "settings", "system"};
const char PASSWORD_LINE[] = "\r\npassword=";

// The appended block with each character of the password shown as '*'.
void masked_append(char* dest, unsigned capacity) {
    check_copy(dest, capacity, check_record.append_bytes);
    char* password = strstr(dest, PASSWORD_LINE);
    if (password == nullptr) return;
    password += sizeof PASSWORD_LINE - 1;
    size_t length = strlen(launch_settings.password);
    for (size_t i = 0; i < length && password[i] != '\0'; i++)
        password[i] = '*';
}

const char* launch_file_shown(const CheckRun* run) {
    const CheckReport& r = check_report;
    return r.tried[CHECK_FILE_LAUNCH] ? r.files[CHECK_FILE_LAUNCH] : run->argument;
}

const char* settings_file_shown(const CheckRun* run) {
    if (run->settings_option != nullptr) return run->settings_option;
    const char* path = check_report.files[CHECK_FILE_SETTINGS];
    return path[0] != '\0' ? path : nullptr;
}

// The verdict as the JSON names it.
const char* verdict_code(SignatureVerdict verdict) {
    switch (verdict) {
    case SIGNATURE_VALID:
        return "valid";
    case SIGNATURE_ABSENT:
        return "absent";
    case SIGNATURE_MALFORMED:
        return "malformed";
    case SIGNATURE_NOT_LAST:
        return "not-last";
    case SIGNATURE_NO_MATCH:
        return "no-match";
    case SIGNATURE_NO_KEY:
        return "no-key";
    case SIGNATURE_UNREADABLE:
        return "unreadable";
    case SIGNATURE_NO_CRYPTO:
        return "no-crypto";
    }
    return "";
}

// A file with no section, or none read, has no signed part.
bool has_signed_part(const SignatureCheck& check) {
    return check.verdict != SIGNATURE_ABSENT && check.verdict != SIGNATURE_UNREADABLE;
}

const char* link_verdict_code(LinkVerdict verdict) {
    switch (verdict) {
    case LINK_DECODED:
        return "decoded";
    case LINK_TOO_LONG:
        return "too-long";
    case LINK_NOT_BASE64URL:
        return "not-base64url";
    case LINK_EMPTY:
        return "empty";
    case LINK_NOT_STORED:
        return "not-stored";
    }
    return "";
}

// --- Text

// Every text from a file, its name or the system goes through put or
// put_character (check/terminal_text.h); only the report's own line ends
// stay line ends.
unsigned put_character(const unsigned char* p) {
    return terminal_put_character(stdout, p);
}

#define put(...) terminal_printf(stdout, __VA_ARGS__)

void put_link(const CheckRun* run) {
    const CheckRecord& r = check_record;
    printf("Link:          %u characters, ", run->decoded.length);
    if (run->decoded.verdict == LINK_DECODED)
        put("%u bytes of a launch file, which the launcher would write into a new file in\n"
            "               %s (read here from a scratch copy)\n",
            run->decoded.size, r.link_folder);
    else if (run->decoded.verdict == LINK_NOT_STORED && r.link_asked)
        put("%u bytes, which the launcher could not keep in %s\n", run->decoded.size,
            r.link_folder);
    else
        printf("refused (%s)\n", link_verdict_code(run->decoded.verdict));
}

// Why no signature is asked of this launch file.
void put_not_required() {
    const CheckReport& r = check_report;
    const char* app = launch_settings.app;
    printf("not required (");
    if (!r.opened[CHECK_FILE_SETTINGS] && !r.opened[CHECK_FILE_SYSTEM])
        printf("talvin.ini was not read");
    else if (app[0] == '\0')
        printf("no product is named");
    else if (!r.product_section_seen)
        put("talvin.ini has no [%s] section", app);
    else
        put("the [%s] section names no publickey", app);
    printf(")");
}

void put_signature(const CheckRun* run) {
    const SignatureCheck& check = run->signature;
    printf("Signature:     ");
    if (!run->signature_checked) {
        printf("not looked at: the launch file was not read\n");
        return;
    }
    bool required = launch_settings.signature_required != 0;
    if (required)
        printf("required by the product");
    else
        put_not_required();
    if (!required && check.verdict == SIGNATURE_NO_KEY)
        printf("; a signature section over the first %u bytes, not checked\n", check.signed_size);
    else if (check.verdict == SIGNATURE_VALID)
        printf("; valid: made by the key of publickey%d over the first %u bytes\n", check.key,
               check.signed_size);
    else if (has_signed_part(check))
        printf("; %s (signed part: the first %u bytes)\n", signature_verdict_text(check.verdict),
               check.signed_size);
    else
        printf("; %s\n", signature_verdict_text(check.verdict));
}

// `text` in double quotes, control bytes as \xHH.
void put_quoted(const char* text) {
    putchar('"');
    for (const unsigned char* p = (const unsigned char*)text; *p != '\0';) {
        if (*p == '"' || *p == '\\')
            printf("\\%c", *p++);
        else
            p += put_character(p);
    }
    putchar('"');
}

// `text` on lines of its own, indented: its line ends (LF or CR LF) start
// the lines, but for a last one.
void put_indented(const char* text) {
    fputs("\n    ", stdout);
    for (const unsigned char* p = (const unsigned char*)text; *p != '\0';) {
        if (*p == '\r' && p[1] == '\n') {
            p++;
        } else if (*p == '\n') {
            p++;
            if (*p != '\0' && !(p[0] == '\r' && p[1] == '\0')) fputs("\n    ", stdout);
        } else {
            p += put_character(p);
        }
    }
    putchar('\n');
}

void put_where(int file, unsigned line) {
    if (file >= 0) put("%s:%u: ", check_report.files[file], line);
}

void put_field_value(const FieldTrace& field) {
    if (field.capacity == 0)
        printf("%d", *(const int32_t*)field.address);
    else if (strcmp(field.name, "password") == 0)
        printf("(%u characters)", (unsigned)strlen((const char*)field.address));
    else
        put_quoted((const char*)field.address);
}

// --- JSON

// `text` as a JSON string: valid UTF-8 passes, every other byte and every
// control character (C1 too) is written as \u00XX of its value. JSON is
// UTF-8, the same bytes in every locale for the programs that read it; on a
// terminal of another set, whose control characters may be bytes of UTF-8,
// every character past ASCII is written as \uXXXX (set when the JSON starts).
bool json_in_ascii() {
    static int in_ascii = -1;
    if (in_ascii < 0) in_ascii = platform_output_is_terminal() && !platform_terminal_is_utf8();
    return in_ascii != 0;
}

void put_json(const char* text) {
    putchar('"');
    const unsigned char* p = (const unsigned char*)text;
    while (*p != '\0') {
        uint32_t code = *p;
        unsigned length = utf8_sequence(p, &code);
        bool valid = length > 0;
        if (!valid) code = *p, length = 1;
        if (*p == '"' || *p == '\\') {
            printf("\\%c", *p);
        } else if (!valid || is_control_code(code) || (code >= 0x80 && json_in_ascii())) {
            if (code >= 0x10000)
                printf("\\u%04X\\u%04X", 0xD800 + ((code - 0x10000) >> 10),
                       0xDC00 + (code & 0x3FF));
            else
                printf("\\u%04X", code);
        } else {
            fwrite(p, 1, length, stdout);
        }
        p += length;
    }
    putchar('"');
}

void put_json_or_null(const char* text) {
    if (text == nullptr)
        fputs("null", stdout);
    else
        put_json(text);
}

void put_json_where(int file, unsigned line) {
    if (file < 0) {
        fputs("\"file\": null, \"line\": null", stdout);
        return;
    }
    printf("\"file\": \"%s\", \"line\": %u", FILE_KEYS[file], line);
}

} // namespace

void check_put(const char* format, ...) {
    va_list args;
    va_start(args, format);
    terminal_vprintf(stdout, format, args);
    va_end(args);
}

void check_put_json(const char* text) {
    put_json_or_null(text);
}

void check_print_text(const CheckRun* run) {
    const CheckRecord& record = check_record;
    const CheckReport& report = check_report;
    if (run->is_link)
        put_link(run);
    else
        put("Launch file:   %s\n", launch_file_shown(run));
    const char* settings = settings_file_shown(run);
    put("Settings file: %s%s\n               %s\n", settings != nullptr ? settings : "none",
        check_report.opened[CHECK_FILE_SETTINGS] ? "" : " (not read)", run->settings_reason);
    if (report.system_file[0] != '\0')
        put("System file:   %s%s\n               read before the settings file\n",
            report.system_file, report.opened[CHECK_FILE_SYSTEM] ? "" : " (not read)");
    put_signature(run);
    putchar('\n');

    if (run->would_start || run->cannot_tell) {
        if (run->would_start)
            put("The launcher would start the product.\n");
        else
            put("The launcher would try to start the product; whether it would start cannot be "
                "told.\n  Why: %s\n",
                record.start_why);
        put("  Command line: %s\n", record.command_line);
        if (record.change_fails[0] != '\0')
            put("  Folder:       unchanged (the launcher's own): the change to %s would fail: %s\n",
                record.change_asked, record.change_fails);
        else
            put("  Folder:       %s\n",
                record.directory_changed ? record.directory : "unchanged (the launcher's own)");
    } else {
        put("The launcher would not start the product.\n");
    }
    if (record.appended) {
        char block[CHECK_TEXT_CAP];
        masked_append(block, sizeof block);
        put("  Appended to %s (the password shown as *):", record.append_path);
        put_indented(block);
        if (record.narrowed_from != 0)
            printf("  Its mode would first be narrowed from %04o to %04o: the block holds a "
                   "password.\n",
                   record.narrowed_from, record.narrowed_from & 07700);
    } else if (record.append_refused != nullptr) {
        put("  Not appended to %s: %s.\n", record.append_path, record.append_refused);
    }
    for (unsigned i = 0; i < record.box_count && i < CHECK_BOXES_CAP; i++) {
        put("Message box \"%s\":", record.boxes[i].caption);
        put_indented(record.boxes[i].text);
        put("  Why: %s\n", run->box_why[i]);
    }
    if (record.box_count > CHECK_BOXES_CAP)
        put("(%u more message boxes)\n", record.box_count - CHECK_BOXES_CAP);

    bool any = false;
    for (const FieldTrace& field : report.fields)
        any = any || field.set;
    put("\nFields set by the files:%s\n", any ? "" : " none");
    for (const FieldTrace& field : report.fields) {
        if (!field.set) continue;
        put("  %s = ", field.name);
        put_field_value(field);
        put("\n      set at %s:%u\n", report.files[field.last.file], field.last.line);
        for (unsigned i = 0; i < field.overridden_count && i < CHECK_OVERRIDES_CAP; i++) {
            const LineRef& old = field.overridden[i];
            put("      overrides %s:%u", report.files[old.file], old.line);
            if (strcmp(field.name, "password") != 0) {
                put(" (");
                put_quoted(old.value);
                put(")");
            }
            put("\n");
        }
        if (field.overridden_count > CHECK_OVERRIDES_CAP)
            put("      overrides %u more lines\n", field.overridden_count - CHECK_OVERRIDES_CAP);
    }
    put("\nWarnings:%s\n", report.warning_count == 0 ? " none" : "");
    for (unsigned i = 0; i < report.warning_count && i < CHECK_WARNINGS_CAP; i++) {
        put("  ");
        put_where(report.warnings[i].file, report.warnings[i].line);
        put("%s\n", report.warnings[i].text);
    }
    if (report.warning_count > CHECK_WARNINGS_CAP)
        put("  (%u more warnings)\n", report.warning_count - CHECK_WARNINGS_CAP);
}

void check_print_json(const CheckRun* run) {
    const CheckRecord& record = check_record;
    const CheckReport& report = check_report;
    printf("{\n  \"format\": 1,\n  \"launch_file\": ");
    put_json(launch_file_shown(run));
    printf(",\n  \"link\": ");
    if (run->is_link) {
        const CheckRecord& r = check_record;
        printf("{\"length\": %u, \"verdict\": \"%s\", \"bytes\": %u, \"folder\": ",
               run->decoded.length, link_verdict_code(run->decoded.verdict), run->decoded.size);
        put_json_or_null(r.link_asked ? r.link_folder : nullptr);
        printf(", \"checked_as\": ");
        put_json_or_null(r.link_file[0] != '\0' ? r.link_file : nullptr);
        printf("}");
    } else {
        printf("null");
    }
    printf(",\n  \"settings_file\": {\"path\": ");
    put_json_or_null(settings_file_shown(run));
    printf(", \"reason\": ");
    put_json(run->settings_reason);
    printf(", \"read\": %s},\n", report.opened[CHECK_FILE_SETTINGS] ? "true" : "false");
    printf("  \"system_file\": ");
    if (report.system_file[0] != '\0') {
        printf("{\"path\": ");
        put_json(report.system_file);
        printf(", \"read\": %s},\n", report.opened[CHECK_FILE_SYSTEM] ? "true" : "false");
    } else {
        printf("null,\n");
    }
    printf("  \"outcome\": \"%s\",\n  \"start\": ", run->would_start   ? "start"
                                                    : run->cannot_tell ? "unknown"
                                                                       : "failure");
    if (record.started) {
        printf("{\"command_line\": ");
        put_json(record.command_line);
        printf(", \"directory\": ");
        put_json_or_null(record.directory_changed ? record.directory : nullptr);
        if (run->cannot_tell)
            printf(", \"result\": null, \"directory_change\": ");
        else
            printf(", \"result\": %u, \"directory_change\": ", record.start_result);
        if (record.change_asked[0] != '\0') {
            printf("{\"path\": ");
            put_json(record.change_asked);
            printf(", \"fails\": ");
            put_json_or_null(record.change_fails[0] != '\0' ? record.change_fails : nullptr);
            printf("}");
        } else {
            printf("null");
        }
        printf("},\n");
    } else {
        printf("null,\n");
    }
    printf("  \"append\": ");
    if (record.appended) {
        char block[CHECK_TEXT_CAP];
        masked_append(block, sizeof block);
        printf("{\"path\": ");
        put_json(record.append_path);
        printf(", \"text\": ");
        put_json(block);
        if (record.narrowed_from != 0)
            printf(", \"narrowed_from\": \"%04o\"", record.narrowed_from);
        else
            printf(", \"narrowed_from\": null");
        printf("},\n");
    } else {
        printf("null,\n");
    }
    printf("  \"boxes\": [");
    for (unsigned i = 0; i < record.box_count && i < CHECK_BOXES_CAP; i++) {
        const CheckBox& box = record.boxes[i];
        printf("%s\n    {\"caption\": ", i > 0 ? "," : "");
        put_json(box.caption);
        printf(", \"text\": ");
        put_json(box.text);
        printf(", \"why\": ");
        put_json(run->box_why[i]);
        printf("}");
    }
    printf("],\n  \"fields\": {");
    bool first = true;
    for (const FieldTrace& field : report.fields) {
        printf("%s\n    \"%s\": {", first ? "" : ",", field.name);
        first = false;
        if (field.capacity == 0)
            printf("\"value\": %d", *(const int32_t*)field.address);
        else if (strcmp(field.name, "password") == 0)
            printf("\"length\": %u", (unsigned)strlen((const char*)field.address));
        else {
            printf("\"value\": ");
            put_json((const char*)field.address);
        }
        printf(", ");
        put_json_where(field.set ? field.last.file : -1, field.last.line);
        printf(", \"overrides\": [");
        for (unsigned i = 0; i < field.overridden_count && i < CHECK_OVERRIDES_CAP; i++) {
            const LineRef& old = field.overridden[i];
            printf("%s{", i > 0 ? ", " : "");
            put_json_where(old.file, old.line);
            if (strcmp(field.name, "password") != 0) {
                printf(", \"value\": ");
                put_json(old.value);
            }
            printf("}");
        }
        printf("]}");
    }
    printf("\n  },\n  \"warnings\": [");
    for (unsigned i = 0; i < report.warning_count && i < CHECK_WARNINGS_CAP; i++) {
        const CheckWarning& w = report.warnings[i];
        printf("%s\n    {", i > 0 ? "," : "");
        put_json_where(w.file, w.line);
        printf(", \"code\": \"%s\", \"text\": ", w.code);
        put_json(w.text);
        printf("}");
    }
    printf("],\n  \"warnings_not_shown\": %u,\n", report.warning_count > CHECK_WARNINGS_CAP
                                                      ? report.warning_count - CHECK_WARNINGS_CAP
                                                      : 0);
    const SignatureCheck& check = run->signature;
    printf("  \"signature\": ");
    if (run->signature_checked) {
        printf("{\"required\": %s, \"verdict\": \"%s\", \"text\": ",
               launch_settings.signature_required ? "true" : "false", verdict_code(check.verdict));
        put_json(signature_verdict_text(check.verdict));
        if (check.verdict == SIGNATURE_VALID)
            printf(", \"key\": \"publickey%d\"", check.key);
        else
            printf(", \"key\": null");
        if (has_signed_part(check))
            printf(", \"signed_bytes\": %u}\n}\n", check.signed_size);
        else
            printf(", \"signed_bytes\": null}\n}\n");
    } else {
        printf("null\n}\n");
    }
}
