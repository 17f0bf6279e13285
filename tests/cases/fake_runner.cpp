// Plays launch cases over the recording platform: the public entry procedure
// with the case's files really written in a fresh folder.
// Usage: fake_runner FILE.cases...   (LAUNCH_CASE=TEXT: only names holding TEXT)
#include "case_file.h"
#include "case_tree.h"

#include "launch/entry.h"
#include "launch_files/launch_settings.h"
#include "launch_files/section_reader.h"
#include "platform/fake.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

// The record's fields by the names cases give them.
std::string field_named(const std::string& name) {
    const LaunchSettings& s = launch_settings;
    const std::pair<const char*, const char*> texts[] = {{"app", s.app},
                                                         {"product", s.product},
                                                         {"server", s.server},
                                                         {"missing", s.missing},
                                                         {"title", s.title},
                                                         {"wndclass", s.wndclass},
                                                         {"wndname", s.wndname},
                                                         {"path", s.path},
                                                         {"command", s.command},
                                                         {"user", s.user},
                                                         {"password", s.password},
                                                         {"email", s.email},
                                                         {"closeotherapps", s.closeotherapps}};
    for (const auto& [known, value] : texts)
        if (name == known) return value;
    if (name == "send_identification") return std::to_string(s.send_identification);
    if (name == "passlaunch") return std::to_string(s.passlaunch);
    if (name == "command_found") return std::to_string(s.command_found);
    return "<no field " + name + ">";
}

bool set_answer(const std::string& name, const std::string& value) {
    if (name == "short_path")
        fake::short_path = value;
    else if (name == "ignore_case")
        fake::ignore_case = value == "1";
    else if (name == "separator")
        fake::separator = value[0];
    else if (name == "current_directory")
        fake::current_directory = value;
    else if (name == "change_directory_fails")
        fake::change_directory_fails = value == "1";
    else if (name == "start_result")
        fake::start_result = (unsigned)atoi(value.c_str());
    else if (name == "windows_directory")
        fake::windows_directory = value;
    else if (name == "no_windows_directory")
        fake::windows_directory_fails = value == "1";
    else if (name == "read_back")
        fake::read_back_given = true, fake::read_back = value;
    else if (name == "lead_bytes")
        fake::lead_bytes = value;
    else if (name == "fail_memory_at")
        fake::fail_memory_at = atol(value.c_str());
    else if (name == "crypto_unavailable")
        fake::crypto_unavailable = value == "1";
    else
        return false;
    return true;
}

std::vector<std::string> play(const Case& c) {
    std::vector<std::string> failures;
    CaseTree tree;
    Places places = unix_places(tree.root(), c);
    std::string error;
    if (!tree.build(c, places, "", &error)) return {error};

    // The launcher starts in the download folder, as a browser starts it.
    fake::reset();
    fake::windows_directory = places.win;
    fake::separator = '/';
    fake::ignore_case = false;
    fake::current_directory = places.dl;
    launch_settings_init();
    line_pushed_back = false;
    for (const Case::Item& item : c.many)
        if (item.directive == "fake" && !set_answer(item.first, expand(item.value, places)))
            return {"unknown fake answer " + item.first};
    if (chdir(places.dl.c_str()) != 0) return {"no download folder"};

    Expected e = expected_of(c, places);
    platform_window owner = &tree;
    launch_from_argument_text(owner, argument_text(e).c_str());

    std::string boxes, setenv, started;
    for (const fake::MessageBox& box : fake::message_boxes)
        boxes += box.caption + ": " + box.text + (box.owner == owner ? "\n" : " (no owner)\n");
    for (const auto& [name, value] : fake::environment)
        setenv += name + "=" + value + "\n";
    for (const fake::Started& s : fake::started)
        started += s.command_line + (s.show_state == 1 ? "\n" : " (not shown normally)\n");
    expect(&failures, "boxes", boxes, e.boxes);
    expect(&failures, "environment set", setenv, e.setenv);
    expect(&failures, "started", started, e.starts ? e.start + "\n" : "");
    std::string cwd = fake::directories.empty() ? "" : fake::directories.back();
    expect(&failures, "directory", cwd, e.cwd);
    for (const Case::Item& field : e.fields)
        expect(&failures, "field " + field.first, field_named(field.first), field.value);
    if (fake::memory_outstanding != 0) failures.push_back("working memory not given back");
    tree.check(e, &failures);
    return failures;
}

} // namespace

int main(int argc, char** argv) {
    return play_case_files("fake", argc - 1, argv + 1, play);
}
