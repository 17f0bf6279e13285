// The POSIX launcher end to end: the built program run on real files and
// hostile names in a temporary tree, starting a record product that says
// what it was given. Each case checks the exact standard error, whether a
// product was started and with which arguments and directory, and every
// byte of the tree before and after.
#include "harness.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

const char UNABLE_LAUNCH[] = "Launcher: Unable to open launch file!\n";
const char UNABLE_SETTINGS[] = "Launcher: Unable to open talvin.ini file!\n";
const char BLOCK[] = "[identification]\r\nuser=guest\r\npassword=secret\r\n";
const char LAUNCH_FILE[] = "[launch]\napp=client\nmessages=0\n";

// Sanitizer builds run slower; a wrapper (valgrind) much slower still.
#ifndef LAUNCHER_E2E_TIME_FACTOR
#define LAUNCHER_E2E_TIME_FACTOR 1
#endif

using Args = std::vector<std::string>;
using Changes = std::vector<std::string>;

// Under a wrapper such as valgrind, posix_spawn cannot report a failed exec
// (valgrind runs it as a plain fork), so a failed start looks like a start.
#define SKIP_START_FAILURES_UNDER_WRAPPER()                                                        \
    if (!wrapper_words().empty())                                                                  \
    GTEST_SKIP() << "start failures look like starts under a "                                     \
                    "wrapper"

class LauncherE2E : public ::testing::Test {
  protected:
    Sandbox box;
    std::string product;

    void SetUp() override {
        for (const char* dir : {"dl", "win", "prod", "bin", "home", "tmp", "cwd"})
            box.make_dir(dir);
        product = box.write("prod/product", read_file(RECORD_PRODUCT), 0755);
        write_settings("command=" + product + "\n");
    }

    // talvin.ini with the product section `client` (path is the product's
    // folder) holding `product_keys`, and the identification.
    void write_settings(const std::string& product_keys, const std::string& dir = "win") {
        box.write(dir + "/talvin.ini", "[client]\npath=" + box.path("prod") + "\n" + product_keys +
                                           "[identification]\nuser=guest\npassword=secret\n");
    }

    Launch launch(const Args& args) {
        Launch l;
        l.args = args;
        l.cwd = box.path("dl");
        l.env = {{"PATH", "/usr/bin:/bin"},
                 {"WINDIR", box.path("win")},
                 {"LAUNCHER_TEST_RECORD", box.path("out/record")},
                 {"HOME", box.path("home")},
                 {"TMPDIR", box.path("tmp")},
                 {"LC_ALL", "C"}};
        // The sanitizers' own settings, when the suite runs in that build.
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
            if (const char* value = getenv(name)) l.env[name] = value;
        return l;
    }

    Outcome run(const Launch& l) {
        Outcome o = run_launcher(LAUNCHER_PROGRAM, box, l, box.path("out/record"));
        EXPECT_TRUE(o.finished) << "the launcher or its product did not end in time";
        EXPECT_EQ(o.exit_code, 0);
        EXPECT_EQ(o.out, "");
        return o;
    }
    Outcome run(const Args& args) { return run(launch(args)); }
};

void expect_refused(const Outcome& o, const std::string& err) {
    EXPECT_EQ(o.err, err);
    EXPECT_EQ(o.started, 0);
    EXPECT_FALSE(o.recorded);
    EXPECT_EQ(o.changes, Changes());
}

void expect_started(const Outcome& o, const std::string& cwd, const Args& args) {
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.started, 1);
    ASSERT_TRUE(o.recorded);
    EXPECT_EQ(o.product.cwd, cwd);
    EXPECT_EQ(o.product.args, args);
}

// A name that shows control bytes, for traces.
std::string visible(const std::string& text) {
    std::string shown;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            shown += (char)c;
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            shown += hex;
        }
    }
    return shown;
}

// ---- Entry: argument text, settings directory, a typical run ----

TEST_F(LauncherE2E, NoArgumentReportsUnableToOpenLaunchFile) {
    expect_refused(run(Args{}), UNABLE_LAUNCH);
}

