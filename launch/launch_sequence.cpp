#include "launch/launch_sequence.h"

#include "launch_files/launch_settings.h"
#include "launch_files/launch_signature.h"
#include "launch_files/section_reader.h"
#include "launch/command_line_split.h"

#include <string.h>

namespace {

const char CAPTION_LAUNCHER[] = "Launcher";
const char CAPTION_FAILED[] = "Launch failed";
const unsigned SW_SHOWNORMAL_STATE = 1;

// Messages for the start results that have one; the rest say nothing.
struct StartMessage {
    unsigned result;
    const char* text; // null: the `missing` text of the settings
    const char* caption;
};

const StartMessage START_MESSAGES[] = {
    {0, "System is out of memory,\nexecutable file is corrupt,\nor relocations are invalid.",
     CAPTION_FAILED},
    {2, nullptr, "File not found!"},
    {3, nullptr, "Path not found!"},
    {5, "Attempted to dynamically link to a task,\nor sharing or network protection error.",
     CAPTION_FAILED},
    {6, "Library required separate data segments for each task.", CAPTION_FAILED},
    {8, "Insufficient memory.", CAPTION_FAILED},
    {10, "Incorrect version of Windows.", CAPTION_FAILED},
    {11, "Invalid executable file.", CAPTION_FAILED},
    {12, "Application not designed for Windows.", CAPTION_FAILED},
    {13, "Application designed for DOS 4.0.", CAPTION_FAILED},
    {14, "Type of executable file is unknown.", CAPTION_FAILED},
    {15, "Attempted to load a real-mode application.", CAPTION_FAILED},
    {16, "Attempted to load second instance of application.", CAPTION_FAILED},
    {19, "Attempted to load compressed executable.", CAPTION_FAILED},
    {20, "Invalid DLL.", CAPTION_FAILED},
    {21, "Application requires Windows 32-bit extensions.", CAPTION_FAILED},
};

void unquote(char* path) {
    if (path[0] != '"') return;
    size_t length = strlen(path);
    memmove(path, path + 1, length); // the terminator comes along
    char* quote = strchr(path, '"');
    if (quote != nullptr) *quote = '\0';
}

// A relative path would name another file once the directory changes, so
// one whose absolute form cannot be had (no current directory, or too long
// for the buffer) is refused: 0.
bool make_absolute(char* path) {
    char full[LAUNCH_PATH_CAP];
    unsigned length = platform_full_path(path, full, sizeof full);
    if (length == 0 || length >= sizeof full) return false;
    memcpy(path, full, length + 1);
    return true;
}

void shorten(char* path) {
    char short_form[LAUNCH_PATH_CAP];
    unsigned length = platform_short_path(path, short_form, sizeof short_form);
    if (length > 0 && length < sizeof short_form) memcpy(path, short_form, length + 1);
}

// Changes to `path` and records the new directory under "=X:", where the
// started program looks for the current directory of drive X. False when
// the change failed.
bool change_directory(const char* path) {
    if (!platform_change_directory(path)) return false;
    char current[CURRENT_DIR_CAP];
    unsigned length = platform_current_directory(current, sizeof current);
    if (length == 0 || length >= sizeof current) return true;
    char drive = current[0];
    if (drive >= 'a' && drive <= 'z') drive = (char)(drive - 'a' + 'A');
    if (drive < 'A' || drive > 'Z' || current[1] != ':') return true; // no drive, or a network path
    char name[] = {'=', drive, ':', '\0'};
    platform_set_environment(name, current);
    return true;
}

// Appends `text` to `out`, turning each line feed into CR LF.
char* put_text(char* out, const char* text) {
    for (; *text != '\0'; text++) {
        if (*text == '\n') *out++ = '\r';
        *out++ = *text;
    }
    return out;
}

// Builds the identification block in `work` and appends it with one write,
// so that nothing already in the launch file moves, to the file `read` (the
// launch file, held open since it was read) only.
void append_identification(const char* launch_path, platform_file read, char* work) {
    const LaunchSettings& s = launch_settings;
    char* p = put_text(work, "[identification]\nuser=");
    p = put_text(p, s.user);
    p = put_text(p, "\npassword=");
    p = put_text(p, s.password);
    p = put_text(p, "\n");
    if (s.email[0] != '\0') {
        p = put_text(p, "email=");
        p = put_text(p, s.email);
        p = put_text(p, "\n");
    }
    platform_append(launch_path, read, work, (unsigned)(p - work));
}

void compose_command(char* work, const char* launch_path) {
    const LaunchSettings& s = launch_settings;
    size_t length = strlen(s.command);
    memcpy(work, s.command, length);
    if (s.passlaunch != 0) {
        char* p = work + length;
        *p++ = ' ';
        *p++ = '"';
        size_t path_length = strlen(launch_path);
        memcpy(p, launch_path, path_length);
        p += path_length;
        *p++ = '"';
        length = (size_t)(p - work);
    }
    work[length] = '\0';
}

// Uppercases the single-byte letters only: the second byte of a double-byte
// character may be one from `a` to `z` (in code page 932, U+2225 is 0x81
// 0x61), and changed it would name another file.
void uppercase(char* text) {
    for (; *text != '\0'; text++) {
        if (platform_is_lead_byte((unsigned char)*text) && text[1] != '\0')
            text++;
        else if (*text >= 'a' && *text <= 'z')
            *text = (char)(*text - 'a' + 'A');
    }
}

void report_start(platform_window owner, unsigned result) {
    for (const StartMessage& m : START_MESSAGES) {
        if (m.result != result) continue;
        platform_message_box(owner, m.text != nullptr ? m.text : launch_settings.missing,
                             m.caption);
        return;
    }
}

// A product that names its publisher's keys takes only launch files one of
// them signed, checked on the very bytes that were read and applied (kept
// by `keeper`; the rest of the held file `read` is read on, never again),
// and only while no other account could change the file or put another in
// its place: the product reads it again by its path. Any other is refused
// before it can change anything.
bool signature_holds(platform_window owner, const char* launch_path, platform_file read,
                     SignatureKeeper* keeper) {
    if (!launch_settings.signature_required) return true;
    keep_rest(keeper, read);
    launch_signature_check = check_kept_signature(keeper);
    launch_signature_checked = true;
    if (launch_signature_check.verdict == SIGNATURE_VALID &&
        !platform_others_could_change(read, launch_path, 0600, nullptr, 0))
        return true;
    static const char BEFORE[] = "This launch file for ";
    static const char AFTER[] =
        " does not carry a valid signature of its publisher. It was not used.";
    static const char NO_PRODUCT[] =
        "This launch file does not carry a valid signature of the product's publisher. "
        "It was not used.";
    char text[sizeof BEFORE + SETTING_WORD_CAP + sizeof AFTER];
    const char* product = launch_settings.product;
    size_t length = strlen(product);
    memcpy(text, BEFORE, sizeof BEFORE - 1);
    memcpy(text + sizeof BEFORE - 1, product, length);
    memcpy(text + sizeof BEFORE - 1 + length, AFTER, sizeof AFTER);
    platform_message_box(owner, length > 0 ? text : NO_PRODUCT, "Launch file refused");
    return false;
}

const char NO_SETTINGS[] = "Unable to open talvin.ini file!";
enum { SETTINGS_READ = 1, SETTINGS_ABSENT = 0, SETTINGS_REFUSED = -1 };

// Reads SETTINGS_FILE_NAME in `dir` (ending in a separator) with the
// working buffer. SETTINGS_ABSENT also when there is no folder or no
// memory; SETTINGS_REFUSED, with its line in `refused`, for a file that is
// there but may not be read.
int read_settings(platform_window owner, const char* dir, char* work, char* refused,
                  unsigned capacity) {
    size_t dir_length = strlen(dir);
    refused[0] = '\0';
    if (work == nullptr || dir_length == 0 ||
        dir_length + sizeof SETTINGS_FILE_NAME > WORK_BUFFER_CAP)
        return SETTINGS_ABSENT;
    memcpy(work, dir, dir_length);
    memcpy(work + dir_length, SETTINGS_FILE_NAME, sizeof SETTINGS_FILE_NAME);
    if (parse_section_file(owner, work, SOURCE_SETTINGS_FILE, nullptr, nullptr, refused, capacity))
        return SETTINGS_READ;
    return refused[0] != '\0' ? SETTINGS_REFUSED : SETTINGS_ABSENT;
}

// "Unable to open talvin.ini file!", and on a line of its own why a file
// that is there was refused, when one was (`box` holds that line after the
// text's place, as read_settings left it).
void report_no_settings(platform_window owner, char* box) {
    size_t length = strlen(box + sizeof NO_SETTINGS);
    memcpy(box, NO_SETTINGS, sizeof NO_SETTINGS);
    if (length > 0) {
        box[sizeof NO_SETTINGS - 1] = '\n';
        memcpy(box + sizeof NO_SETTINGS + length, "\n", 2);
    }
    platform_message_box(owner, box, CAPTION_LAUNCHER);
}

// Steps after the launch file (`*read`, held open, its bytes in `keeper`)
// has been read, with the working buffer (null when it could not be had:
// then the settings path cannot be built). The system folder's file, when
// there is one, is read first, so that the user's own lines follow it as
// the settings file's follow the launch file's. A user's own file that is
// there but refused stops the launch: passed over, the product would start
// without the user's identification, and nobody would know why.
void launch_with_settings(platform_window owner, const char* system_dir, const char* settings_dir,
                          char* launch_path, platform_file* read, SignatureKeeper* keeper,
                          char* work) {
    // The line of a refused file leaves room for the text before it and a
    // line feed after it.
    char box[WORK_BUFFER_CAP], own[WORK_BUFFER_CAP];
    const unsigned line_capacity = WORK_BUFFER_CAP - sizeof NO_SETTINGS - 1;
    bool layered = system_dir[0] != '\0' && strcmp(system_dir, settings_dir) != 0;
    box[sizeof NO_SETTINGS] = '\0';
    bool system_read = layered && read_settings(owner, system_dir, work, box + sizeof NO_SETTINGS,
                                                line_capacity) == SETTINGS_READ;
    int settings =
        read_settings(owner, settings_dir, work, own + sizeof NO_SETTINGS, line_capacity);
    if (settings == SETTINGS_REFUSED) {
        report_no_settings(owner, own);
        return;
    }
    // A file opened but not read to its end counts as one that could not be
    // opened, even beside one that could: its first lines may have been read.
    if (section_file_unread || (!system_read && settings != SETTINGS_READ)) {
        report_no_settings(owner, box);
        return;
    }
    if (!signature_holds(owner, launch_path, *read, keeper)) return;

    shorten(launch_path);

    const LaunchSettings& s = launch_settings;
    if (!s.command_found || s.path_too_long) {
        platform_message_box(owner, s.missing, "Product not installed!");
        return;
    }
    bool in_product_folder = s.path[0] != '\0' && change_directory(s.path);
    // Held no longer than the append, which gives it back: the product may
    // want the file to itself.
    if (s.send_identification != 0)
        append_identification(launch_path, *read, work);
    else
        platform_close(*read);
    *read = PLATFORM_NO_FILE;

    compose_command(work, launch_path);
    if (platform_file_names_ignore_case()) uppercase(work);
    report_start(owner, platform_start_program(work, SW_SHOWNORMAL_STATE, in_product_folder));
}

} // namespace

