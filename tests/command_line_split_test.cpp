// Splitting a command line by the Windows argument rules, and the check that
// a launch path reaches the product as exactly one argument.
#include "platform/command_line_split.h"

#include <gtest/gtest.h>

#include <string.h>
#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

// The arguments of `line`, or {"<error>"} when they do not fit.
Args split(const std::string& line, size_t text_capacity = 0, int max_args = 64) {
    std::vector<char> text(text_capacity ? text_capacity : line.size() + 1);
    char* args[64];
    int count = split_command_line(line.c_str(), text.data(), text.size(), args, max_args);
    if (count < 0) return {"<error>"};
    return Args(args, args + count);
}

TEST(SplitCommandLine, FollowsTheWindowsArgumentRules) {
    struct Case {
        std::string line;
        Args args;
    } cases[] = {
        {"", {}},
        {" \t ", {}},
        {"run", {"run"}},
        {"  run  a\tb  ", {"run", "a", "b"}},
        {"run \"a b\" c", {"run", "a b", "c"}},
        {"run a\"b c\"d", {"run", "ab cd"}},
        {"run \"\"", {"run", ""}},
        {"run \"\" \"\"", {"run", "", ""}},
        {"run a\\b\\\\c", {"run", "a\\b\\\\c"}}, // backslashes not before a quote
        {"run a\\\"b", {"run", "a\"b"}},         // 1 backslash + quote: literal quote
        {"run a\\\\\"b c\"", {"run", "a\\b c"}}, // 2 backslashes + quote: one, and group
        {"run a\\\\\\\"b", {"run", "a\\\"b"}},   // 3 backslashes + quote
        {"run \"a\\\\\"", {"run", "a\\"}},       // quoted path ending in a backslash pair
        {"run \"a\\\"", {"run", "a\""}},         // quote escaped: group never closes
        {"run \"a\"\"b\"", {"run", "a\"b"}},     // "" inside a group
        {"run \"unterminated group", {"run", "unterminated group"}},
        {"run a\nb", {"run", "a\nb"}}, // line feed is no separator
        {"\"C:\\Program Files\\x.exe\" a", {"C:\\Program Files\\x.exe", "a"}},
        {"C:\\dir\\\"x y\" a", {"C:\\dir\\x y", "a"}}, // no escapes in the program name
        {"/opt/p\xe9/run \xff", {"/opt/p\xe9/run", "\xff"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(split(c.line), c.args) << c.line;
}

TEST(SplitCommandLine, RefusesWhatDoesNotFit) {
    EXPECT_EQ(split("run a b", 0, 2), Args{"<error>"});
    EXPECT_EQ(split("run a b", 0, 3), (Args{"run", "a", "b"}));
    EXPECT_EQ(split("run abc", 7), Args{"<error>"}); // needs 8: "run\0abc\0"
    EXPECT_EQ(split("run abc", 8), (Args{"run", "abc"}));
}

TEST(PathSurvivesSplit, AcceptsOnlyPathsThatComeBackWhole) {
    struct Case {
        std::string path;
        bool survives;
    } cases[] = {
        {"/tmp/game.tvl", true},
        {"C:\\TEMP\\GAME.TVL", true},
        {"/tmp/with blanks\tand tab.tvl", true},
        {"/tmp/line\nfeed.tvl", true},
        {"/tmp/$(rm -rf x);|&.tvl", true},
        {"/tmp/caf\xe9\xff.tvl", true},
        {"/tmp/back\\slash.tvl", true},
        {"", true},
        {"/tmp/quote\"inside.tvl", false},
        {"/tmp/ends in backslash\\", false},
        {"/tmp/x\" --option \"y", false},
        {"/tmp/x\" --option=1", false},
        {"/tmp/\"\"", false},
        {std::string(600, 'p'), false}, // longer than any launch path
    };
    for (const Case& c : cases)
        EXPECT_EQ(path_survives_split(c.path.c_str()), c.survives) << c.path;
}

} // namespace