// The product gets the launch path and the product's folder; the block goes
// right after the file's last byte, whatever that is.
TEST_F(LauncherE2E, TypicalRunAppendsBlockAfterEarlierBytesAndStartsProduct) {
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"CR LF lines", "[launch]\r\napp=client\r\nmessages=0\r\n"},
        {"last line without line end", "[launch]\napp=client\nmessages=0"},
        {"Ctrl-Z at the end", "[launch]\napp=client\nmessages=0\n\x1a"},
        {"a section after Ctrl-Z is not read",
         "[launch]\napp=client\nmessages=0\n\x1a[launch]\napp=other\n"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string name = "dl/game" + std::to_string(n++) + ".tvl";
        std::string path = box.write(name, c.bytes);
        Outcome o = run(Args{path});
        expect_started(o, box.path("prod"), Args{path});
        EXPECT_EQ(read_file(path), c.bytes + BLOCK);
        EXPECT_EQ(o.changes, Changes{"changed " + name});
    }
}

TEST_F(LauncherE2E, EmailLineFollowsWhenSetAndNothingWhenMessagesAreOn) {
    box.write("win/talvin.ini", "[client]\ncommand=" + product +
                                    "\n[identification]\nuser=u\npassword=p\nemail=e@x\n");
    std::string path = box.write("dl/game.tvl", LAUNCH_FILE);
    expect_started(run(Args{path}), box.path("dl"), Args{path});
    EXPECT_EQ(read_file(path), std::string(LAUNCH_FILE) +
                                   "[identification]\r\nuser=u\r\npassword=p\r\nemail=e@x\r\n");

    std::string quiet = box.write("dl/quiet.tvl", "[launch]\napp=client\n");
    Outcome o = run(Args{quiet});
    expect_started(o, box.path("dl"), Args{quiet});
    EXPECT_EQ(o.changes, Changes());
}

// The arguments are joined by single blanks into the argument text, which
// may quote the path as on Windows.
TEST_F(LauncherE2E, ArgumentsAreJoinedBySingleBlanks) {
    std::string path = box.write("dl/my game.tvl", LAUNCH_FILE);
    std::string dl = box.path("dl");
    const Args cases[] = {
        {dl + "/my", "game.tvl"},
        {"\"" + dl + "/my", "game.tvl\"", "ignored", "words"},
        {"\"" + path + "\""},
    };
    for (const Args& args : cases) {
        SCOPED_TRACE(args[0]);
        std::string before = read_file(path);
        expect_started(run(args), box.path("prod"), Args{path});
        EXPECT_EQ(read_file(path), before + BLOCK);
    }
    // Two blanks are not one: that name does not exist.
    expect_refused(run(Args{dl + "/my ", "game.tvl"}), UNABLE_LAUNCH);
}

TEST_F(LauncherE2E, PasslaunchZeroStartsTheCommandAlone) {
    std::string path = box.write("dl/game.tvl", "[launch]\napp=client\npasslaunch=0\n");
    Outcome o = run(Args{path});
    expect_started(o, box.path("prod"), Args{});
    EXPECT_EQ(o.changes, Changes());
}

// The block lands in the file that was read and the product is handed that
// file, although the product runs in another folder.
TEST_F(LauncherE2E, RelativeLaunchPathIsMadeAbsolute) {
    struct Case {
        std::string cwd, arg, passed;
    } cases[] = {
        {"dl", "game.tvl", box.path("dl/game.tvl")},
        {"", "dl/game.tvl", box.path("dl/game.tvl")},
        {"cwd", "../dl/game.tvl", box.path("cwd/../dl/game.tvl")},
    };
    std::string path = box.write("dl/game.tvl", LAUNCH_FILE);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arg);
        std::string before = read_file(path);
        Launch l = launch(Args{c.arg});
        l.cwd = box.path(c.cwd);
        Outcome o = run(l);
        expect_started(o, box.path("prod"), Args{c.passed});
        EXPECT_EQ(read_file(path), before + BLOCK);
        EXPECT_EQ(o.changes, Changes{"changed dl/game.tvl"});
    }

    // The folder's name is checked as much as the file's.
    std::string hostile = "q\" --option \"x";
    box.make_dir(hostile);
    box.write(hostile + "/game.tvl", LAUNCH_FILE);
    Launch l = launch(Args{"game.tvl"});
    l.cwd = box.path(hostile);
    expect_refused(run(l), UNABLE_LAUNCH);
}

