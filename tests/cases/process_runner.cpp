// Plays launch cases through a built program, a real process in the case's
// folder (docs/testing.md); under wine, boxes are read from its trace of
// MessageBoxA. LAUNCHER_WRAPPER ("valgrind ...") goes before the program.
#include "case_file.h"

#include "launch/command_line_split.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <glob.h>
#include <iconv.h>
#include <linux/capability.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <sstream>

namespace {

const char* program;
const char* record_product;
const char* wine_prefix; // null: the POSIX program
bool checking;           // the program is talvin-check
bool stderr_gone;        // `stderr gone`: its standard error is a pipe whose reader has gone
bool stderr_terminal;    // `stderr terminal`: it is a terminal's, whose output is compared
bool sigchld_ignored;    // `sigchld ignored`: the program starts with SIGCHLD ignored
bool stdin_closed;       // `stdin closed`: it starts without a standard input
bool rights_dropped;     // `rights dropped`: root's right to read every file is not passed on

// --faults SHIM: the cases marked `faults`, each played once clean and then
// once for each call of the program that can fail, failing in each way it
// can (tests/faults/fault_shim.c; docs/testing.md, "Faults"). Under wine,
// SHIM is "-": the program is a test twin that fails its own calls
// (platform/win32/test_faults.cpp).
const char* fault_shim;
char fault_kind;        // 0: the clean play, which logs the calls
long fault_at;          // the call that fails
std::string fault_call; // the log's line of the call that failed
struct Outcome {        // what the clean play gave
    int status;
    bool appended;
    std::string boxes, args, json, append, log;
} clean;

// Wine's drive Z: is the root.
std::string windows_name(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return "Z:" + path;
}

// Where the Windows name `path` (or a POSIX one) lies on this system.
std::string on_disk(std::string path) {
    if (path.compare(0, 2, "Z:") != 0) return path;
    std::replace(path.begin(), path.end(), '\\', '/');
    return path.substr(2);
}

// What wine's own short form query (winepath -s) gives the Windows name `path`.
std::string wine_short_form(const std::string& path) {
    std::string command =
        std::string(getenv("LAUNCHER_WRAPPER")) + " winepath -s '" + path + "' 2>/dev/null";
    std::string text;
    FILE* out = popen(command.c_str(), "r");
    for (int c; out != nullptr && (c = fgetc(out)) != EOF;)
        if (c != '\r' && c != '\n') text += (char)c;
    if (out != nullptr) pclose(out);
    return text;
}

// Wine's ANSI code page follows the locale: 1252 in C.UTF-8, or the one a
// case names (`codepage`) in a locale of its own (made by localedef).
struct CodePage {
    const char* number;
    const char* iconv_name;
    const char* locale;
    bool made; // the locale is made for the run, not the system's own
};
const CodePage CODE_PAGES[] = {{"1252", "CP1252", "C.UTF-8", false},
                               {"932", "CP932", "ja_JP.UTF-8", true}};

const CodePage* code_page_of(const Case& c) {
    std::string number = c.has("codepage") ? c.get("codepage") : "1252";
    for (const CodePage& page : CODE_PAGES)
        if (number == page.number) return &page;
    return nullptr;
}

std::string locale_folder; // the locales made for this run's cases
void remove_locale_folder() {
    std::error_code ignored;
    std::filesystem::remove_all(locale_folder, ignored);
}

// LOCPATH for `locale`, made on first use by localedef; "" when it cannot be.
std::string locale_path(const std::string& locale) {
    if (locale_folder.empty()) {
        char name[] = "/tmp/lclocXXXXXX";
        if (mkdtemp(name) == nullptr) return "";
        locale_folder = name;
        atexit(remove_locale_folder);
    }
    std::string made = locale_folder + "/" + locale;
    if (access((made + "/LC_CTYPE").c_str(), R_OK) != 0) {
        size_t dot = locale.find('.');
        std::string command = "localedef -i " + locale.substr(0, dot) + " -f " +
                              locale.substr(dot + 1) + " " + made + " >/dev/null 2>&1";
        if (system(command.c_str()) != 0 && access((made + "/LC_CTYPE").c_str(), R_OK) != 0)
            return "";
    }
    return locale_folder;
}

// UTF-8 `text` in the code page `page`; unchanged where it cannot hold them.
std::string in_code_page(const std::string& text, const CodePage& page) {
    iconv_t convert = iconv_open(page.iconv_name, "UTF-8");
    std::string out(text.size(), '\0');
    char* in = const_cast<char*>(text.data());
    char* to = out.data();
    size_t in_left = text.size(), out_left = out.size();
    bool whole = iconv(convert, &in, &in_left, &to, &out_left) != (size_t)-1;
    iconv_close(convert);
    return whole ? out.substr(0, out.size() - out_left) : text;
}

// The letters a to z uppercased: in UTF-8 text, no byte of another
// character is one.
std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return c >= 'a' && c <= 'z' ? (char)(c - 32) : (char)c; });
    return text;
}

