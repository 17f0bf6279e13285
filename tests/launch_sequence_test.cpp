// The launch sequence over the recording fake and real files: what it reads,
// reports, changes, appends and starts.
#include "launch/launch_sequence.h"
#include "launch_files/launch_settings.h"
#include "platform/fake.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

const std::string TYPICAL_LAUNCH = "[launch]\r\napp=client\r\nmissing=Please install.\r\n";
const std::string TYPICAL_SETTINGS =
    "[client]\r\npath=c:\\client\r\ncommand=c:\\client\\run.exe\r\n"
    "[identification]\r\nuser=alice\r\npassword=secret\r\n";

class SequenceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::reset();
        launch_settings_init();
        settings_dir = dir.path() + "/";
        std::remove(dir.file("talvin.ini").c_str());
        std::remove(dir.file("game.tvl").c_str());
    }

    std::string write_launch(const std::string& bytes, const std::string& name = "game.tvl") {
        return launch_file = dir.write(name, bytes);
    }
    void write_settings(const std::string& bytes) { dir.write("talvin.ini", bytes); }

    // Runs the sequence on `argument` as the launch path buffer holds it.
    void run(const std::string& argument) {
        char launch_path[LAUNCH_PATH_CAP] = "";
        ASSERT_LT(argument.size(), sizeof launch_path);
        memcpy(launch_path, argument.c_str(), argument.size() + 1);
        run_launch(owner, settings_dir.c_str(), launch_path);
        EXPECT_EQ(fake::memory_outstanding, 0);
    }
    void run() { run(launch_file); }

    void setup_typical(const std::string& extra_launch = "",
                       const std::string& extra_settings = "") {
        write_launch(TYPICAL_LAUNCH + extra_launch);
        write_settings(TYPICAL_SETTINGS + extra_settings);
    }

    std::vector<std::string> boxes() const {
        std::vector<std::string> texts;
        for (const auto& box : fake::message_boxes) {
            EXPECT_EQ(box.owner, owner);
            texts.push_back(box.caption + ": " + box.text);
        }
        return texts;
    }

    std::string started() const {
        EXPECT_LE(fake::started.size(), 1u);
        return fake::started.empty() ? "<nothing>" : fake::started[0].command_line;
    }

    static std::string upper(std::string text) {
        for (char& c : text)
            if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
        return text;
    }

    TempDir dir;
    std::string settings_dir;
    std::string launch_file;
    platform_window owner = (platform_window)0x1234;
};

using Boxes = std::vector<std::string>;

TEST_F(SequenceTest, TypicalRunChangesDirectoryAppendsAndStarts) {
    setup_typical("messages=0\r\n");
    fake::current_directory = "c:\\elsewhere";
    run();
    EXPECT_EQ(boxes(), Boxes{});
    EXPECT_EQ(fake::directories, std::vector<std::string>{"c:\\client"});
    ASSERT_EQ(fake::environment.size(), 1u);
    EXPECT_EQ(fake::environment[0].first, "=C:");
    EXPECT_EQ(fake::environment[0].second, "c:\\client");
    EXPECT_EQ(started(), upper("c:\\client\\run.exe \"" + launch_file + "\""));
    EXPECT_EQ(fake::started[0].show_state, 1);
    EXPECT_EQ(read_bytes(launch_file), TYPICAL_LAUNCH +
                                           "messages=0\r\n"
                                           "[identification]\r\nuser=alice\r\npassword=secret\r\n");
}

TEST_F(SequenceTest, StepsHappenInOrder) {
    setup_typical("messages=0\r\n");
    run();
    EXPECT_EQ(fake::calls,
              (std::vector<std::string>{"full_path", "short_path", "change_directory",
                                        "current_directory", "set_environment", "start_program"}));
}