// A relative path whose absolute form does not fit the 255-byte launch path
// is refused; one that fits exactly is made absolute.
TEST_F(LauncherE2E, RelativeLaunchPathTooLongToMakeAbsoluteIsRefused) {
    std::string deep = box.root();
    std::string rel;
    while (deep.size() < 230) {
        rel += (rel.empty() ? "" : "/") + std::string(20, 'd');
        deep = box.make_dir(rel);
    }
    // "/game.tvl" then names a file of exactly 255 bytes; "/games.tvl" 256.
    std::string name = "game.tvl";
    std::string longer(255 - deep.size() - 1 - name.size() + 1, 'g');
    std::string fits = box.write(rel + "/" + longer.substr(1) + name, LAUNCH_FILE);
    std::string too_long = box.write(rel + "/" + longer + name, LAUNCH_FILE);
    ASSERT_EQ(fits.size(), 255u);
    ASSERT_EQ(too_long.size(), 256u);

    Launch l = launch(Args{longer.substr(1) + name});
    l.cwd = deep;
    expect_started(run(l), box.path("prod"), Args{fits});

    l.args = Args{longer + name};
    expect_refused(run(l), UNABLE_LAUNCH);
}

// Argument text of 256 bytes or more is refused whole, never cut to a
// shorter name that exists.
TEST_F(LauncherE2E, ArgumentTextOver255BytesIsRefused) {
    std::string dl = box.path("dl/");
    std::string fits = dl + std::string(255 - dl.size(), 'a');
    std::string cut = dl + std::string(255 - dl.size() - 2, 'a');
    box.write(fits.substr(box.root().size() + 1), LAUNCH_FILE);
    box.write(cut.substr(box.root().size() + 1) + " b", LAUNCH_FILE);
    box.write(cut.substr(box.root().size() + 1), LAUNCH_FILE); // what dropping words would give

    expect_started(run(Args{fits}), box.path("prod"), Args{fits});
    expect_started(run(Args{cut, "b"}), box.path("prod"), Args{cut + " b"});
    expect_refused(run(Args{fits + "a"}), UNABLE_LAUNCH);
    expect_refused(run(Args{cut, "bb"}), UNABLE_LAUNCH);
    expect_refused(run(Args{cut, "b", ""}), UNABLE_LAUNCH);  // the blank before nothing
    expect_refused(run(Args{cut, "b", "c"}), UNABLE_LAUNCH); // not the first two words
    expect_refused(run(Args{"\"" + cut + " b\"", std::string(300, 'z')}), UNABLE_LAUNCH);
    expect_refused(run(Args{std::string(100000, 'x')}), UNABLE_LAUNCH);
}

// WINDIR, when set and not empty, is the settings folder; a folder name of
// 240 bytes or more is refused, not cut.
TEST_F(LauncherE2E, SettingsFolderComesFromWindir) {
    std::string path = box.write("dl/game.tvl", "[launch]\napp=client\n");
    std::string dir = box.root();
    std::string rel;
    while (dir.size() < 239) {
        size_t step = std::min<size_t>(30, 239 - dir.size() - 1);
        rel += (rel.empty() ? "" : "/") + std::string(step, 'w');
        dir = box.make_dir(rel);
    }
    ASSERT_EQ(dir.size(), 239u);
    write_settings("command=" + product + "\n", rel);
    box.make_dir(rel + "/x");
    write_settings("command=" + product + "\n", rel + "/x");

    Launch l = launch(Args{path});
    l.env["WINDIR"] = dir;
    expect_started(run(l), box.path("prod"), Args{path});
    for (const std::string& refused : {dir + "/", dir + "/x"}) {
        SCOPED_TRACE(refused.size());
        l.env["WINDIR"] = refused;
        expect_refused(run(l), UNABLE_SETTINGS);
    }
}

