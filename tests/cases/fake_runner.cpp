// Plays launch cases over the recording platform, through the public entry
// procedure (docs/testing.md).
#include "case_file.h"

#include "launch/entry.h"
#include "launch_files/launch_settings.h"
#include "launch_files/section_reader.h"
#include "platform/fake/fake_platform.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

// The record's fields by the names cases give them.
std::string field_named(const std::string& name) {
    const LaunchSettings& s = launch_settings;
#define TEXT_FIELD(field)                                                                          \
    if (name == #field) return s.field;
#define NUMBER_FIELD(field)                                                                        \
    if (name == #field) return std::to_string(s.field);
    LAUNCH_SETTINGS_TEXT_FIELDS(TEXT_FIELD)
    LAUNCH_SETTINGS_NUMBER_FIELDS(NUMBER_FIELD)
    return "<no field " + name + ">";
}

// Sets the recording platform's answer `name` (`fake NAME VALUE`).
bool set_answer(const std::string& name, const std::string& value) {
    bool on = value == "1";
    if (name == "short_path") return fake::short_path = value, true;
    if (name == "current_directory") return fake::current_directory = value, true;
    if (name == "windows_directory") return fake::windows_directory = value, true;
    if (name == "lead_bytes") return fake::lead_bytes = value, true;
    if (name == "read_back") return fake::read_back = value, fake::read_back_given = true;
    if (name == "separator") return fake::separator = value[0], true;
    if (name == "start_result") return fake::start_result = (unsigned)atoi(value.c_str()), true;
    if (name == "fail_memory_at") return fake::fail_memory_at = atol(value.c_str()), true;
    if (name == "ignore_case") return fake::ignore_case = on, true;
    if (name == "no_windows_directory") return fake::windows_directory_fails = on, true;
    if (name == "crypto_unavailable") return fake::crypto_unavailable = on, true;
    return false;
}

} // namespace

std::string runner_places(const Case&, const CaseTree&, Places*) {
    return "";
}

std::string runner_run(const Case& c, CaseTree& tree, Places* places, const Expected& e,
                       std::vector<std::string>* failures) {
    // The launcher starts in the download folder, as a browser starts it.
    fake::reset();
    fake::windows_directory = places->win;
    fake::separator = '/';
    fake::ignore_case = false;
    fake::current_directory = places->dl;
    launch_settings_init();
    line_pushed_back = false;
    for (const Case::Item& item : c.many) {
        std::string value = expand(item.value, *places);
        // Another account changes the launch file's folder after the read.
        std::function<void()>* before = item.directive != "fake"           ? nullptr
                                        : item.first == "before_append"    ? &fake::before_append
                                        : item.first == "before_signature" ? &fake::before_signature
                                                                           : nullptr;
        if (before != nullptr)
            *before = [&tree, failures, value] {
                if (!tree.replace_launch(value))
                    failures->push_back("the launch file could not be replaced");
            };
        else if (item.directive == "fake" && !set_answer(item.first, value))
            return failures->push_back("unknown fake answer " + item.first), "";
    }
    if (chdir(places->dl.c_str()) != 0) return failures->push_back("no download folder"), "";
    setenv("XDG_RUNTIME_DIR", (places->dir + "/run").c_str(), 1);
    launch_from_argument_text((platform_window)&tree, argument_text(e).c_str());
    return tree.stored_file();
}

bool runner_compare(const Case&, const CaseTree& tree, const Places&, Expected* e,
                    std::vector<std::string>* failures) {
    std::string boxes, setenv, started;
    for (const fake::MessageBox& box : fake::message_boxes)
        boxes += box.caption + ": " + box.text + (box.owner == &tree ? "\n" : " (no owner)\n");
    for (const auto& [name, value] : fake::environment)
        setenv += name + "=" + value + "\n";
    for (const fake::Started& s : fake::started)
        started += s.command_line + (s.show_state == 1 ? "\n" : " (not shown normally)\n");
    expect(failures, "boxes", boxes, e->boxes);
    expect(failures, "environment set", setenv, e->setenv);
    expect(failures, "started", started, e->starts ? e->start + "\n" : "");
    std::string cwd = fake::directories.empty() ? "" : fake::directories.back();
    expect(failures, "directory", cwd, e->cwd);
    for (const Case::Item& field : e->fields)
        expect(failures, "field " + field.first, field_named(field.first), field.value);
    if (fake::memory_outstanding != 0) failures->push_back("working memory not given back");
    return true;
}

int main(int argc, char** argv) {
    return play_case_files("fake", argc - 1, argv + 1);
}