void run_launch(platform_window owner, const char* settings_dir, char* launch_path) {
    run_layered_launch(owner, "", settings_dir, launch_path);
}

void run_layered_launch(platform_window owner, const char* system_dir, const char* settings_dir,
                        char* launch_path) {
    bad_header_boxes = 0;
    section_file_unread = false;
    unquote(launch_path);

    // The path goes to the product as one quoted argument; a name that would
    // not come back whole from the product's split is refused, not started.
    platform_file read = PLATFORM_NO_FILE;
    SignatureKeeper keeper = {};
    if (launch_path[0] == '\0' || !make_absolute(launch_path) ||
        !path_survives_split(launch_path) ||
        !parse_section_file(owner, launch_path, SOURCE_LAUNCH_FILE, &read, &keeper)) {
        release_kept(&keeper);
        platform_message_box(owner, "Unable to open launch file!", CAPTION_LAUNCHER);
        return;
    }

    // The process ends right after this returns, so the buffer is kept for
    // the rest of its life.
    char* work = (char*)platform_take_memory(WORK_BUFFER_CAP);
    launch_with_settings(owner, system_dir, settings_dir, launch_path, &read, &keeper, work);
    release_kept(&keeper);
    if (read != PLATFORM_NO_FILE) platform_close(read);
    platform_give_memory(work);
}