TEST_F(LauncherE2E, EmptyOrUnsetWindirMeansTheBuiltInFolder) {
    std::string built_in = std::string(LAUNCHER_DEFAULT_SETTINGS_DIR) + "/talvin.ini";
    struct stat info;
    if (stat(built_in.c_str(), &info) == 0) GTEST_SKIP() << built_in << " exists on this machine";
    std::string path = box.write("dl/game.tvl", LAUNCH_FILE);
    Launch l = launch(Args{path});
    l.env["WINDIR"] = "";
    expect_refused(run(l), UNABLE_SETTINGS);
    l.env.erase("WINDIR");
    expect_refused(run(l), UNABLE_SETTINGS);
}

// ---- Hostile names: one argument, byte for byte, or nothing ----

TEST_F(LauncherE2E, HostileNamesReachTheProductWholeOrAreRefused) {
    struct Case {
        std::string name;
        bool accepted;
    } cases[] = {
        {"two words.tvl", true},
        {"x --option y.tvl", true},
        {"tab\there.tvl", true},
        {"line\nfeed.tvl", true},
        {"trailing blank ", true},
        {"$(touch pwned).tvl", true},
        {"`touch pwned`.tvl", true},
        {"a;b|c&d>e<f.tvl", true},
        {"'single' *.tvl", true},
        {"%s%n%x.tvl", true},
        {"\xe9t\xe9\xff\x80\x9c.tvl", true},
        {"back\\slash.tvl", true},
        {"\\\\twice.tvl", true},
        {"--option", true},
        {"quote\".tvl", false},
        {"x\" --option \"y.tvl", false},
        {"x\" --option=evil \"", false},
        {"x\\\" --option \\\"y", false},
        {"\"\"", false},
        {"x\"\"y.tvl", false},
        {"ends in backslash\\", false},
        {"ends in two backslashes\\\\", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(visible(c.name));
        std::string path = box.write("dl/" + c.name, LAUNCH_FILE);
        Outcome o = run(Args{path});
        if (c.accepted) {
            expect_started(o, box.path("prod"), Args{path});
            EXPECT_EQ(read_file(path), std::string(LAUNCH_FILE) + BLOCK);
            EXPECT_EQ(o.changes, Changes{"changed dl/" + c.name});
        } else {
            expect_refused(o, UNABLE_LAUNCH);
        }
        unlink(path.c_str());
    }
}

// ---- Only regular files are read, and nothing blocks ----

// A socket file at `path`; the socket itself is closed at once.
void make_socket(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(bind(fd, (sockaddr*)&address, sizeof address), 0);
    close(fd);
}

// Makes `path` a file of kind `kind`: "dir", "fifo", "socket", or a symlink
// to a device ("/dev/...").
void make_special(const std::string& path, const std::string& kind) {
    if (kind == "dir")
        ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    else if (kind == "fifo")
        ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    else if (kind == "socket")
        make_socket(path);
    else
        ASSERT_EQ(symlink(kind.c_str(), path.c_str()), 0);
}

const char* const SPECIAL_KINDS[] = {"dir",       "fifo",     "socket",      "/dev/null",
                                     "/dev/zero", "/dev/tty", "/dev/urandom"};

TEST_F(LauncherE2E, LaunchPathThatIsNoRegularFileIsRefusedWithoutBlocking) {
    int n = 0;
    for (const char* kind : SPECIAL_KINDS) {
        SCOPED_TRACE(kind);
        std::string path = box.path("dl/special" + std::to_string(n++) + ".tvl");
        make_special(path, kind);
        Launch l = launch(Args{path});
        l.time_limit = 5;
        expect_refused(run(l), UNABLE_LAUNCH);
    }
    for (const char* device : {"/dev/null", "/dev/zero"}) {
        SCOPED_TRACE(device);
        expect_refused(run(Args{device}), UNABLE_LAUNCH);
    }
    // A FIFO that a writer holds open but never writes to.
    std::string fifo = box.path("dl/special1.tvl");
    int writer = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    Launch l = launch(Args{fifo});
    l.time_limit = 5;
    expect_refused(run(l), UNABLE_LAUNCH);
    close(writer);
}

TEST_F(LauncherE2E, SettingsFileThatIsNoRegularFileIsRefusedWithoutBlocking) {
    std::string path = box.write("dl/game.tvl", LAUNCH_FILE);
    int n = 0;
    for (const char* kind : SPECIAL_KINDS) {
        SCOPED_TRACE(kind);
        std::string dir = box.make_dir("win" + std::to_string(n++));
        make_special(dir + "/talvin.ini", kind);
        Launch l = launch(Args{path});
        l.env["WINDIR"] = dir;
        l.time_limit = 5;
        expect_refused(run(l), UNABLE_SETTINGS);
    }
}

// ---- Starting: no shell, PATH only, the start results ----

// A bare program name is looked up in the absolute folders of PATH only,
// never in the current folder, which may be where downloads land.
TEST_F(LauncherE2E, BareProgramNameIsNeverTakenFromTheCurrentFolder) {
    SKIP_START_FAILURES_UNDER_WRAPPER();
    write_settings("path=\ncommand=evilprod\n");
    box.write("dl/evilprod", read_file(RECORD_PRODUCT), 0755);
    std::string path = box.write("dl/game.tvl", "[launch]\napp=client\nmissing=Please install.\n");
    const char* const paths[] = {
        "/usr/bin:/bin", ":/usr/bin", "/usr/bin:", "/usr/bin::/bin", ".", "./", ".:/usr/bin",
        "../dl",         "dl",        ""};
    for (const char* search : paths) {
        SCOPED_TRACE(search);
        Launch l = launch(Args{path});
        l.env["PATH"] = search;
        expect_refused(run(l), "File not found!: Please install.\n");
    }
    Launch l = launch(Args{path});
    l.env.erase("PATH");
    expect_refused(run(l), "File not found!: Please install.\n");
}

TEST_F(LauncherE2E, BareProgramNameIsFoundThroughPath) {
    SKIP_START_FAILURES_UNDER_WRAPPER();
    write_settings("path=\ncommand=evilprod -x\n");
    box.write("bin/evilprod", read_file(RECORD_PRODUCT), 0755);
    // Had the current folder been tried first, this would fail to start.
    box.write("dl/evilprod", "not a program\n", 0755);
    std::string path = box.write("dl/game.tvl", "[launch]\napp=client\n");
    Launch l = launch(Args{path});
    l.env["PATH"] = ".::/usr/bin:" + box.path("bin");
    expect_started(run(l), box.path("dl"), Args{"-x", path});
}

TEST_F(LauncherE2E, NoShellStandsBetweenLauncherAndProduct) {
    write_settings("command=" + product + " a;b $(touch p) `id` | c > d &\n");
    std::string path = box.write("dl/game.tvl", "[launch]\napp=client\n");
    Outcome o = run(Args{path});
    expect_started(o, box.path("prod"),
                   Args{"a;b", "$(touch", "p)", "`id`", "|", "c", ">", "d", "&", path});
    EXPECT_EQ(o.changes, Changes());

    // Quotes group a program path holding a blank, as on Windows.
    box.make_dir("my prod");
    std::string spaced = box.write("my prod/product", read_file(RECORD_PRODUCT), 0755);
    write_settings("command=\"" + spaced + "\" \"two words\"\n");
    expect_started(run(Args{path}), box.path("prod"), Args{"two words", path});
}

TEST_F(LauncherE2E, StartFailuresShowTheirMessages) {
    SKIP_START_FAILURES_UNDER_WRAPPER();
    box.write("prod/plain",
              "\x7f"
              "ELF but not executable\n",
              0644);
    box.write("prod/script", "touch pwned\n", 0755); // no #!: no valid format
    box.write("prod/empty", "", 0755);
    const char* const denied =
        "Launch failed: Attempted to dynamically link to a task,\nor sharing or network "
        "protection error.\n";
    struct Case {
        std::string command, missing, err;
    } cases[] = {
        {box.path("prod/nothere"), "Please install.", "File not found!: Please install.\n"},
        {box.path("prod/nothere"), "", "File not found!: \n"},
        {box.path("nodir/prog"), "Please install.", "Path not found!: Please install.\n"},
        {product + "/x", "Please install.", "Path not found!: Please install.\n"},
        {box.path("prod/plain"), "", denied},
        {box.path("prod"), "", denied},
        {box.path("prod/script"), "", "Launch failed: Invalid executable file.\n"},
        {box.path("prod/empty"), "", "Launch failed: Invalid executable file.\n"},
    };
    std::string path = box.path("dl/game.tvl");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        write_settings("command=" + c.command + "\n");
        box.write("dl/game.tvl", "[launch]\napp=client\nmessages=0\nmissing=" + c.missing + "\n");
        std::string before = read_file(path);
        Outcome o = run(Args{path});
        EXPECT_EQ(o.err, c.err);
        EXPECT_EQ(o.started, 0);
        EXPECT_FALSE(o.recorded);
        // The block is appended before the start is tried.
        EXPECT_EQ(read_file(path), before + BLOCK);
        EXPECT_EQ(o.changes, Changes{"changed dl/game.tvl"});
    }
}