TEST_F(SequenceTest, IdentificationBlockIsAppendedWithoutTouchingEarlierBytes) {
    struct Case {
        const char* name;
        std::string launch; // after the typical launch lines
        std::string settings_extra;
        std::string appended;
    } cases[] = {
        {"no email: three lines", "messages=0\r\n", "",
         "[identification]\r\nuser=alice\r\npassword=secret\r\n"},
        {"email line", "messages=0\r\n", "[identification]\r\nemail=a@example.org\r\n",
         "[identification]\r\nuser=alice\r\npassword=secret\r\nemail=a@example.org\r\n"},
        {"last line without line end", "messages=0", "",
         "[identification]\r\nuser=alice\r\npassword=secret\r\n"},
        {"ctrl-z stays before the block", std::string("messages=0\r\n\x1A"), "",
         "[identification]\r\nuser=alice\r\npassword=secret\r\n"},
        {"bare lf and lone cr kept", "messages=0\n\rx\n", "",
         "[identification]\r\nuser=alice\r\npassword=secret\r\n"},
    };
    for (const Case& c : cases) {
        SetUp();
        setup_typical(c.launch, c.settings_extra);
        std::string before = read_bytes(launch_file);
        run();
        EXPECT_EQ(read_bytes(launch_file), before + c.appended) << c.name;
    }
}

TEST_F(SequenceTest, InitialIdentificationIsSentWhenNoneWasRead) {
    write_launch("[launch]\napp=client\nhandlesmessages=0\n");
    write_settings("[client]\ncommand=run.exe\n");
    run();
    EXPECT_EQ(read_bytes(launch_file), "[launch]\napp=client\nhandlesmessages=0\n"
                                       "[identification]\r\nuser=unknown\r\npassword=quillet\r\n");
}

TEST_F(SequenceTest, NothingIsAppendedUnlessAskedFor) {
    setup_typical();
    run();
    EXPECT_EQ(read_bytes(launch_file), TYPICAL_LAUNCH);
    EXPECT_NE(started(), "<nothing>");
}

TEST_F(SequenceTest, ComposesTheCommandLine) {
    struct Case {
        const char* name;
        std::string launch_extra;
        std::string command;
        bool ignore_case;
        std::string expected; // %s stands for the launch path
    } cases[] = {
        {"path passed", "", "c:\\client\\run.exe -name x", true,
         "C:\\CLIENT\\RUN.EXE -NAME X \"%s\""},
        {"passlaunch=0", "passlaunch=0\n", "c:\\client\\run.exe", true, "C:\\CLIENT\\RUN.EXE"},
        {"passlaunch=-1 keeps it on", "passlaunch=-1\n", "run.exe", true, "RUN.EXE \"%s\""},
        {"empty command", "", "", true, " \"%s\""},
        {"bytes above 0x7f untouched", "passlaunch=0\n", "c:\\caf\xe9\\run.exe", true,
         "C:\\CAF\xe9\\RUN.EXE"},
        {"case kept where names keep it", "", "/opt/Client/run", false, "/opt/Client/run \"%s\""},
    };
    for (const Case& c : cases) {
        SetUp();
        fake::ignore_case = c.ignore_case;
        write_launch("[launch]\napp=client\n" + c.launch_extra);
        write_settings("[client]\ncommand=" + c.command + "\n");
        run();
        std::string path = c.ignore_case ? upper(launch_file) : launch_file;
        std::string expected = c.expected;
        size_t at = expected.find("%s");
        if (at != std::string::npos) expected.replace(at, 2, path);
        EXPECT_EQ(started(), expected) << c.name;
        EXPECT_EQ(boxes(), Boxes{}) << c.name;
    }
}

TEST_F(SequenceTest, UnquotesTheLaunchPath) {
    setup_typical("passlaunch=1\n");
    run("\"" + launch_file + "\" extra words");
    EXPECT_EQ(started(), upper("c:\\client\\run.exe \"" + launch_file + "\""));

    SetUp();
    setup_typical();
    run("\"" + launch_file); // no closing quote: the rest is the path
    EXPECT_EQ(started(), upper("c:\\client\\run.exe \"" + launch_file + "\""));
}

TEST_F(SequenceTest, UsesTheShortFormOnlyWhenItFits) {
    setup_typical("messages=0\n");
    std::string short_file = dir.write("GAME~1.TVL", "");
    fake::short_path = short_file;
    run();
    EXPECT_EQ(started(), upper("c:\\client\\run.exe \"" + short_file + "\""));
    EXPECT_NE(read_bytes(short_file), ""); // the block goes to the path of the short form

    SetUp();
    setup_typical();
    fake::short_path = std::string(LAUNCH_PATH_CAP, 'S'); // needs 257 bytes
    run();
    EXPECT_EQ(started(), upper("c:\\client\\run.exe \"" + launch_file + "\""));
}