// The boxes in wine's relay trace: Call user32.MessageBoxA(OWNER,P "TEXT",P "CAPTION",...).
std::string traced_boxes(const std::string& trace) {
    const std::string call = ":Call user32.MessageBoxA(";
    std::string boxes, texts[2], error;
    for (size_t at = trace.find(call); at != std::string::npos; at = trace.find(call, at + 1)) {
        for (std::string& text : texts) {
            size_t start = at = trace.find('"', at) + 1;
            for (; at < trace.size() && trace[at] != '"'; at++)
                at += trace[at] == '\\';
            unescape(trace.substr(start, at - start), &text, &error);
            at++; // past the closing quote
        }
        boxes += texts[1] + ": " + texts[0] + "\n";
    }
    return boxes;
}

// The launch files of links under the wine prefix's local application data.
std::vector<std::string> wine_link_files() {
    std::string pattern =
        std::string(wine_prefix) + "/drive_c/users/*/AppData/Local/Talvin/links/*";
    std::vector<std::string> files;
    glob_t found;
    if (glob(pattern.c_str(), 0, nullptr, &found) == 0)
        files.assign(found.gl_pathv, found.gl_pathv + found.gl_pathc);
    globfree(&found);
    return files;
}

std::vector<std::string> words_of(const char* text) {
    std::vector<std::string> words;
    std::istringstream in(text != nullptr ? text : "");
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

std::vector<char*> pointers_of(std::vector<std::string>& words) {
    std::vector<char*> pointers;
    for (std::string& word : words)
        pointers.push_back(word.data());
    pointers.push_back(nullptr);
    return pointers;
}

// A launcher that outlives its time is stopped (see play).
pid_t running;
void stop_running(int) {
    kill(running, SIGKILL);
}

// The product's record: "TAG LENGTH:BYTES\n" lines.
std::string recorded(const std::string& text, const std::string& tag) {
    std::string values;
    for (size_t at = 0; at < text.size();) {
        size_t blank = text.find(' ', at), colon = text.find(':', blank);
        if (colon == std::string::npos) break;
        size_t length = strtoul(text.c_str() + blank + 1, nullptr, 10);
        if (text.compare(at, blank - at, tag) == 0) values += text.substr(colon + 1, length) + "\n";
        at = colon + 1 + length + 1;
    }
    return values;
}

// What the product must have been given: the words after the program name.
std::string expected_args(const std::string& line) {
    std::vector<char> text(line.size() + 1);
    std::vector<char*> args(line.size() + 2);
    int n =
        split_command_line(line.c_str(), text.data(), text.size(), args.data(), (int)args.size());
    std::string words;
    for (int i = 1; i < n; i++)
        words += std::string(args[i]) + "\n";
    return words;
}

// Runs `argv` in $DL, output to ROOT.out and ROOT.err; waits for it and for
// every process it left behind (they become this process's children).
int run(std::vector<std::string> argv, std::vector<std::string> env, const std::string& root,
        std::vector<std::string>* failures) {
    int terminal = stderr_terminal ? posix_openpt(O_RDWR | O_NOCTTY) : -1;
    if (terminal >= 0 && (grantpt(terminal) != 0 || unlockpt(terminal) != 0))
        failures->push_back("no terminal");
    pid_t pid = fork();
    if (pid == 0) {
        // SIGPIPE at its default action, whatever this runner was given: the
        // product must find it so too.
        signal(SIGPIPE, SIG_DFL);
        if (sigchld_ignored) signal(SIGCHLD, SIG_IGN);
        // As another account than a file's owner, run by root: it may run
        // a file of mode 0711 but not read it.
        if (rights_dropped && geteuid() == 0 &&
            (prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE) != 0 ||
             prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH) != 0))
            _exit(126);
        int to = O_WRONLY | O_CREAT | O_TRUNC, gone[2];
        int in = open("/dev/null", O_RDONLY), o = open((root + ".out").c_str(), to, 0600);
        int e = stderr_gone && pipe(gone) == 0 && close(gone[0]) == 0 ? gone[1]
                : terminal >= 0 ? open(ptsname(terminal), O_RDWR | O_NOCTTY)
                                : open((root + ".err").c_str(), to, 0600);
        if (terminal >= 0) close(terminal);
        struct termios mode;
        // Line feeds as written, not as the terminal would show them.
        if (terminal >= 0 && tcgetattr(e, &mode) == 0) {
            mode.c_oflag &= ~(tcflag_t)OPOST;
            tcsetattr(e, TCSANOW, &mode);
        }
        if (dup2(in, 0) == 0 && dup2(o, 1) == 1 && dup2(e, 2) == 2 &&
            chdir((root + "/dl").c_str()) == 0 && (!stdin_closed || close(0) == 0))
            execvpe(argv[0].c_str(), pointers_of(argv).data(), pointers_of(env).data());
        _exit(127);
    }
    running = pid;
    alarm(getenv("LAUNCHER_WRAPPER") ? 100 : 10);
    int status = -1, s;
    for (pid_t done; (done = waitpid(-1, &s, 0)) > 0 || errno == EINTR;)
        if (done == pid) status = s;
    if (alarm(0) == 0) failures->push_back("did not end in time");
    if (terminal >= 0) {
        std::string shown;
        char chunk[4096];
        // Read until every writer has closed it (EIO), what they wrote last included.
        struct pollfd ready = {terminal, POLLIN, 0};
        for (ssize_t n; poll(&ready, 1, 5000) > 0 && (n = read(terminal, chunk, sizeof chunk)) > 0;)
            shown.append(chunk, (size_t)n);
        close(terminal);
        write_file(root + ".err", shown);
    }
    return status;
}

