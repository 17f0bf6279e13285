// Fuzz target: arbitrary bytes as a downloaded launch file and then as the
// shared settings file, through the whole launch sequence over the recording
// platform, up to the composed command line.
#include "launch/launch_sequence.h"
#include "launch_files/launch_settings.h"
#include "launch_files/section_reader.h"
#include "platform/fake/fake_platform.h"

#include "tests/fuzz/fuzz_check.h"

#include <set>

namespace {

// One directory per process; its talvin.ini is rewritten for every input and
// also named as the launch file, so both reads see the same bytes.
std::string settings_dir, file_path;

// Every text field ends within its capacity.
#define CHECK_FIELD(name)                                                                          \
    check(memchr(launch_settings.name, '\0', sizeof launch_settings.name) != nullptr, #name);

const std::set<std::string> CAPTIONS = {"Launcher",        "Product not installed!",
                                        "Launch failed",   "File not found!",
                                        "Path not found!", "Launch file refused"};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    settings_dir = fuzz_directory() + "/";
    file_path = settings_dir + SETTINGS_FILE_NAME;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    write_bytes(file_path, std::string((const char*)data, size));

    fake::reset();
    launch_settings_init();
    char launch_path[LAUNCH_PATH_CAP];
    snprintf(launch_path, sizeof launch_path, "%s", file_path.c_str());
    run_launch(nullptr, settings_dir.c_str(), launch_path);

    LAUNCH_SETTINGS_TEXT_FIELDS(CHECK_FIELD)
    for (const auto& key : launch_settings.public_key)
        check(memchr(key, '\0', sizeof key) != nullptr, "public key terminated");
    check(launch_settings.command_found == 0 || launch_settings.command_found == 1,
          "command_found is 0 or 1");
    check(memchr(launch_path, '\0', sizeof launch_path) != nullptr, "launch path terminated");
    check(!line_pushed_back, "no line pushed back after a file");
    check(fake::memory_outstanding == 0, "every working buffer given back");
    unsigned bad_headers = 0;
    for (const fake::MessageBox& box : fake::message_boxes) {
        check(box.text.size() < LINE_BUFFER_CAP, "message fits its buffer");
        check(CAPTIONS.count(box.caption) == 1, "message has a known caption");
        bad_headers +=
            box.caption == "Launcher" && box.text.compare(0, 25, "no matching ']' found on ") == 0;
    }
    check(bad_headers <= BAD_HEADER_BOXES_MAX + 1, "a few bad-header boxes at the most");

    const LaunchSettings& s = launch_settings;
    check(fake::started.size() <= 1, "at most one start");
    check(s.command_found == 1 || fake::started.empty(), "no start without a command");
    if (!fake::started.empty()) {
        // The command, a blank and the quoted launch path at the most.
        const std::string& line = fake::started[0].command_line;
        check(line.size() <= (SETTING_WORD_CAP - 1) + 3 + (LAUNCH_PATH_CAP - 1),
              "command line within its longest form");
        check(fake::started[0].show_state == 1, "shown normally");
    }
    return 0;
}
