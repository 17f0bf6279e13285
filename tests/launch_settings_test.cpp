// The settings record and its key table: which section and key fill which
// field, in which value form, across both files.
#include "launch_files/launch_settings.h"
#include "launch_files/section_reader.h"
#include "platform/fake.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::reset();
        launch_settings_init();
    }

    // Applies one key line with distinct value forms, so the test sees which
    // form a field takes.
    void apply(const char* section, const char* key, SettingSource source = SOURCE_SETTINGS_FILE) {
        apply_setting(section, key, "word", "full text", source);
    }

    // Reads a launch file, then a settings file, as the launcher does.
    void read_both(const std::string& launch, const std::string& settings) {
        parse_section_file(nullptr, dir.write("launch.tvl", launch).c_str(), SOURCE_LAUNCH_FILE);
        parse_section_file(nullptr, dir.write("talvin.ini", settings).c_str(),
                           SOURCE_SETTINGS_FILE);
    }

    TempDir dir;
};

const LaunchSettings& s = launch_settings;

TEST_F(SettingsTest, StartsWithItsInitialValues) {
    EXPECT_STREQ(s.app, "");
    EXPECT_STREQ(s.missing, "");
    EXPECT_STREQ(s.user, "unknown");
    EXPECT_STREQ(s.password, "quillet");
    EXPECT_STREQ(s.email, "");
    EXPECT_EQ(s.send_identification, 0);
    EXPECT_EQ(s.passlaunch, 1);
    EXPECT_EQ(s.command_found, 0);
}

TEST_F(SettingsTest, EachTableStoresItsKeysInTheirValueForm) {
    struct Row {
        const char* section; // "client" is the product section
        const char* key;
        const char* (*field)();
        const char* expected; // "" where the key has no effect in that section
    };
    auto product = [] { return (const char*)s.product; };
    auto server = [] { return (const char*)s.server; };
    auto missing = [] { return (const char*)s.missing; };
    auto title = [] { return (const char*)s.title; };
    auto wndclass = [] { return (const char*)s.wndclass; };
    auto closeotherapps = [] { return (const char*)s.closeotherapps; };
    auto wndname = [] { return (const char*)s.wndname; };
    auto path = [] { return (const char*)s.path; };
    auto command = [] { return (const char*)s.command; };
    auto user = [] { return (const char*)s.user; };
    auto password = [] { return (const char*)s.password; };
    auto email = [] { return (const char*)s.email; };
    const Row rows[] = {
        // launch section
        {"launch", "product", product, "word"},
        {"launch", "server", server, "word"},
        {"launch", "missing", missing, "full text"},
        {"launch", "title", title, "full text"},
        {"launch", "wndclass", wndclass, "word"},
        {"launch", "closeotherapps", closeotherapps, "word"},
        {"launch", "wndname", wndname, "full text"},
        {"launch", "path", path, ""},
        {"launch", "command", command, ""},
        {"launch", "user", user, "unknown"},
        {"launch", "password", password, "quillet"},
        {"launch", "email", email, ""},
        // product section
        {"client", "path", path, "full text"},
        {"client", "command", command, "full text"},
        {"client", "title", title, "full text"},
        {"client", "wndclass", wndclass, "word"},
        {"client", "closeotherapps", closeotherapps, "word"},
        {"client", "wndname", wndname, "full text"},
        {"client", "product", product, ""},
        {"client", "server", server, ""},
        {"client", "missing", missing, ""},
        {"client", "user", user, "unknown"},
        // identification section
        {"identification", "user", user, "full text"},
        {"identification", "password", password, "full text"},
        {"identification", "email", email, "full text"},
        {"identification", "title", title, ""},
        {"identification", "command", command, ""},
        // any other section
        {"other", "title", title, ""},
        {"other", "user", user, "unknown"},
    };
    for (const Row& row : rows) {
        SetUp();
        apply_setting("launch", "app", "client", "client", SOURCE_SETTINGS_FILE);
        apply(row.section, row.key);
        EXPECT_STREQ(row.field(), row.expected) << row.section << "/" << row.key;
    }
}

TEST_F(SettingsTest, AppTakesOnlyTheFirstWordAndProductKeysTheWholeText) {
    read_both("[LAUNCH]\nApp=My Client\nmissing=Please install the client first.\n",
              "[my]\nCommand=run.exe -x\n");
    EXPECT_STREQ(s.app, "My");
    EXPECT_STREQ(s.missing, "Please install the client first.");
    EXPECT_STREQ(s.command, "run.exe -x");
    EXPECT_EQ(s.command_found, 1);
}