// What the last run gave.
int exit_status;
std::string json, wine_stored, wine_stored_short;

// --- The agreement run (--agree): random cases, foretold by talvin-check.
const char* agree_checker; // null: cases from files
std::string foretold, launch_before;
mode_t launch_mode; // the launch file's before a fault play
int foretold_status;

std::mt19937 random_bits(20261209); // fixed: every run plays the same cases

std::string pick(std::vector<std::string> options) {
    return options[random_bits() % options.size()];
}

std::string random_bytes(size_t count) {
    std::string bytes;
    while (bytes.size() < count)
        bytes += (char)random_bits();
    return bytes;
}

// An ELF header for `machine` in the 64- or 32-bit layout, whose class byte
// may say otherwise, with one program header naming the loader `loader`.
std::string elf(bool wide, char elf_class, char machine, const std::string& loader) {
    std::string head(wide ? 64 : 52, '\0'), entry(wide ? 56 : 32, '\0');
    head.replace(0, 4, "\177ELF");
    head[4] = elf_class, head[5] = head[6] = 1, head[16] = 2, head[18] = machine, head[20] = 1;
    entry[0] = 3; // an executable whose program header is a PT_INTERP
    head[wide ? 32 : 28] = (char)head.size(), head[wide ? 54 : 42] = (char)entry.size();
    head[wide ? 56 : 44] = 1, entry[wide ? 8 : 4] = (char)(head.size() + entry.size());
    entry[wide ? 32 : 16] = (char)(loader.size() + 1);
    return head + entry + loader + '\0';
}

// Program prod/NAME of a random kind; each that runs records its arguments.
void add_program(Case* c, const std::string& name) {
    std::string path = "prod/" + name, runs = "\nexec $PRODUCT \"$@\"\n", mode = "755";
    std::string kind =
        pick({"link", "script", "script", "plain", "dir", "#!", "#!", "no #!", "empty", "elf",
              "elf", "dangling", "none", "locked", "busy", "unreadable"});
    std::map<std::string, std::string> bytes = {
        {"script", "#!/bin/sh" + runs},
        {"plain", "#!/bin/sh" + runs},
        {"no #!", runs},
        {"empty", ""},
        {"link", "$PRODUCT"},
        {"dangling", "/nonexistent/x"},
        {"dir", "dir"},
        {"locked", "dir"},
        {"busy", "product being written"},
        {"unreadable", pick({"#!/nonexistent" + runs, "#!/bin/sh" + runs, runs})},
        {"#!", "#!" + pick({"", " ", "\t"}) +
                   pick({"/bin/sh", "$PROD/p0", "$PROD/p1", "$PROD/p2", "../prod/p3", "p1", "$PROD",
                         "/nonexistent", "$PRODUCT", std::string(252, ' ') + "/bin/sh",
                         std::string(260, '/'), std::string("\0/bin/sh", 8), "$PROD/p1/x"}) +
                   pick({"", " -e", "\t", " ", "\r"}) + runs},
        {"elf",
         elf(random_bits() % 2, pick({"\1", "\2"})[0], pick({">", "\3", "\6", "\xb7", "("})[0],
             pick({"/lib/nothere.so.1", "$PROD", "../dl/game.tvl"}))}};
    if (kind == "none") return;
    bool special =
        kind == "link" || kind == "dangling" || kind == "dir" || kind == "locked" || kind == "busy";
    c->many.push_back({special ? "special" : "file", path, bytes[kind]});
    // Another account's program that this one may run but not read.
    if (kind == "unreadable" && geteuid() == 0) c->many.push_back({"owner", path, "65534:65534"});
    if (kind != "link" && kind != "dangling" && kind != "dir" && kind != "busy")
        c->many.push_back({"mode", path,
                           kind == "plain" || kind == "locked" ? "644"
                           : kind == "unreadable"              ? "711"
                                                               : mode});
}

std::string odd_line() {
    return pick({std::string(4100, 'x'), "[unclosed \x01\xff", std::string("title=a\0b", 9),
                 "\x1a[launch]\napp=other", "title=" + random_bytes(random_bits() % 40),
                 "messages=" + pick({"0", "1", "x", "-1"}), "passlaunch=0", " app = client ",
                 "missing=" + random_bytes(random_bits() % 300), "[launch]", "[identification]",
                 "user=" + random_bytes(random_bits() % 20), "password=p" + std::string(300, 'w'),
                 "command=$PRODUCT", "path=$DIR", random_bytes(random_bits() % 80),
                 std::string(4093 + random_bits() % 3, 'y')});
}