TEST_F(LauncherE2E, ProductNotInstalledWhenItsSectionIsMissing) {
    std::string path =
        box.write("dl/game.tvl", "[launch]\napp=nothing\nmessages=0\nmissing=Get it.\n");
    expect_refused(run(Args{path}), "Product not installed!: Get it.\n");
}

// ---- Message texts are data ----

TEST_F(LauncherE2E, FormatSignsInMessagesAreShownAsTheyAre) {
    std::string path = box.write("dl/none.tvl", "[launch]\napp=none\nmissing=%n%n%n%s%s%s%p\n");
    expect_refused(run(Args{path}), "Product not installed!: %n%n%n%s%s%s%p\n");

    SKIP_START_FAILURES_UNDER_WRAPPER();
    write_settings("command=" + box.path("prod/nothere") + "\n");
    path = box.write("dl/game.tvl", "[launch]\napp=client\nmissing=%s %d %n %% 100%\n");
    expect_refused(run(Args{path}), "File not found!: %s %d %n %% 100%\n");
}

TEST_F(LauncherE2E, BadHeaderLinesAreShownAsTheyAreAndReadingGoesOn) {
    std::string path = box.write("dl/game.tvl", "[%s%n rest\n[launch]\napp=client\n");
    box.write("win/talvin.ini",
              " =[%x%p%n%s\n[client]\ncommand=" + product + "\n[identification]\n");
    Outcome o = run(Args{path});
    EXPECT_EQ(o.err, "Launcher: no matching ']' found on [%s%n!\n\n"
                     "Launcher: no matching ']' found on  =[%x%p%n%s!\n\n");
    EXPECT_EQ(o.started, 1);
    EXPECT_EQ(o.product.args, Args{path});
}