TEST_F(SettingsTest, NamesAndKeysIgnoreCaseOfAsciiLettersOnly) {
    apply_setting("LAUNCH", "APP", "Client", "Client", SOURCE_SETTINGS_FILE);
    apply_setting("cLiEnT", "COMMAND", "run.exe", "run.exe", SOURCE_SETTINGS_FILE);
    EXPECT_STREQ(s.app, "Client");
    EXPECT_EQ(s.command_found, 1);

    SetUp();
    apply_setting("launch", "app", "caf\xC9", "caf\xC9", SOURCE_SETTINGS_FILE);
    apply_setting("caf\xE9", "command", "x", "x", SOURCE_SETTINGS_FILE); // 0xC9 and 0xE9 differ
    EXPECT_EQ(s.command_found, 0);
    apply_setting("caf\xC9", "command", "x", "x", SOURCE_SETTINGS_FILE);
    EXPECT_EQ(s.command_found, 1);
    EXPECT_EQ(names_equal("launch", "launchx"), 0);
    EXPECT_EQ(names_equal("launch", "launc"), 0);
}

TEST_F(SettingsTest, ProductSectionNeedsAppToBeSetFirstInReadingOrder) {
    // In the launch file, a product section before its launch section is ignored.
    read_both("[client]\ntitle=early\n[launch]\napp=client\n",
              "[identification]\nuser=u\n[client]\ncommand=run.exe\n");
    EXPECT_STREQ(s.title, "");
    EXPECT_EQ(s.command_found, 1); // the settings file applies wherever it stands

    SetUp();
    read_both("[launch]\napp=client\n", "[client]\npath=c:\\one\n[launch]\napp=other\n"
                                        "[client]\npath=c:\\two\n[other]\npath=c:\\three\n");
    EXPECT_STREQ(s.path, "c:\\three");
}

TEST_F(SettingsTest, LaunchFileCannotChooseTheProgramOrItsDirectory) {
    read_both("[launch]\napp=client\n[client]\ncommand=evil.exe\npath=c:\\evil\ntitle=T\n"
              "messages=0\n",
              "");
    EXPECT_STREQ(s.command, "");
    EXPECT_STREQ(s.path, "");
    EXPECT_EQ(s.command_found, 0);
    EXPECT_STREQ(s.title, "T"); // the other product keys still apply
    EXPECT_EQ(s.send_identification, 1);
}

TEST_F(SettingsTest, EmptyCommandStillCountsAsFound) {
    read_both("[launch]\napp=client\n", "[client]\ncommand=\n");
    EXPECT_STREQ(s.command, "");
    EXPECT_EQ(s.command_found, 1);
}

TEST_F(SettingsTest, ValuesThatDoNotFitAreIgnoredWhole) {
    struct Case {
        const char* section;
        const char* key;
        size_t capacity;
        const char* (*field)();
    } cases[] = {
        {"launch", "app", SETTING_WORD_CAP, [] { return (const char*)s.app; }},
        {"launch", "missing", SETTING_TEXT_CAP, [] { return (const char*)s.missing; }},
        {"launch", "title", SETTING_TEXT_CAP, [] { return (const char*)s.title; }},
        {"client", "path", SETTING_WORD_CAP, [] { return (const char*)s.path; }},
        {"client", "command", SETTING_WORD_CAP, [] { return (const char*)s.command; }},
        {"identification", "user", SETTING_WORD_CAP, [] { return (const char*)s.user; }},
        {"identification", "password", SETTING_SECRET_CAP, [] { return (const char*)s.password; }},
        {"identification", "email", SETTING_SECRET_CAP, [] { return (const char*)s.email; }},
    };
    for (const Case& c : cases) {
        SetUp();
        apply_setting("launch", "app", "client", "client", SOURCE_SETTINGS_FILE);
        std::string fits(c.capacity - 1, 'v');
        std::string too_long(c.capacity, 'w');
        apply_setting(c.section, c.key, fits.c_str(), fits.c_str(), SOURCE_SETTINGS_FILE);
        EXPECT_EQ(c.field(), fits) << c.key;
        apply_setting(c.section, c.key, too_long.c_str(), too_long.c_str(), SOURCE_SETTINGS_FILE);
        EXPECT_EQ(c.field(), fits) << c.key << " keeps its previous value";
    }
}