Case random_case() {
    Case c;
    for (const char* name : {"p0", "p1", "p2", "p3", "p4"})
        add_program(&c, name);
    std::string command = pick({"$PROD/", "$PROD/", "", "../prod/", "prod/", "\"$PROD/"}) +
                          pick({"p0", "p1", "p2", "p3", "p4", "p5", "p0/x", std::string(80, 'p')});
    std::string ini =
        "[client]\ncommand=" + command + (command[0] == '"' ? "\"" : "") +
        pick({"", " -a", " a;b \"c d\""}) + "\n" +
        pick({"", "path=$PROD\n", "path=$DIR\n", "path=$DIR/nothere\n", "path=$PROD/p1\n",
              "path=$PROD/p3\n", "path=prod\n", "path=../prod\n", "path=$PRODUCT\n"});
    std::string launch = "[launch]\napp=client\n";
    for (int n = random_bits() % 4; n > 0; n--)
        (random_bits() % 2 ? ini : launch) += odd_line() + "\n";
    if (random_bits() % 4 == 0) ini += "[identification]\nuser=ann\npassword=pw\n";
    if (random_bits() % 30 != 0) c.one["launch"] = launch;
    if (random_bits() % 30 != 0) c.one["ini"] = ini;
    c.one["name"] = pick({"game.tvl", "game.tvl", "a b.tvl", "a\".tvl", "-x.tvl"});
    c.one["rights"] = "dropped";
    c.many.push_back(
        {"env", "", pick({"PATH=$PROD:/bin", "PATH=/usr/bin:/bin", "PATH=/bin:prod"})});
    return c;
}

// Plays `count` random cases (only number $LAUNCH_CASE, when it is set).
int agree_run(int count) {
    std::vector<Case> plays;
    for (int i = 0; i < count; i++) {
        Case c = random_case();
        c.where = "random case " + std::to_string(i);
        if (getenv("LAUNCH_CASE") == nullptr || atoi(getenv("LAUNCH_CASE")) == i)
            plays.push_back(c);
    }
    return play_cases("agree", plays, 0);
}

} // namespace

std::string runner_places(const Case&, const CaseTree&, Places* places) {
    if (wine_prefix != nullptr) places->product += ".exe";
    write_file(places->product, read_file(record_product));
    chmod(places->product.c_str(), 0755);
    if (wine_prefix == nullptr) return "";
    for (std::string* place :
         {&places->dir, &places->launch, &places->dl, &places->product, &places->prod})
        *place = windows_name(*place);
    places->win = "C:\\windows";
    std::string ini_path = std::string(wine_prefix) + "/drive_c/windows/talvin.ini";
    unlink(ini_path.c_str());
    return ini_path;
}

