// The section file reader over real files: folding, line splitting, headers,
// the two value forms, and what reaches the settings record.
#include "launch_files/section_reader.h"
#include "platform/fake.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class ReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::reset();
        launch_settings_init();
        line_pushed_back = false;
    }

    // Every line next_line hands out for a file holding `bytes`.
    std::vector<std::string> lines_of(const std::string& bytes) {
        std::string path = dir.write("lines.txt", bytes);
        TextStream* stream = new TextStream();
        stream->file = platform_open_for_reading(path.c_str());
        EXPECT_NE(stream->file, PLATFORM_NO_FILE);
        std::vector<std::string> lines;
        char dest[LINE_BUFFER_CAP];
        while (next_line(stream, dest) != nullptr)
            lines.push_back(dest);
        platform_close(stream->file);
        delete stream;
        return lines;
    }

    int parse(const std::string& bytes) {
        return parse_section_file(nullptr, dir.write("file.ini", bytes).c_str(),
                                  SOURCE_SETTINGS_FILE);
    }

    std::vector<std::string> boxes() {
        std::vector<std::string> texts;
        for (const auto& box : fake::message_boxes)
            texts.push_back(box.caption + ": " + box.text);
        return texts;
    }

    TempDir dir;
};

using Lines = std::vector<std::string>;

TEST_F(ReaderTest, FoldsLineEndsAndStopsAtCtrlZ) {
    struct Case {
        const char* name;
        std::string bytes;
        Lines lines;
    } cases[] = {
        {"crlf", "a\r\nb\r\n", {"a\n", "b\n"}},
        {"bare lf", "a\nb", {"a\n", "b"}},
        {"lone cr stays", "a\rb\r\n\r", {"a\rb\n", "\r"}},
        {"cr cr lf", "a\r\r\nb", {"a\r\n", "b"}},
        {"ctrl-z ends the file", std::string("a\nb\x1A\nc\n"), {"a\n", "b"}},
        {"cr before ctrl-z stays", std::string("a\r\x1A\r\n"), {"a\r"}},
        {"ctrl-z first", std::string("\x1A[launch]\n"), {}},
        {"0xff is data", std::string("\xFF\xFE\n\xFF"), {"\xFF\xFE\n", "\xFF"}},
        {"zero byte ends the line's text", std::string("ab\0cd\nef\n", 9), {"ab", "ef\n"}},
        {"empty file", "", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lines_of(c.bytes), c.lines) << c.name;
}

TEST_F(ReaderTest, FoldsCrLfAcrossReadChunks) {
    // Lines of 100 bytes up to the CR, which is the last byte of the first
    // read chunk; its LF is the first byte of the next one.
    std::string line(99, 'a');
    line += '\n';
    std::string bytes;
    while (bytes.size() + line.size() < READ_CHUNK_CAP - 1)
        bytes += line;
    size_t full_lines = bytes.size() / line.size();
    std::string last(READ_CHUNK_CAP - 1 - bytes.size(), 'b');
    bytes += last + "\r\nnext\r\n";
    Lines lines = lines_of(bytes);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], last + "\n");
    EXPECT_EQ(lines.back(), "next\n");
    EXPECT_EQ(lines.size(), full_lines + 2);
}