TEST_F(SettingsTest, OverlongCommandIsNotFound) {
    apply_setting("launch", "app", "client", "client", SOURCE_SETTINGS_FILE);
    std::string too_long(SETTING_WORD_CAP, 'c');
    apply_setting("client", "command", too_long.c_str(), too_long.c_str(), SOURCE_SETTINGS_FILE);
    EXPECT_EQ(s.command_found, 0);
    EXPECT_STREQ(s.command, "");
}

TEST_F(SettingsTest, PasslaunchReadsAnIntegerOrKeepsItsValue) {
    struct Case {
        const char* word;
        int32_t expected; // starting from 7
    } cases[] = {
        {"0", 0},
        {"12abc", 12},
        {"0x10", 0},
        {"1.9", 1},
        {"-1", -1},
        {"+5", 5},
        {"\v\f\r42", 42},
        {"no", 7},
        {"", 7},
        {"-", 7},
        {"+", 7},
        {".5", 7},
        {"abc", 7},
        {"2147483647", 2147483647},
        {"2147483648", INT32_MIN},
        {"4294967297", 1},
        {"-4294967295", 1},
        {"99999999999", 1215752191},
    };
    for (const Case& c : cases) {
        SetUp();
        apply_setting("launch", "passlaunch", "7", "7", SOURCE_SETTINGS_FILE);
        apply_setting("launch", "PassLaunch", c.word, c.word, SOURCE_SETTINGS_FILE);
        EXPECT_EQ(s.passlaunch, c.expected) << "'" << c.word << "'";
    }
}

TEST_F(SettingsTest, MessagesKeysSetThenInvertTheFlag) {
    struct Case {
        std::vector<std::pair<const char*, const char*>> lines; // key, value
        int32_t expected;
    } cases[] = {
        {{{"handlesmessages", "1"}}, 0},
        {{{"handlesmessages", "0"}}, 1},
        {{{"messages", "1"}, {"handlesmessages", "0"}}, 1},
        {{{"messages", "abc"}}, 1},
        {{{"messages", "abc"}, {"messages", "abc"}}, 0},
        {{{"messages", "5"}}, 0},
        {{{"messages", "-4294967296"}}, 1}, // wraps to 0
        {{{"messages", ""}}, 1},
    };
    for (const Case& c : cases) {
        SetUp();
        for (const auto& line : c.lines)
            apply_setting("launch", line.first, line.second, line.second, SOURCE_SETTINGS_FILE);
        EXPECT_EQ(s.send_identification, c.expected)
            << c.lines[0].first << "=" << c.lines[0].second;
    }
    // The product section knows them too.
    SetUp();
    apply_setting("launch", "app", "client", "client", SOURCE_SETTINGS_FILE);
    apply_setting("client", "handlesmessages", "0", "0", SOURCE_SETTINGS_FILE);
    EXPECT_EQ(s.send_identification, 1);
}

TEST_F(SettingsTest, SettingsFileReadLaterWins) {
    read_both("[launch]\napp=client\npasslaunch=1\ntitle=from launch\n"
              "[identification]\nuser=alice\npassword=one\nemail=a@x\n",
              "[identification]\npassword=two\n[launch]\npasslaunch=0\n"
              "[client]\ncommand=run.exe\ntitle=from settings\n");
    EXPECT_STREQ(s.user, "alice");
    EXPECT_STREQ(s.password, "two");
    EXPECT_STREQ(s.email, "a@x");
    EXPECT_EQ(s.passlaunch, 0);
    EXPECT_STREQ(s.title, "from settings");
}

TEST_F(SettingsTest, AppNamingAnotherKindOfSection) {
    // The product table is tried before the identification table...
    apply_setting("launch", "app", "Identification", "Identification", SOURCE_SETTINGS_FILE);
    apply_setting("identification", "user", "bob", "bob", SOURCE_SETTINGS_FILE);
    apply_setting("identification", "command", "run.exe", "run.exe", SOURCE_SETTINGS_FILE);
    EXPECT_STREQ(s.user, "unknown");
    EXPECT_EQ(s.command_found, 1);
    // ...and after the launch table.
    SetUp();
    apply_setting("launch", "app", "launch", "launch", SOURCE_SETTINGS_FILE);
    apply_setting("launch", "command", "run.exe", "run.exe", SOURCE_SETTINGS_FILE);
    EXPECT_EQ(s.command_found, 0);
}

} // namespace