std::string runner_run(const Case& c, CaseTree& tree, Places* places, const Expected& e,
                       std::vector<std::string>* failures) {
    if (agree_checker != nullptr && !checking) {
        // The checker first, which must change nothing; then the launcher.
        const char* launcher = program;
        checking = true, program = agree_checker;
        runner_run(c, tree, places, e, failures);
        checking = false, program = launcher;
        foretold = json, foretold_status = exit_status, launch_before = read_file(places->launch);
        expect(failures, "talvin-check's standard error", read_file(tree.root() + ".err"), "");
        tree.check(Expected(), failures);
    }
    const CodePage* page = code_page_of(c);
    if (page == nullptr) return failures->push_back("unknown codepage " + c.get("codepage")), "";
    std::string locale_dir;
    if (wine_prefix != nullptr) {
        // talvin.ini holds what a product's installer wrote: bytes of the code page.
        std::string ini = std::string(wine_prefix) + "/drive_c/windows/talvin.ini";
        if (c.has("ini")) write_file(ini, in_code_page(read_file(ini), *page));
        if (page->made && (locale_dir = locale_path(page->locale)).empty())
            return failures->push_back("localedef cannot make " + std::string(page->locale)), "";
    }
    if (wine_prefix != nullptr && c.has("start") &&
        c.get("start").find("$SHORT") != std::string::npos)
        places->short_launch = wine_short_form(places->launch);
    if (c.has("stderr") && c.get("stderr") != "gone" && c.get("stderr") != "terminal")
        return failures->push_back("unknown stderr"), "";
    stderr_gone = c.has("stderr") && c.get("stderr") == "gone";
    stderr_terminal = c.has("stderr") && c.get("stderr") == "terminal";
    sigchld_ignored = c.has("sigchld");
    stdin_closed = c.has("stdin");
    rights_dropped = c.has("rights");
    std::vector<std::string> argv = words_of(getenv("LAUNCHER_WRAPPER"));
    argv.push_back(program);
    if (checking) argv.push_back("--json");
    const std::vector<std::string>& words = checking ? e.options : e.args;
    argv.insert(argv.end(), words.begin(), words.end());
    // The setup check takes no launch file; one named like an option follows "--".
    if (checking && std::find(words.begin(), words.end(), "--setup") == words.end()) {
        if (argument_text(e).compare(0, 2, "--") == 0) argv.push_back("--");
        argv.push_back(argument_text(e));
    }
    // Under wine, a file is held open by a Windows program only: the
    // product, holding it from before the run until the run is over.
    for (const Case::Item& item : c.many) {
        if (wine_prefix == nullptr || item.directive != "special" || item.value != "held") continue;
        argv.insert(argv.begin(),
                    {"/bin/sh", "-c",
                     "LAUNCHER_TEST_HOLD=$1 WINEDEBUG=-all $4 \"$3\" & r=$2 && shift 4\n"
                     "for i in $(seq 1200); do [ -e \"$r.held\" ] && break; sleep 0.05; done\n"
                     "\"$@\"; s=$? && : >\"$r.release\" && wait && rm \"$r\".*; exit $s",
                     "sh", windows_name(tree.root() + "/" + item.first), tree.root() + ".rec",
                     places->product, getenv("LAUNCHER_WRAPPER")});
    }
    // Wine reads the process's arguments in the locale's character set, and
    // takes its ANSI code page from the locale.
    std::string rec = tree.root() + ".rec", locale = wine_prefix ? page->locale : "C";
    std::map<std::string, std::string> env = {
        {"PATH", "/usr/bin:/bin"},
        {"WINDIR", places->win},
        {"HOME", places->dir + "/home"},
        {"LC_ALL", locale},
        {"XDG_RUNTIME_DIR", tree.root() + "/run"},
        // The link's file is looked at after the launch (the desktop test
        // holds its removal a while later).
        {"TALVIN_TEST_LINK_KEEP", "sweep"},
        {"LAUNCHER_TEST_RECORD", wine_prefix ? windows_name(rec) : rec}};
    if (wine_prefix != nullptr && !checking) env["WINEDEBUG"] = "+relay"; // MessageBoxA: see main
    if (!locale_dir.empty()) env["LOCPATH"] = locale_dir;
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "LAUNCHER_WINE"})
        if (getenv(name) != nullptr) env[name] = getenv(name);
    if (fault_shim != nullptr) {
        if (wine_prefix == nullptr) env["LD_PRELOAD"] = fault_shim;
        env["FAULT_LOG"] = wine_prefix ? windows_name(tree.root() + ".log") : tree.root() + ".log";
        env["FAULT_KIND"] = std::string(1, fault_kind);
        env["FAULT_AT"] = std::to_string(fault_at);
        // A scratch file left behind is seen (not under wine: its server lives there).
        if (wine_prefix == nullptr) env["TMPDIR"] = tree.root();
        // The shim comes before the sanitizer's runtime, to see the program's calls.
        env["ASAN_OPTIONS"] = "verify_asan_link_order=0:" + env["ASAN_OPTIONS"];
        unlink((tree.root() + ".log").c_str());
    }
    for (const std::string& entry : e.env) {
        size_t equals = entry.find('=');
        if (equals == std::string::npos)
            env.erase(entry);
        else
            env[entry.substr(0, equals)] = entry.substr(equals + 1);
    }
    // A case's own locale (env LC_ALL=de_DE.ISO-8859-1) is made as a code page's is.
    if (env["LC_ALL"].find('_') != std::string::npos && locale_dir.empty()) {
        if ((locale_dir = locale_path(env["LC_ALL"])).empty())
            return failures->push_back("localedef cannot make " + env["LC_ALL"]), "";
        env["LOCPATH"] = locale_dir;
    }
    std::vector<std::string> entries;
    for (const auto& [name, value] : env)
        entries.push_back(name + "=" + value);

    // A link's file of an earlier case would be taken for this one's.
    for (const std::string& file : wine_prefix ? wine_link_files() : std::vector<std::string>())
        unlink(file.c_str());
    struct stat info;
    if (fault_shim != nullptr) launch_before = read_file(on_disk(places->launch));
    if (fault_shim != nullptr)
        launch_mode = stat(on_disk(places->launch).c_str(), &info) == 0 ? info.st_mode : 0;
    exit_status = run(argv, entries, tree.root(), failures);
    json = read_file(tree.root() + ".out");
    if (checking && (!e.says.empty() || !e.wholes.empty())) {
        // The text report too: the same run without --json.
        argv.erase(std::find(argv.begin(), argv.end(), "--json"));
        run(argv, entries, tree.root(), failures);
    }
    // A link's file: the one the launcher wrote, or the checker's scratch copy.
    if (checking) return checked_as(json);
    wine_stored_short.clear();
    if (wine_prefix == nullptr || c.as_link.empty()) return tree.stored_file();
    // Under the prefix's local application data, not in the case's folder.
    std::vector<std::string> stored = wine_link_files();
    wine_stored = stored.size() == 1 ? stored[0] : "";
    if (wine_stored.empty()) return "";
    std::string drive_c = std::string(wine_prefix) + "/drive_c";
    // The launcher hands the product the short form of the file's path.
    wine_stored_short =
        wine_short_form("C:" + windows_name(wine_stored.substr(drive_c.size())).substr(2));
    return wine_stored_short;
}

