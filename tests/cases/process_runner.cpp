// Plays launch cases through a built program, a real process in the case's
// folder: the launcher, with tests/support/record_product as the product, or
// with --check talvin-check, whose prediction must be the case's and which
// must change nothing. With --wine the program is a Windows one in the wine
// prefix PREFIX: places get their Windows names, talvin.ini is the prefix's
// and boxes are read from wine's trace of MessageBoxA.
// Usage: process_runner [--wine PREFIX] [--check] PROGRAM RECORD_PRODUCT FILE.cases...
// (LAUNCHER_WRAPPER="valgrind ...": put before the program, split at blanks.)
#include "case_file.h"

#include "launch/command_line_split.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <glob.h>
#include <iconv.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

namespace {

const char* program;
const char* record_product;
const char* wine_prefix; // null: the POSIX program
bool checking;           // the program is talvin-check
bool stderr_gone;        // `stderr gone`: its standard error is a pipe whose reader has gone
bool sigchld_ignored;    // `sigchld ignored`: the program starts with SIGCHLD ignored
bool stdin_closed;       // `stdin closed`: it starts without a standard input

// The Windows name of a unix path: wine's drive Z: is the root.
std::string windows_name(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return "Z:" + path;
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

// The case files' UTF-8 `text` in wine's ANSI code page here (1252), whose
// bytes a Windows program is handed; unchanged where it cannot hold them.
std::string in_code_page(const std::string& text) {
    iconv_t convert = iconv_open("CP1252", "UTF-8");
    std::string out(text.size(), '\0');
    char* in = const_cast<char*>(text.data());
    char* to = out.data();
    size_t in_left = text.size(), out_left = out.size();
    bool whole = iconv(convert, &in, &in_left, &to, &out_left) != (size_t)-1;
    iconv_close(convert);
    return whole ? out.substr(0, out.size() - out_left) : text;
}

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return (char)toupper(c); });
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

// The null-terminated list of `words` that execvpe takes.
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

