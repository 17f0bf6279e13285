// Fuzz target: talvin-config's edit of an arbitrary existing talvin.ini.
// The first byte chooses the edit (set or remove; the product "game" or the
// identification), the rest is the file. What must hold: the edit fits its
// buffer, and afterwards the launcher's reader reads every other section
// exactly as before (each key line, in order, the boxes, and the record of a
// launch of another product), while the edited one reads as the new text.
#include "launch_files/launch_observer.h"
#include "launch_files/launch_settings.h"
#include "launch_files/section_reader.h"
#include "platform/fake/fake_platform.h"
#include "tools/config_edit.h"

#include "tests/fuzz/fuzz_check.h"

#include <vector>

namespace {

std::string directory, old_path, new_path;

struct Reading {
    std::vector<std::string> others; // "section\nkey\nvalue" of every other section
    std::vector<std::string> edited; // "key=value" of the edited one
    std::vector<std::string> boxes;
    LaunchSettings record; // read as a launch of the product "other"
};

const char* edited_name;
std::string section_now;
bool in_edited;
Reading* reading;

const LaunchObserver RECORDER = {
    [](const char*, SettingSource, int) {}, [](unsigned, unsigned, int) {}, [](int) {},
    [](const char* name) {
        section_now = name;
        in_edited = names_equal(name, edited_name) != 0;
    },
    [](const char* key, const char* value, SectionKind, const void*, SettingEffect) {
        if (in_edited)
            reading->edited.push_back(std::string(key) + "=" + value);
        else
            reading->others.push_back(section_now + "\n" + key + "\n" + value);
    }};

Reading read_file(const std::string& path) {
    Reading r;
    reading = &r;
    section_now = "";
    in_edited = false;
    fake::reset();
    launch_settings_init();
    launch_observer = &RECORDER;
    bad_header_boxes = 0; // each reading is a run of its own
    parse_section_file(nullptr, path.c_str(), SOURCE_SETTINGS_FILE);
    launch_observer = nullptr;
    for (const fake::MessageBox& box : fake::message_boxes)
        r.boxes.push_back(box.text);
    // As the launcher reads it, on its quick path, for a product left alone.
    launch_settings_init();
    strcpy(launch_settings.app, "other");
    bad_header_boxes = 0;
    parse_section_file(nullptr, path.c_str(), SOURCE_SETTINGS_FILE);
    r.record = launch_settings;
    if (names_equal(edited_name, "identification")) {
        memset(r.record.user, 0, sizeof r.record.user);
        memset(r.record.password, 0, sizeof r.record.password);
        memset(r.record.email, 0, sizeof r.record.email);
        r.record.send_identification = 0;
    }
    return r;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    directory = fuzz_directory();
    old_path = directory + "/talvin.ini";
    new_path = directory + "/new.ini";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    bool remove = data[0] & 1;
    edited_name = data[0] & 2 ? "identification" : "game";
    const char* line_end = data[0] & 4 ? "\r\n" : "\n";
    std::string old((const char*)data + 1, size - 1);
    write_bytes(old_path, old);

    std::string text = std::string("[") + edited_name + "]" + line_end;
    std::vector<std::string> lines = data[0] & 2
                                         ? std::vector<std::string>{"user=ann", "password=pw"}
                                         : std::vector<std::string>{"command=/bin/true", "path=/"};
    for (const std::string& line : lines)
        text += line + line_end;
    size_t capacity = old.size() + text.size() + 2;
    char* out = (char*)malloc(capacity);
    fake::reset();
    long out_size = edit_settings(old_path.c_str(), old.data(), old.size(), edited_name,
                                  remove ? nullptr : text.c_str(), line_end, out, capacity);
    check(out_size <= (long)capacity, "the edit fits its buffer");
    if (out_size < 0) {
        free(out);
        return 0;
    }
    write_bytes(new_path, std::string(out, (size_t)out_size));
    free(out);

    Reading before = read_file(old_path), after = read_file(new_path);
    check(before.others == after.others, "every other section reads as before");
    check(before.boxes == after.boxes, "the same boxes");
    check(memcmp(&before.record, &after.record, sizeof before.record) == 0,
          "another product's launch reads the same record");
    if (remove)
        check(after.edited.empty(), "the removed section is gone");
    else
        check(after.edited == lines, "the edited section reads as its new text");
    return 0;
}