namespace {

// The launcher's run held against what talvin-check foretold.
void compare_agreement(const Case& c, const std::string& err, const std::string& record,
                       const Places& places, Expected* e, std::vector<std::string>* failures) {
    std::string outcome = json_member(foretold, "outcome");
    bool started = outcome == "start", unknown = outcome == "unknown";
    // 2: a file named on its command line cannot be read; 3: it cannot tell.
    int status = started ? 0 : unknown ? 768 : 256;
    if (exit_status != 0 || (foretold_status != status && foretold_status != 512))
        failures->push_back("exit status " + std::to_string(exit_status) + ", talvin-check's " +
                            std::to_string(foretold_status));
    if (!unknown) expect(failures, "boxes", json_boxes(foretold), as_json_shows(err));
    if (!unknown && started != !record.empty())
        failures->push_back(started ? "foretold a start: nothing ran" : "the product ran");
    std::string wanted = expected_args(json_member(foretold, "start.command_line"));
    std::string got = as_json_shows(recorded(record, "arg")),
                directory = json_member(foretold, "start.directory");
    // An interpreter gets its own arguments before the command's.
    if (!record.empty() && (got.size() < wanted.size() ||
                            got.compare(got.size() - wanted.size(), wanted.size(), wanted)))
        expect(failures, "product's arguments", got, wanted);
    std::string folder = directory == "null"   ? places.dl
                         : directory[0] == '/' ? directory
                                               : places.dl + "/" + directory;
    if (!record.empty())
        expect(failures, "product's folder", as_json_shows(recorded(record, "cwd")),
               std::filesystem::weakly_canonical(folder).string() + "\n");
    std::string after = read_file(places.launch), block = json_member(foretold, "append.text");
    e->appends = after.size() > launch_before.size();
    e->append = after.substr(std::min(launch_before.size(), after.size()));
    expect(failures, "block", as_json_shows(password_masked(e->append)),
           block == "<none>" ? "" : block);
    for (const auto& [name, value] :
         failures->empty() ? std::map<std::string, std::string>() : c.one)
        failures->push_back(name + " " + visible(value));
    for (const Case::Item& item : failures->empty() ? std::vector<Case::Item>() : c.many)
        failures->push_back(item.directive + " " + item.first + " " + visible(item.value));
}

} // namespace

namespace {

// `text` with the case's folder, which each play makes anew, named $DIR
// (under wine also by its Windows name), and a link's file under wine $LINK.
std::string in_place(std::string text, const CaseTree& tree) {
    std::string dir = windows_name(tree.root()), link = wine_stored_short, in_json = dir;
    for (size_t at = 0; (at = in_json.find('\\', at)) != std::string::npos; at += 2)
        in_json.insert(at, "\\");
    for (const std::string& name :
         {tree.root(), dir, upper(dir), in_json, upper(in_json), link, upper(link)})
        for (size_t at; !name.empty() && (at = text.find(name)) != std::string::npos;)
            text.replace(at, name.size(), name == link || name == upper(link) ? "$LINK" : "$DIR");
    // Names made of the time and the process: a link's file, the checker's scratch.
    for (const auto& [name, length] :
         {std::pair<std::string, size_t>{"/link-", 24}, {"/talvin-check.", 6}})
        for (size_t at = 0; (at = text.find(name, at)) != std::string::npos; at += name.size())
            text.replace(at + name.size(), std::min(length, text.size() - at - name.size()), "*");
    return text;
}

// A play with one call failing, held to the clean play's outcome: no crash
// or sanitizer report; a whole block or none; the clean start or none, and
// then a box; a file whose read failed is never acted on; a short read or
// write, or one interrupted, changes nothing.
bool compare_fault(const CaseTree& tree, const Places& places, std::string err,
                   const std::string& record, Expected* e, std::vector<std::string>* failures) {
    std::string log = read_file(tree.root() + ".log");
    err = in_place(wine_prefix ? traced_boxes(err) : err, tree);
    json = in_place(json, tree);
    std::string file = read_file(wine_stored), stored = wine_stored;
    unlink(wine_stored.c_str());
    wine_stored.clear();
    size_t mark = log.find(" !");
    fault_call =
        mark == std::string::npos ? "" : log.substr(mark + 2, log.find('\n', mark) - mark - 2);
    std::string function = fault_call.substr(0, fault_call.find(' '));
    std::string path = fault_call.substr(fault_call.find(' ') + 1);
    bool writes = function == "write" || function == "WriteFile";
    bool plain_io = writes || function == "read" || function == "pread" || function == "ReadFile";
    bool unseen = plain_io && (fault_kind == 't' || fault_kind == 'r' || fault_kind == 'w');
    if (wine_prefix != nullptr) path = upper(path);
    bool unread = fault_kind == 'i' && !writes && plain_io &&
                  (path == (wine_prefix ? upper(places.launch) : places.launch) ||
                   path.find(wine_prefix ? "\\LINK-" : "/link-") != std::string::npos ||
                   path.find(wine_prefix ? "TALVIN.INI" : "talvin.ini") != std::string::npos);
    if (!WIFEXITED(exit_status) || WEXITSTATUS(exit_status) > (checking ? 3 : 0))
        failures->push_back("exit status " + std::to_string(exit_status));
    for (const char* report : {"Sanitizer", "runtime error"})
        if (err.find(report) != std::string::npos) failures->push_back("a sanitizer report");
    if (checking) {
        e->appends = false;
        bool same = json == clean.json && exit_status == clean.status;
        if (unseen && !same) failures->push_back("a short or interrupted call changed the report");
        // Its report may say what it could not look at; the start it foretells is the launcher's.
        std::string start = json_member(json, "start.command_line");
        if (exit_status == 0 && start != json_member(clean.json, "start.command_line"))
            failures->push_back("another start foretold: " + start);
        return false;
    }
    if (wine_prefix == nullptr) stored = tree.stored_file();
    if (stored.empty() || wine_prefix == nullptr)
        file = read_file(stored.empty() ? on_disk(places.launch) : stored);
    bool appended = file.size() > (stored.empty() ? launch_before : tree.link_bytes()).size();
    // Under wine a link's file lies outside the case's folder: whole or gone.
    if (wine_prefix != nullptr && !stored.empty() && file != tree.link_bytes() &&
        file != tree.link_bytes() + clean.append)
        failures->push_back("the link's file torn: " + visible(file));
    std::string args = in_place(recorded(record, "arg"), tree);
    if (unseen && (err != clean.boxes || args != clean.args || appended != clean.appended))
        failures->push_back("a short or interrupted call changed the outcome");
    if (!record.empty() && (args != clean.args || err != clean.boxes))
        failures->push_back("started with " + visible(args) + " after " + visible(err));
    if (record.empty() && !clean.args.empty() && err == clean.boxes)
        failures->push_back("nothing started, and no box said why");
    if (unread && (!record.empty() || appended))
        failures->push_back("a file not read whole was acted on");
    // A block not written may leave the file narrowed to its owner, as the
    // append does first: no bytes, only the mode.
    struct stat info;
    e->appends = appended || (stored.empty() && stat(on_disk(places.launch).c_str(), &info) == 0 &&
                              (info.st_mode & 077) == 0 && (launch_mode & 077) != 0);
    e->append = appended ? clean.append : "";
    return wine_prefix == nullptr && (!stored.empty() || tree.link_text().empty());
}

} // namespace