// ---- Any size, any bytes ----

// Deterministic garbage holding every byte but Ctrl-Z (which ends a file)
// and '[' (which would start a section and its messages), made a chunk at a
// time so that this process never holds the whole of it.
class Garbage {
  public:
    explicit Garbage(uint32_t seed) : x_(seed) {}
    std::string next(size_t size) {
        std::string bytes(size, '\0');
        for (char& c : bytes) {
            x_ ^= x_ << 13;
            x_ ^= x_ >> 17;
            x_ ^= x_ << 5;
            c = (char)(x_ >> 24);
            if (c == '\x1a' || c == '[') c = '\xff';
        }
        return bytes;
    }

  private:
    uint32_t x_;
};

const size_t CHUNK = 1 << 20;

// `megabytes` of garbage from `seed`, then `tail`.
std::string write_garbage(const std::string& path, size_t megabytes, uint32_t seed,
                          const std::string& tail) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    EXPECT_GE(fd, 0);
    Garbage garbage(seed);
    for (size_t i = 0; i <= megabytes; i++) {
        std::string chunk = i < megabytes ? garbage.next(CHUNK) : tail;
        EXPECT_EQ(write(fd, chunk.data(), chunk.size()), (ssize_t)chunk.size());
    }
    close(fd);
    return path;
}