TEST_F(SequenceTest, RelativeLaunchPathIsMadeAbsoluteBeforeTheDirectoryChanges) {
    setup_typical("messages=0\n");
    fake::current_directory = dir.path(); // where the launcher was started
    run("game.tvl");
    EXPECT_EQ(started(), upper("c:\\client\\run.exe \"" + dir.path() + "/game.tvl\""));
    EXPECT_NE(read_bytes(launch_file).find("[identification]"), std::string::npos);
}

TEST_F(SequenceTest, DirectoryChange) {
    struct Case {
        const char* name;
        std::string path_line;
        bool fails;
        std::string read_back;
        std::vector<std::pair<std::string, std::string>> environment;
    } cases[] = {
        {"drive letter uppercased",
         "path=d:\\games\\client\n",
         false,
         "d:\\games\\client",
         {{"=D:", "d:\\games\\client"}}},
        {"network path makes no entry", "path=\\\\server\\share\n", false, "\\\\server\\share", {}},
        {"forward slashes too", "path=//server/share\n", false, "//server/share", {}},
        {"no drive makes no entry", "path=/opt/client\n", false, "/opt/client", {}},
        {"failure is ignored", "path=q:\\missing\n", true, "", {}},
    };
    for (const Case& c : cases) {
        SetUp();
        write_launch("[launch]\napp=client\n");
        write_settings("[client]\ncommand=run.exe\n" + c.path_line);
        fake::change_directory_fails = c.fails;
        run();
        EXPECT_EQ(fake::environment, c.environment) << c.name;
        EXPECT_EQ(started(), upper("run.exe \"" + launch_file + "\"")) << c.name;
        EXPECT_EQ(boxes(), Boxes{}) << c.name;
    }
    SetUp();
    write_launch("[launch]\napp=client\n");
    write_settings("[client]\ncommand=run.exe\n");
    run();
    EXPECT_TRUE(fake::directories.empty()) << "no path, no change";
}

TEST_F(SequenceTest, ReportsFilesThatCannotBeRead) {
    struct Case {
        const char* name;
        bool launch_exists;
        bool settings_exists;
        const char* expected;
    } cases[] = {
        {"launch file missing", false, true, "Launcher: Unable to open launch file!"},
        {"settings missing", true, false, "Launcher: Unable to open talvin.ini file!"},
    };
    for (const Case& c : cases) {
        SetUp();
        if (c.launch_exists)
            write_launch(TYPICAL_LAUNCH + "messages=0\n");
        else
            launch_file = dir.file("absent.tvl");
        if (c.settings_exists) write_settings(TYPICAL_SETTINGS);
        run();
        EXPECT_EQ(boxes(), Boxes{c.expected}) << c.name;
        EXPECT_EQ(started(), "<nothing>") << c.name;
        EXPECT_TRUE(fake::directories.empty()) << c.name;
        if (c.launch_exists) {
            EXPECT_EQ(read_bytes(launch_file), TYPICAL_LAUNCH + "messages=0\n") << c.name;
        }
    }
}

TEST_F(SequenceTest, EmptyLaunchPathOrSettingsDirectoryReadsNothing) {
    setup_typical();
    run("");
    EXPECT_EQ(boxes(), Boxes{"Launcher: Unable to open launch file!"});

    SetUp();
    setup_typical();
    settings_dir = ""; // no settings directory: the current one is never tried
    fake::current_directory = dir.path();
    run();
    EXPECT_EQ(boxes(), Boxes{"Launcher: Unable to open talvin.ini file!"});
    EXPECT_EQ(started(), "<nothing>");
}

TEST_F(SequenceTest, RefusesLaunchPathsThatWouldNotReachTheProductWhole) {
    const char* names[] = {"a\"b.tvl", "trailing\\", "x\" --option \"y"};
    for (const char* name : names) {
        SetUp();
        write_settings(TYPICAL_SETTINGS);
        std::string path = dir.path() + "/" + name;
        run(path);
        EXPECT_EQ(boxes(), Boxes{"Launcher: Unable to open launch file!"}) << name;
        EXPECT_EQ(started(), "<nothing>") << name;
    }
}