// Runs `argv` with the environment `env` in the case's download folder,
// standard output to the file ROOT.out and standard error to ROOT.err (`stderr
// gone`: a pipe whose reader has gone); then waits for it and every process it
// left behind (they become this process's children).
int run(std::vector<std::string> argv, std::vector<std::string> env, const std::string& root,
        std::vector<std::string>* failures) {
    pid_t pid = fork();
    if (pid == 0) {
        // SIGPIPE at its default action, whatever this runner was given: the
        // product must find it so too.
        signal(SIGPIPE, SIG_DFL);
        if (sigchld_ignored) signal(SIGCHLD, SIG_IGN);
        int to = O_WRONLY | O_CREAT | O_TRUNC, gone[2];
        int in = open("/dev/null", O_RDONLY), o = open((root + ".out").c_str(), to, 0600);
        int e = stderr_gone && pipe(gone) == 0 && close(gone[0]) == 0
                    ? gone[1]
                    : open((root + ".err").c_str(), to, 0600);
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
    return status;
}

// What the last run gave.
int exit_status;
std::string json, wine_stored;

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

std::string runner_run(const Case& c, const CaseTree& tree, Places* places, const Expected& e,
                       std::vector<std::string>* failures) {
    if (wine_prefix != nullptr && c.has("start") &&
        c.get("start").find("$SHORT") != std::string::npos)
        places->short_launch = wine_short_form(places->launch);
    if (c.has("stderr") && c.get("stderr") != "gone")
        return failures->push_back("unknown stderr"), "";
    stderr_gone = c.has("stderr");
    sigchld_ignored = c.has("sigchld");
    stdin_closed = c.has("stdin");
    std::vector<std::string> argv = words_of(getenv("LAUNCHER_WRAPPER"));
    argv.push_back(program);
    if (checking) argv.push_back("--json");
    const std::vector<std::string>& words = checking ? e.options : e.args;
    argv.insert(argv.end(), words.begin(), words.end());
    if (checking) argv.push_back(argument_text(e));
    // Wine reads the process's arguments in the locale's character set.
    std::string rec = tree.root() + ".rec", locale = wine_prefix ? "C.UTF-8" : "C";
    std::map<std::string, std::string> env = {
        {"PATH", "/usr/bin:/bin"},
        {"WINDIR", places->win},
        {"HOME", places->dir + "/home"},
        {"LC_ALL", locale},
        {"XDG_RUNTIME_DIR", tree.root() + "/run"},
        {"LAUNCHER_TEST_RECORD", wine_prefix ? windows_name(rec) : rec}};
    if (wine_prefix != nullptr && !checking) env["WINEDEBUG"] = "+relay"; // MessageBoxA: see main
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
        if (getenv(name) != nullptr) env[name] = getenv(name);
    for (const std::string& entry : e.env) {
        size_t equals = entry.find('=');
        if (equals == std::string::npos)
            env.erase(entry);
        else
            env[entry.substr(0, equals)] = entry.substr(equals + 1);
    }
    std::vector<std::string> entries;
    for (const auto& [name, value] : env)
        entries.push_back(name + "=" + value);

    // A link's file of an earlier case would be taken for this one's.
    for (const std::string& file : wine_prefix ? wine_link_files() : std::vector<std::string>())
        unlink(file.c_str());
    exit_status = run(argv, entries, tree.root(), failures);
    json = read_file(tree.root() + ".out");
    if (checking && (!e.says.empty() || !e.wholes.empty())) {
        // The text report too: the same run without --json.
        argv.erase(std::find(argv.begin(), argv.end(), "--json"));
        run(argv, entries, tree.root(), failures);
    }
    // A link's file: the one the launcher wrote, or the checker's scratch copy.
    if (checking) return checked_as(json);
    if (wine_prefix == nullptr || c.as_link.empty()) return tree.stored_file();
    // Under the prefix's local application data, not in the case's folder.
    std::vector<std::string> stored = wine_link_files();
    wine_stored = stored.size() == 1 ? stored[0] : "";
    if (wine_stored.empty()) return "";
    std::string drive_c = std::string(wine_prefix) + "/drive_c";
    // The launcher hands the product the short form of the file's path.
    return wine_short_form("C:" + windows_name(wine_stored.substr(drive_c.size())).substr(2));
}

bool runner_compare(const Case& c, const CaseTree& tree, const Places& places, Expected* e,
                    std::vector<std::string>* failures) {
    std::string out = read_file(tree.root() + ".out"), err = read_file(tree.root() + ".err");
    std::string rec = tree.root() + ".rec", record = read_file(rec);
    // Where names ignore case, the launcher uppercases the command line.
    if (wine_prefix != nullptr) e->start = upper(in_code_page(e->start));
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
        // Programs the Windows launcher starts are not its unix children.
        for (int i = 0; i < 300 && wine_prefix && record.empty() && e->starts; i++, usleep(100000))
            record = read_file(rec);
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
        expect(failures, "product's arguments", recorded(record, "arg"), expected_args(e->start));
        // Windows folders compare ignoring case.
        std::string got = recorded(record, "cwd");
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
    for (const std::string& path : {tree.root() + ".out", tree.root() + ".err", rec})
        unlink(path.c_str());
    return !checking && wine_prefix == nullptr;
}

int main(int argc, char** argv) {
    for (; argc > 1 && argv[1][0] == '-'; argc--, argv++) {
        if (strcmp(argv[1], "--check") == 0) {
            checking = true;
        } else if (strcmp(argv[1], "--wine") == 0 && argc > 2) {
            wine_prefix = argv[2];
            argc--, argv++;
        } else {
            argc = 0;
        }
    }
    if (argc < 4) {
        fprintf(stderr, "usage: process_runner [--wine PREFIX] [--check] PROGRAM RECORD_PRODUCT "
                        "FILE.cases...\n");
        return 2;
    }
    program = realpath(argv[1], nullptr);
    record_product = realpath(argv[2], nullptr);
    if (program == nullptr || record_product == nullptr) return 2;
    signal(SIGALRM, stop_running);
    if (wine_prefix != nullptr) {
        // Wine traces the calls of MessageBoxA only, when WINEDEBUG asks for a relay trace.
        std::string command = std::string(getenv("LAUNCHER_WRAPPER")) +
                              " reg add HKCU\\\\Software\\\\Wine\\\\Debug /v RelayInclude /d "
                              "user32.MessageBoxA /f >/dev/null 2>&1";
        if (system(command.c_str()) != 0) return 2;
        return play_case_files("wine", argc - 3, argv + 3);
    }
    // Programs the launcher starts become this process's children when it ends.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    return play_case_files(checking ? "check" : "posix", argc - 3, argv + 3);
}