// The launcher's peak memory is the high-water mark of its process, which
// begins at this process's own; so the garbage is never held here whole.
TEST_F(LauncherE2E, FiftyMegabytesOfGarbageThenAValidSection) {
    const std::string tail = "\n[launch]\napp=client\nmessages=0\n";
    std::string small = write_garbage(box.path("dl/small.tvl"), 1, 7, tail);
    std::string big = write_garbage(box.path("dl/big.tvl"), 50, 11, tail);

    Outcome small_run = run(Args{small});
    expect_started(small_run, box.path("prod"), Args{small});
    Outcome o = run(Args{big});
    expect_started(o, box.path("prod"), Args{big});
    std::string expected;
    Garbage garbage(11);
    for (int i = 0; i < 50; i++)
        expected += garbage.next(CHUNK);
    EXPECT_TRUE(read_file(big) == expected + tail + BLOCK) << "earlier bytes changed";
    EXPECT_EQ(o.changes, Changes{"changed dl/big.tvl"});

    if (!wrapper_words().empty()) return; // no times or sizes under a wrapper
    EXPECT_LT(o.seconds, 1.0 * LAUNCHER_E2E_TIME_FACTOR);
    EXPECT_LT(o.peak_memory_kb - small_run.peak_memory_kb, 4096)
        << "memory grows with the file: " << small_run.peak_memory_kb << " kB for 1 MB, "
        << o.peak_memory_kb << " kB for 50 MB";
    printf("50 MB launch file: %.3f s, peak %ld kB (1 MB: %.3f s, %ld kB)\n", o.seconds,
           o.peak_memory_kb, small_run.seconds, small_run.peak_memory_kb);
}

// Lines of 100,000 bytes arrive as pieces of 4094; an over-long value is
// ignored, and the pieces are keys nobody knows.
TEST_F(LauncherE2E, HundredThousandByteLines) {
    box.write("win/talvin.ini", "[client]\n");
    std::string line(100000, 'l');
    std::string path =
        box.write("dl/game.tvl", line + "\n; " + line + "\n[launch]\nmissing=short\n" +
                                     "missing=" + line + "\n" + line + "\napp=client\n");
    expect_refused(run(Args{path}), "Product not installed!: short\n");

    write_settings("command=" + product + "\n");
    path = box.write("dl/good.tvl", line + "\n[launch]\ntitle=" + line + "\napp=client\n");
    expect_started(run(Args{path}), box.path("prod"), Args{path});
}

// A zero byte ends the text of its line; the next line is read as usual.
TEST_F(LauncherE2E, ZeroBytesEndTheirLineOnly) {
    static const char found[] = "\0\0\0\n\0[x\n[launch]\napp=client\0ignored\n\0\0\0\0";
    std::string path = box.write("dl/game.tvl", std::string(found, sizeof found - 1));
    expect_started(run(Args{path}), box.path("prod"), Args{path});

    static const char missing[] = "\0\n[launch]\napp=none\nmissing=Please\0 install\n\0";
    path = box.write("dl/none.tvl", std::string(missing, sizeof missing - 1));
    expect_refused(run(Args{path}), "Product not installed!: Please\n");
}

// 0xFF is a byte like any other, never the end of the file.
TEST_F(LauncherE2E, HighBytesAreData) {
    box.write("win/talvin.ini",
              "\xff\xff\xff\n[cl\xff\xe9nt]\ncommand=" + product + " \xff\xfe\n[identification]\n");
    std::string path =
        box.write("dl/game.tvl", "\xff\n\xff\xff[x]\n[launch]\napp=cl\xff\xe9nt\n\xff\xff\xff\n");
    expect_started(run(Args{path}), box.path("dl"), Args{"\xff\xfe", path});

    path = box.write("dl/none.tvl",
                     "\xff\n[launch]\napp=cl\xff\xc9nt\nmissing=\xff\xfe\x80 caf\xe9\n");
    expect_refused(run(Args{path}), "Product not installed!: \xff\xfe\x80 caf\xe9\n");
}

// ---- Nothing is written but the block ----

TEST_F(LauncherE2E, NothingIsCreatedInTheLaunchersFolderOrElsewhere) {
    std::string path = box.write("dl/game.tvl", LAUNCH_FILE);
    Launch l = launch(Args{path});
    l.cwd = box.path("cwd");
    Outcome o = run(l);
    expect_started(o, box.path("prod"), Args{path});
    // Home, temporary folder, the launcher's and the product's folders: all
    // as they were.
    EXPECT_EQ(o.changes, Changes{"changed dl/game.tvl"});

    // Run twice, two blocks.
    run(l);
    EXPECT_EQ(read_file(path), std::string(LAUNCH_FILE) + BLOCK + BLOCK);
}

} // namespace
