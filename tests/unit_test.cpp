// What is no launch case: the process command line's argument text and the
// Windows argument rules the POSIX start splits by.
#include "launch/entry.h"
#include "launch/command_line_split.h"
#include "platform/fake/fake_platform.h"
#ifdef _WIN32
#include "platform/win32/ansi_path.h"
#endif

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Words = std::vector<std::string>;

TEST(ArgumentText, SkipsTheProgramNameAndTheBlanksAfterIt) {
    // The command line, its argument text, the code page's lead bytes.
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"\"C:\\Program Files\\x\\y.exe\"   C:\\TEMP\\GAME.GO", "C:\\TEMP\\GAME.GO", ""},
        {"launcher.exe\tC:\\TEMP\\GAME.GO", "C:\\TEMP\\GAME.GO", ""},
        {"launcher.exe \t\x01\x1f \"C:\\x y.go\" more", "\"C:\\x y.go\" more", ""},
        {"launcher.exe   ", "", ""},
        {"", "", ""},
        {"\"unterminated name C:\\x.go", "", ""},
        {"\"\"C:\\x.go", "C:\\x.go", ""},
        {"na\xe9me\xff.exe !x.go", "!x.go", ""},
        {"a.exe x.go  trailing  ", "x.go  trailing  ", ""},
        // A lead byte takes its trail byte along, a quote too; none at the very end.
        {"\"ab\x81\"cd\" rest", "rest", "\x81"},
        {"\"ab\x81", "", "\x81"},
        {"\"ab\x81\"cd\" rest", "cd\" rest", ""},
    };
    for (const auto& [line, expected, leads] : cases) {
        fake::reset();
        std::string plain = argument_text(line.c_str()); // no byte leads another
        fake::lead_bytes = leads;
        EXPECT_STREQ(argument_text(line.c_str()), expected.c_str()) << line;
        // The wide command line by the same rule, where no character is a lead byte.
        std::wstring wide;
        for (unsigned char c : line)
            wide += (wchar_t)c;
        EXPECT_EQ(wide.size() - (size_t)(argument_text(wide.c_str()) - wide.c_str()), plain.size())
            << line;
    }
}

// The words of `line`, or {"<error>"} when they do not fit.
Words split(const std::string& line, size_t text_capacity = 0, int max_args = 64) {
    std::vector<char> text(text_capacity ? text_capacity : line.size() + 1);
    char* args[64];
    int count = split_command_line(line.c_str(), text.data(), text.size(), args, max_args);
    return count < 0 ? Words{"<error>"} : Words(args, args + count);
}

TEST(SplitCommandLine, FollowsTheWindowsArgumentRules) {
    const std::pair<std::string, Words> cases[] = {
        {" \t ", {}},
        {"  run  a\tb  ", {"run", "a", "b"}},
        {"run \"a b\" c", {"run", "a b", "c"}},
        {"run a\"b c\"d", {"run", "ab cd"}},
        {"run \"\" \"\"", {"run", "", ""}},
        {"run a\\b\\\\c", {"run", "a\\b\\\\c"}},
        {"run a\\\"b", {"run", "a\"b"}},
        {"run a\\\\\"b c\"", {"run", "a\\b c"}},
        {"run a\\\\\\\"b", {"run", "a\\\"b"}},
        {"run \"a\\\\\"", {"run", "a\\"}},
        {"run \"a\\\"", {"run", "a\""}},
        {"run \"a\"\"b\"", {"run", "a\"b"}},
        {"run \"unterminated group", {"run", "unterminated group"}},
        {"run a\nb", {"run", "a\nb"}},
        {"\"C:\\Program Files\\x.exe\" a", {"C:\\Program Files\\x.exe", "a"}},
        {"C:\\dir\\\"x y\" a", {"C:\\dir\\x y", "a"}},
        {"/opt/p\xe9/run \xff", {"/opt/p\xe9/run", "\xff"}},
    };
    for (const auto& [line, words] : cases)
        EXPECT_EQ(split(line), words) << line;
    EXPECT_EQ(split("run a b", 0, 2), Words{"<error>"});
    EXPECT_EQ(split("run a b", 0, 3), (Words{"run", "a", "b"}));
    EXPECT_EQ(split("run abc", 7), Words{"<error>"}); // needs 8: "run\0abc\0"
    EXPECT_EQ(split("run abc", 8), (Words{"run", "abc"}));
}

TEST(PathSurvivesSplit, AcceptsOnlyPathsThatComeBackWhole) {
    const std::pair<std::string, int> cases[] = {
        {"C:\\TEMP\\GAME.TVL", 1},
        {"/tmp/with blanks\tand tab", 1},
        {"/tmp/$(rm -rf x);|&", 1},
        {"", 1},
        {"/tmp/quote\"inside", 0},
        {"/tmp/ends in backslash\\", 0},
        {"/tmp/x\" --option \"y", 0},
        {"/tmp/\"\"", 0},
        // Joined as `x "PATH"` in 600 bytes: 596 once wrote past the end.
        {std::string(595, 'a'), 1},
        {std::string(596, 'a'), 0},
        {std::string(4096, 'a'), 0},
    };
    for (const auto& [path, survives] : cases)
        EXPECT_EQ(path_survives_split(path.c_str()), survives) << path;
}

#ifdef _WIN32
// Wide names as Windows hands them out (a user's Windows directory on a
// server: C:\Users\NAME\WINDOWS), over real folders in code page 1252.
TEST(AnsiPath, ExactElseShortFormElseNothing) {
    namespace fs = std::filesystem;
    fs::path root = fs::temp_directory_path() / "ansi_path";
    for (const wchar_t* name : {L"M\u00fcller", L"\u0141ukasz", L"Lukasz", L"a long folder name"})
        fs::create_directories(root / name / "WINDOWS");
    char dest[256];
    auto ansi = [&](const fs::path& path, unsigned capacity = sizeof dest) {
        unsigned length = ansi_path_from_wide(path.wstring().c_str(), dest, capacity);
        EXPECT_EQ(length, strlen(dest)) << path;
        return std::string(dest);
    };
    // Exact: the code page's own bytes, not its short form.
    EXPECT_EQ(ansi(root / L"M\u00fcller" / "WINDOWS"), root.string() + "\\M\xfcller\\WINDOWS");
    // Not in the code page: the short form, never the look-alike "Lukasz".
    fs::path lukasz = root / L"\u0141ukasz" / "WINDOWS";
    std::string short_form = ansi(lukasz);
    EXPECT_TRUE(fs::equivalent(short_form, lukasz)) << short_form;
    EXPECT_EQ(short_form.find("Lukasz"), std::string::npos);
    // Exact but too long for the buffer: the short form when it fits.
    fs::path long_name = root / "a long folder name" / "WINDOWS";
    unsigned exact_size = (unsigned)long_name.string().size() + 1;
    EXPECT_TRUE(fs::equivalent(ansi(long_name, exact_size - 1), long_name));
    EXPECT_EQ(ansi(lukasz, (unsigned)short_form.size()), "");
    EXPECT_EQ(ansi(root / L"\u0141ukasz" / "none"), ""); // no such folder: no short form
    // A volume without 8.3 names hands the long name back.
    auto saved = ansi_path_short_form;
    ansi_path_short_form = [](const wchar_t* path, wchar_t* out, unsigned long capacity) {
        return (unsigned long)(wcslen(path) < capacity ? wcslen(wcscpy(out, path)) : 0);
    };
    EXPECT_EQ(ansi(lukasz), "");
    ansi_path_short_form = saved;
    fs::remove_all(root);
}
#endif

} // namespace