bool runner_compare(const Case& c, const CaseTree& tree, const Places& places, Expected* e,
                    std::vector<std::string>* failures) {
    std::string out = read_file(tree.root() + ".out"), err = read_file(tree.root() + ".err");
    std::string rec = tree.root() + ".rec", record = read_file(rec);
    // Programs the Windows launcher starts are not its unix children: a start
    // the case names is waited for, in a fault play one the log shows made.
    std::string log = read_file(tree.root() + ".log");
    bool starts = fault_kind ? log.find(" WinExec ") != std::string::npos : e->starts;
    for (int i = 0; i < 300 && wine_prefix && !checking && starts && record.empty(); i++)
        usleep(100000), record = read_file(rec);
    if (fault_kind != 0) return compare_fault(tree, places, err, record, e, failures);
    if (agree_checker != nullptr) {
        compare_agreement(c, err, record, places, e, failures);
        return true;
    }
    // Where names ignore case, the launcher uppercases the command line's
    // single-byte letters.
    if (wine_prefix != nullptr) e->start = in_code_page(upper(e->start), *code_page_of(c));
    if (checking) {
        compare_prediction(c, *e, places, exit_status, json, failures);
        std::string folder = c.where.substr(0, c.where.rfind('/') + 1);
        if (!e->says.empty() || !e->wholes.empty())
            compare_report(*e, places, folder, out, json, failures);
        expect(failures, "standard error", err, "");
        e->appends = false;
    } else {
        if (!WIFEXITED(exit_status) || WEXITSTATUS(exit_status) != 0)
            failures->push_back("exit status " + std::to_string(exit_status));
        expect(failures, "standard output", out, "");
        if (wine_prefix != nullptr)
            expect(failures, "boxes", traced_boxes(err), e->boxes);
        else if (!stderr_gone)
            expect(failures, "boxes", err, e->boxes);
    }
    if (checking || !e->starts) {
        expect(failures, "started", record, "");
    } else if (record.empty()) {
        failures->push_back("nothing started");
    } else {
        std::string cwd = (e->cwd.empty() ? places.dl : e->cwd) + "\n";
        std::string got = recorded(record, "arg"), wanted = expected_args(e->start);
        // Wine hands on an unquoted program name with blanks in quotes: its
        // words after the first are not the product's arguments.
        if (wine_prefix != nullptr && e->start[0] != '"' && got.size() < wanted.size() &&
            wanted.compare(wanted.size() - got.size(), got.size(), got) == 0)
            wanted = got;
        expect(failures, "product's arguments", got, wanted);
        // Windows folders compare ignoring case.
        got = recorded(record, "cwd");
        expect(failures, "product's folder", wine_prefix ? upper(got) : got,
               wine_prefix ? upper(cwd) : cwd);
        if (wine_prefix == nullptr)
            expect(failures, "product's SIGPIPE and SIGCHLD",
                   recorded(record, "sigpipe") + recorded(record, "sigchld"),
                   sigchld_ignored ? "default\nignored\n" : "default\ndefault\n");
    }
    if (!wine_stored.empty()) {
        expect(failures, "the link's file", read_file(wine_stored),
               tree.link_bytes() + (e->appends ? e->append : ""));
        unlink(wine_stored.c_str());
        wine_stored.clear();
    }
    if (fault_shim != nullptr)
        clean = {exit_status,
                 e->appends,
                 in_place(wine_prefix ? traced_boxes(err) : err, tree),
                 in_place(recorded(record, "arg"), tree),
                 in_place(json, tree),
                 e->append,
                 read_file(tree.root() + ".log")};
    return !checking && wine_prefix == nullptr;
}