TEST_F(SequenceTest, ProductNotInstalledShowsTheMissingText) {
    struct Case {
        std::string launch;
        std::string settings;
        const char* expected;
    } cases[] = {
        {TYPICAL_LAUNCH + "messages=0\n", "[other]\ncommand=x\n",
         "Product not installed!: Please install."},
        {"[launch]\napp=client\nmissing=%s %d %n 100%\n", "",
         "Product not installed!: %s %d %n 100%"},
        {"[launch]\napp=client\n", "[client]\npath=c:\\client\n", "Product not installed!: "},
    };
    for (const Case& c : cases) {
        SetUp();
        write_launch(c.launch);
        write_settings(c.settings);
        std::string before = read_bytes(launch_file);
        run();
        EXPECT_EQ(boxes(), Boxes{c.expected});
        EXPECT_TRUE(fake::directories.empty());
        EXPECT_EQ(started(), "<nothing>");
        EXPECT_EQ(read_bytes(launch_file), before);
    }
}

TEST_F(SequenceTest, BadHeadersAreReportedAndTheSequenceGoesOn) {
    write_launch("[launch\n[launch]\napp=client\n");
    write_settings("[oops\n" + TYPICAL_SETTINGS);
    run();
    EXPECT_EQ(boxes(), (Boxes{"Launcher: no matching ']' found on [launch!\n",
                              "Launcher: no matching ']' found on [oops!\n"}));
    EXPECT_NE(started(), "<nothing>");
}

TEST_F(SequenceTest, EveryStartResultHasItsMessage) {
    struct Case {
        unsigned result;
        const char* expected; // null: no message
    } cases[] = {
        {0, "Launch failed: System is out of memory,\nexecutable file is corrupt,\nor relocations "
            "are invalid."},
        {1, nullptr},
        {2, "File not found!: Please install."},
        {3, "Path not found!: Please install."},
        {4, nullptr},
        {5, "Launch failed: Attempted to dynamically link to a task,\nor sharing or network "
            "protection error."},
        {6, "Launch failed: Library required separate data segments for each task."},
        {7, nullptr},
        {8, "Launch failed: Insufficient memory."},
        {9, nullptr},
        {10, "Launch failed: Incorrect version of Windows."},
        {11, "Launch failed: Invalid executable file."},
        {12, "Launch failed: Application not designed for Windows."},
        {13, "Launch failed: Application designed for DOS 4.0."},
        {14, "Launch failed: Type of executable file is unknown."},
        {15, "Launch failed: Attempted to load a real-mode application."},
        {16, "Launch failed: Attempted to load second instance of application."},
        {17, nullptr},
        {18, nullptr},
        {19, "Launch failed: Attempted to load compressed executable."},
        {20, "Launch failed: Invalid DLL."},
        {21, "Launch failed: Application requires Windows 32-bit extensions."},
        {22, nullptr},
        {31, nullptr},
        {32, nullptr},
        {0xFFFFFFFFu, nullptr},
    };
    for (const Case& c : cases) {
        SetUp();
        setup_typical();
        fake::start_result = c.result;
        run();
        EXPECT_EQ(boxes(), c.expected ? Boxes{c.expected} : Boxes{}) << c.result;
        EXPECT_NE(started(), "<nothing>");
    }
    SetUp();
    write_launch("[launch]\napp=client\n");
    write_settings("[client]\ncommand=x\n");
    fake::start_result = 2;
    run();
    EXPECT_EQ(boxes(), Boxes{"File not found!: "}) << "empty missing text";
}

TEST_F(SequenceTest, WorkingMemoryThatCannotBeHadStartsNothingHalfWay) {
    for (long fail_at = 1; fail_at <= 12; fail_at++) {
        SetUp();
        setup_typical("messages=0\n");
        std::string before = read_bytes(launch_file);
        fake::fail_memory_at = fail_at;
        run();
        if (fake::memory_requests >= fail_at) {
            EXPECT_EQ(started(), "<nothing>") << fail_at;
            EXPECT_EQ(read_bytes(launch_file), before) << fail_at;
            EXPECT_TRUE(fake::directories.empty()) << fail_at;
            ASSERT_EQ(fake::message_boxes.size(), 1u) << fail_at;
            EXPECT_EQ(fake::message_boxes[0].caption, "Launcher");
        } else {
            EXPECT_NE(started(), "<nothing>") << fail_at;
        }
    }
}

} // namespace