TEST_F(ReaderTest, SplitsLinesLongerThan4094Characters) {
    struct Case {
        size_t length;
        Lines expected;
    } cases[] = {
        {4093, {std::string(4093, 'k') + "\n"}},
        {4094, {std::string(4094, 'k'), "\n"}},
        {4095, {std::string(4094, 'k'), "k\n"}},
        {9000, {std::string(4094, 'k'), std::string(4094, 'k'), std::string(812, 'k') + "\n"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lines_of(std::string(c.length, 'k') + "\n"), c.expected) << c.length;
}

TEST_F(ReaderTest, LongKeyLineContinuesAsAKeyLineOfItsOwn) {
    // 4094 characters: "title=" then padding; the rest becomes the key "wndclass".
    std::string first = "title=" + std::string(LINE_MAX_CHARS - 6, 'a');
    EXPECT_EQ(parse("[launch]\r\n" + first + "wndclass=Second\r\n"), 1);
    EXPECT_STREQ(launch_settings.title, ""); // 4088 characters do not fit: ignored
    EXPECT_STREQ(launch_settings.wndclass, "Second");
}

TEST_F(ReaderTest, GivesTheTwoValueForms) {
    struct Case {
        std::string after_key; // the line after the key
        const char* first_word;
        const char* full_text;
    } cases[] = {
        {" = C:\\CLIENT\\RUN.EXE -x\n", "C:\\CLIENT\\RUN.EXE", "C:\\CLIENT\\RUN.EXE -x"},
        {"=Two=Parts\n", "Two", "Two=Parts"},
        {"==value", "value", "value"},
        {"\ta b\t\n", "a", "a b\t"},
        {"=Client ;old\n", "Client", "Client ;old"},
        {"=\n", "", ""},
        {"", "", ""},
        {" \t=  \n", "", ""},
        {" value\r\n", "value", "value"},
        {"=x\r \n", "x\r", "x\r"}, // a lone CR is an ordinary character
        {"=a  b   \n", "a", "a  b"},
    };
    for (const Case& c : cases) {
        SetUp();
        parse("[launch]\ntitle" + c.after_key + "\nwndclass" + c.after_key + "\n");
        EXPECT_STREQ(launch_settings.title, c.full_text) << c.after_key;
        EXPECT_STREQ(launch_settings.wndclass, c.first_word) << c.after_key;
    }
}

TEST_F(ReaderTest, KeyLineNeedsNoEqualsSign) {
    parse("[launch]\napp client\n[client]\nwndname  My Window \n");
    EXPECT_STREQ(launch_settings.app, "client");
    EXPECT_STREQ(launch_settings.wndname, "My Window");
}

TEST_F(ReaderTest, RecognisesSectionHeadersByTheirFirstToken) {
    struct Case {
        const char* name;
        std::string file;
        const char* title;
    } cases[] = {
        {"text after ] is ignored", "[launch]xyz\ntitle=a\n", "a"},
        {"rest of header line is ignored", "[launch] title=b\n", ""},
        {"indented header", "  \t[launch]\n  title=c\n", "c"},
        {"lines before any section are skipped", "title=d\n[other]\ntitle=e\n", ""},
        {"empty name", "[]\ntitle=f\n[launch]\ntitle=g\n", "g"},
        {"comment lines", "[launch]\n;title=h\n   ; title=i\ntitle=j;k\n", "j;k"},
        {"header case ignored", "[LaUnCh]\nTITLE=k\n", "k"},
        {"repeated sections apply in order", "[launch]\ntitle=l\n[x]\n[launch]\ntitle=m\n", "m"},
        {"non-ASCII bytes must match exactly", "[launch\xC9]\ntitle=n\n", ""},
    };
    for (const Case& c : cases) {
        SetUp();
        EXPECT_EQ(parse(c.file), 1) << c.name;
        EXPECT_STREQ(launch_settings.title, c.title) << c.name;
        EXPECT_TRUE(fake::message_boxes.empty()) << c.name;
    }
}

TEST_F(ReaderTest, ReportsHeadersWithoutClosingBracketAndGoesOn) {
    parse("[launch]\n"
          "title=before\n"
          "[abc\n"
          "title=skipped\n"
          " =[x y\n"
          "[ launch]\n"
          "[my app]\n"
          "[launch]\n"
          "wndclass=after\n");
    EXPECT_EQ(boxes(), (std::vector<std::string>{
                           "Launcher: no matching ']' found on [abc!\n",
                           "Launcher: no matching ']' found on  =[x!\n",
                           "Launcher: no matching ']' found on [!\n",
                           "Launcher: no matching ']' found on [my!\n",
                       }));
    EXPECT_STREQ(launch_settings.title, "before");
    EXPECT_STREQ(launch_settings.wndclass, "after");
}

TEST_F(ReaderTest, BadHeaderTextIsDataNotAFormat) {
    parse("[%s%n%d%%\n");
    EXPECT_EQ(boxes(), std::vector<std::string>{"Launcher: no matching ']' found on [%s%n%d%%!\n"});
}

TEST_F(ReaderTest, BadHeaderMessageOfTheLongestLineFitsItsBuffer) {
    std::string token = "[" + std::string(LINE_MAX_CHARS - 1, 'h');
    parse(token + "\n");
    ASSERT_EQ(fake::message_boxes.size(), 1u);
    const std::string& text = fake::message_boxes[0].text;
    EXPECT_EQ(text.size(), (size_t)LINE_BUFFER_CAP - 1);
    EXPECT_EQ(text.substr(0, 26), "no matching ']' found on [");
    EXPECT_EQ(text.substr(text.size() - 3), "h!\n");
}

TEST_F(ReaderTest, OpensOnlyExistingRegularFiles) {
    EXPECT_EQ(parse_section_file(nullptr, dir.file("absent.ini").c_str(), SOURCE_SETTINGS_FILE), 0);
    EXPECT_EQ(parse_section_file(nullptr, dir.path().c_str(), SOURCE_SETTINGS_FILE), 0);
    EXPECT_EQ(parse(""), 1);
    EXPECT_EQ(parse("no header\njust lines\n"), 1);
    EXPECT_TRUE(fake::message_boxes.empty());
}

TEST_F(ReaderTest, FileEndsWithNoLinePushedBack) {
    parse("[launch]\ntitle=x\n[next]\n");
    EXPECT_FALSE(line_pushed_back);
    parse("[launch]\n[abc\n");
    EXPECT_FALSE(line_pushed_back);
}

TEST_F(ReaderTest, MissingWorkingMemoryReadsNothing) {
    std::string path = dir.write("file.ini", "[launch]\ntitle=x\n[launch]\nwndclass=y\n");
    for (long fail_at = 1; fail_at <= 10; fail_at++) {
        SetUp();
        fake::fail_memory_at = fail_at;
        int result = parse_section_file(nullptr, path.c_str(), SOURCE_SETTINGS_FILE);
        EXPECT_EQ(fake::memory_outstanding, 0) << fail_at;
        if (fake::memory_requests < fail_at) {
            EXPECT_EQ(result, 1) << fail_at; // every request was met
            EXPECT_STREQ(launch_settings.wndclass, "y");
        } else {
            EXPECT_EQ(result, 0) << fail_at;
        }
    }
}

} // namespace