namespace {

// The cases marked `faults`: each played clean, then once for each call of
// its log that can fail in each way (a letter of the log's second word).
int fault_run(int count, char** files) {
    int failed = 0;
    long plays = 0, calls = 0;
    const char* runner = wine_prefix ? "wine" : checking ? "check" : "posix";
    std::vector<Case> cases = cases_to_play(runner, count, files, &failed);
    for (const Case& c : cases) {
        // talvin-check reads a link's bytes as it reads a file's.
        if (!c.has("faults") || (checking && !c.as_link.empty())) continue;
        fault_kind = 0;
        std::vector<std::string> failures = play_case(c);
        plays++;
        std::map<char, long> can;
        std::istringstream log(clean.log);
        for (std::string number, kinds, rest; log >> number >> kinds && std::getline(log, rest);
             calls++)
            for (char kind : kinds)
                can[kind]++;
        for (const auto& [kind, total] : can) {
            for (long at = 1; at <= total; at++, plays++) {
                fault_kind = kind, fault_at = at;
                for (const std::string& failure : play_case(c))
                    failures.push_back(std::string("fault ") + kind + " at call " +
                                       std::to_string(at) + " (" + fault_call + "): " + failure);
            }
        }
        fault_kind = 0;
        if (failures.empty()) continue;
        failed++;
        printf("FAIL %s: %s\n", c.where.c_str(), c.name.c_str());
        for (const std::string& failure : failures)
            printf("  %s\n", failure.c_str());
    }
    printf("faults (%s): %ld calls that can fail, %ld plays, %d cases failed\n", runner, calls,
           plays, failed);
    return failed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    int agree_count = 0;
    for (; argc > 1 && argv[1][0] == '-'; argc--, argv++) {
        if (strcmp(argv[1], "--agree") == 0 && argc > 3) {
            agree_checker = realpath(argv[2], nullptr);
            agree_count = atoi(argv[3]);
            argc -= 2, argv += 2;
        } else if (strcmp(argv[1], "--faults") == 0 && argc > 2) {
            fault_shim = strcmp(argv[2], "-") == 0 ? "-" : realpath(argv[2], nullptr);
            argc--, argv++;
        } else if (strcmp(argv[1], "--check") == 0) {
            checking = true;
        } else if (strcmp(argv[1], "--wine") == 0 && argc > 2) {
            wine_prefix = argv[2];
            argc--, argv++;
        } else {
            argc = 0;
        }
    }
    if (argc < (agree_checker != nullptr ? 3 : 4)) {
        fprintf(stderr, "usage: process_runner [--wine PREFIX] [--check] PROGRAM RECORD_PRODUCT "
                        "FILE.cases...\n       process_runner --agree TALVIN_CHECK COUNT "
                        "LAUNCHER RECORD_PRODUCT\n");
        return 2;
    }
    program = realpath(argv[1], nullptr);
    record_product = realpath(argv[2], nullptr);
    if (program == nullptr || record_product == nullptr) return 2;
    signal(SIGALRM, stop_running);
    if (wine_prefix != nullptr) {
        programs_folder = std::filesystem::path(program).parent_path().string();
        // A relay trace of MessageBoxA only.
        std::string command = std::string(getenv("LAUNCHER_WRAPPER")) +
                              " reg add HKCU\\\\Software\\\\Wine\\\\Debug /v RelayInclude /d "
                              "user32.MessageBoxA /f >/dev/null 2>&1";
        if (system(command.c_str()) != 0) return 2;
        if (fault_shim != nullptr) return fault_run(argc - 3, argv + 3);
        return play_case_files("wine", argc - 3, argv + 3);
    }
    // Programs the launcher starts become this process's children when it ends.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    if (agree_checker != nullptr) return agree_run(agree_count);
    if (fault_shim != nullptr) return fault_run(argc - 3, argv + 3);
    return play_case_files(checking ? "check" : "posix", argc - 3, argv + 3);
}
