// The recorded actions of the checking face: each writes down what the
// launcher asked for and answers as the operating system would have.
#include "check/check_face.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

CheckRecord check_record;

namespace {

void copy_text(char* dest, size_t capacity, const char* text) {
    size_t length = strlen(text);
    if (length >= capacity) length = capacity - 1;
    memcpy(dest, text, length);
    dest[length] = '\0';
}

} // namespace

void check_format(char* dest, unsigned capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(dest, capacity, format, args);
    va_end(args);
}

void platform_message_box(platform_window, const char* text, const char* caption) {
    CheckRecord& r = check_record;
    if (r.box_count < CHECK_BOXES_CAP) {
        CheckBox& box = r.boxes[r.box_count];
        copy_text(box.caption, sizeof box.caption, caption);
        copy_text(box.text, sizeof box.text, text);
        box.file = r.file;
        box.line = r.line;
    }
    r.box_count++;
}

int platform_change_directory(const char* path) {
    CheckRecord& r = check_record;
    copy_text(r.change_asked, sizeof r.change_asked, path);
    if (check_why_folder_unusable(path, r.change_fails, sizeof r.change_fails)) return 0;
    r.directory_changed = 1;
    copy_text(r.directory, sizeof r.directory, path);
    return 1;
}

void platform_set_environment(const char*, const char*) {}

// Where the program is looked for follows directory_changed, as the
// launcher's follows the change it made.
unsigned platform_start_program(const char* command_line, int, int) {
    CheckRecord& r = check_record;
    r.started = 1;
    copy_text(r.command_line, sizeof r.command_line, command_line);
    r.start_result = check_predict_start(command_line, r.directory_changed ? r.directory : nullptr,
                                         r.start_why, sizeof r.start_why);
    // Unknown: no box can be foretold.
    return r.start_result == CHECK_START_UNKNOWN ? 33 : r.start_result;
}

void platform_append(const char* path, platform_file read, const void* data, unsigned size) {
    CheckRecord& r = check_record;
    unsigned mode = check_mode_to_narrow(read);
    r.append_refused = check_why_not_appended(path, read); // closes it
    r.appended = r.append_refused == nullptr;
    r.narrowed_from = r.appended ? mode : 0;
    copy_text(r.append_path, sizeof r.append_path, path);
    if (size >= sizeof r.append_bytes) size = sizeof r.append_bytes - 1;
    memcpy(r.append_bytes, data, size);
    r.append_bytes[size] = '\0';
    r.append_size = size;
}

// The checker removes its scratch copy itself (check_end).
void platform_forget_link_file(const char*) {}

unsigned platform_store_link_file(const char* folder, const void* data, unsigned size, char* dest,
                                  unsigned capacity) {
    CheckRecord& r = check_record;
    r.link_asked = 1;
    r.link_size = size;
    copy_text(r.link_folder, sizeof r.link_folder, folder);
    if (check_why_link_folder_refused(folder, r.link_refused, sizeof r.link_refused)) return 0;
    // The launcher's own folder is left as it is: the bytes are read from a
    // scratch copy instead.
    if (!check_write_scratch_file(data, size, r.link_file, sizeof r.link_file)) {
        check_format(r.link_refused, sizeof r.link_refused,
                     "talvin-check cannot write a scratch copy");
        return 0;
    }
    size_t length = strlen(r.link_file);
    if (length + 1 > capacity) return (unsigned)(length + 1);
    memcpy(dest, r.link_file, length + 1);
    return (unsigned)length;
}
