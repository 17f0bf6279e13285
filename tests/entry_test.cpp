// The entry point's share of the work: the argument text, the launch path
// buffer and the settings directory.
#include "launch/entry.h"
#include "launch/launch_sequence.h"
#include "launch_files/launch_settings.h"
#include "platform/fake.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

TEST(ArgumentText, SkipsTheProgramNameAndTheBlanksAfterIt) {
    struct Case {
        std::string command_line;
        std::string expected;
    } cases[] = {
        {"\"C:\\Program Files\\x\\y.exe\"   C:\\TEMP\\GAME.GO", "C:\\TEMP\\GAME.GO"},
        {"launcher.exe\tC:\\TEMP\\GAME.GO", "C:\\TEMP\\GAME.GO"},
        {"launcher.exe \t\x01\x1f \"C:\\x y.go\" more", "\"C:\\x y.go\" more"},
        {"launcher.exe", ""},
        {"launcher.exe   ", ""},
        {"", ""},
        {"\"unterminated name C:\\x.go", ""},
        {"\"\"C:\\x.go", "C:\\x.go"},
        {"na\xe9me\xff.exe x.go", "x.go"}, // bytes above 0x7f belong to the name
        {"a.exe x.go  trailing  ", "x.go  trailing  "},
    };
    for (const Case& c : cases) {
        const char* text = argument_text(c.command_line.c_str());
        EXPECT_EQ(text, c.expected) << c.command_line;
        EXPECT_GE(text, c.command_line.c_str());
        EXPECT_LE(text, c.command_line.c_str() + c.command_line.size());
    }
}

TEST(ArgumentText, LeadByteTakesItsTrailByteAlong) {
    fake::reset();
    fake::lead_bytes = "\x81";
    EXPECT_STREQ(argument_text("\"ab\x81\"cd\" rest"), "rest");
    EXPECT_STREQ(argument_text("\"ab\x81"), ""); // a lead byte at the very end
    fake::reset();
    EXPECT_STREQ(argument_text("\"ab\x81\"cd\" rest"), "cd\" rest");
}

class EntryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::reset();
        launch_settings_init();
    }

    // A settings directory whose path is exactly `length` characters.
    std::string settings_dir_of_length(size_t length) {
        std::string path = dir.path() + "/";
        path += std::string(length - path.size(), 'd');
        std::filesystem::create_directories(path);
        TempDir::write_to(path + "/talvin.ini", "[client]\ncommand=run.exe\n");
        return path;
    }

    // A launch file whose path is exactly `length` characters.
    std::string launch_file_of_length(size_t length) {
        std::string name(length - dir.path().size() - 1, 'g');
        return dir.write(name, "[launch]\napp=client\n");
    }

    std::string only_box() {
        EXPECT_EQ(fake::message_boxes.size(), 1u);
        return fake::message_boxes.empty() ? "" : fake::message_boxes[0].text;
    }

    TempDir dir;
};

TEST_F(EntryTest, LaunchPathOfMoreThan255BytesIsRefusedNotCut) {
    fake::windows_directory = settings_dir_of_length(100);
    std::string path = launch_file_of_length(LAUNCH_PATH_CAP - 1);
    launch_from_argument_text(nullptr, path.c_str());
    EXPECT_EQ(fake::started.size(), 1u) << "255 bytes fit";

    SetUp();
    fake::windows_directory = settings_dir_of_length(100);
    launch_from_argument_text(nullptr, (path + "x").c_str());
    EXPECT_EQ(only_box(), "Unable to open launch file!");
    EXPECT_TRUE(fake::started.empty());
}

TEST_F(EntryTest, SettingsDirectoryIsTheWindowsDirectoryAndASeparator) {
    std::string launch = dir.write("game.tvl", "[launch]\napp=client\n");
    struct Case {
        size_t length;
        bool read;
    } cases[] = {{100, true}, {WINDOWS_DIR_QUERY_CAP - 1, true}, {WINDOWS_DIR_QUERY_CAP, false}};
    for (const Case& c : cases) {
        SetUp();
        fake::windows_directory = settings_dir_of_length(c.length);
        launch_from_argument_text(nullptr, launch.c_str());
        EXPECT_EQ(fake::started.size(), c.read ? 1u : 0u) << c.length;
        if (!c.read) {
            EXPECT_EQ(only_box(), "Unable to open talvin.ini file!");
        }
    }
}

TEST_F(EntryTest, WithoutAWindowsDirectoryTheCurrentOneIsNotUsed) {
    std::string launch = dir.write("game.tvl", "[launch]\napp=client\n");
    dir.write("talvin.ini", "[client]\ncommand=run.exe\n");
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    fake::windows_directory_fails = true;
    launch_from_argument_text(nullptr, launch.c_str());
    std::filesystem::current_path(previous);
    EXPECT_EQ(only_box(), "Unable to open talvin.ini file!");
    EXPECT_TRUE(fake::started.empty());
}

TEST_F(EntryTest, NoArgumentAndNoWindowShowOneUnownedBox) {
    launch_from_argument_text(nullptr, argument_text("launcher.exe"));
    ASSERT_EQ(fake::message_boxes.size(), 1u);
    EXPECT_EQ(fake::message_boxes[0].owner, nullptr);
    EXPECT_EQ(fake::message_boxes[0].caption, "Launcher");
    EXPECT_EQ(fake::message_boxes[0].text, "Unable to open launch file!");
}

} // namespace
