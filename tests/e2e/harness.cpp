#include "harness.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace {

double now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

void pause_briefly() {
    timespec t = {0, 1000000};
    nanosleep(&t, nullptr);
}

void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + strerror(errno));
}

void remove_tree(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return;
    if (S_ISDIR(info.st_mode)) {
        chmod(path.c_str(), 0700);
        if (DIR* dir = opendir(path.c_str())) {
            while (dirent* entry = readdir(dir)) {
                std::string name = entry->d_name;
                if (name != "." && name != "..") remove_tree(path + "/" + name);
            }
            closedir(dir);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

// FNV-1a over the file's bytes: enough to tell any change of content.
std::string digest(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return "unreadable";
    uint64_t hash = 14695981039346656037ull;
    unsigned long long size = 0;
    static char chunk[1 << 16];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0) {
        for (ssize_t i = 0; i < n; i++)
            hash = (hash ^ (unsigned char)chunk[i]) * 1099511628211ull;
        size += (unsigned long long)n;
    }
    close(fd);
    char text[64];
    snprintf(text, sizeof text, "%llu:%016llx", size, (unsigned long long)hash);
    return text;
}

void walk(const std::string& root, const std::string& relative,
          std::map<std::string, std::string>* entries) {
    std::string directory = relative.empty() ? root : root + "/" + relative;
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr) return;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (relative.empty() && name == "out") continue;
        std::string rel = relative.empty() ? name : relative + "/" + name;
        std::string full = root + "/" + rel;
        struct stat info;
        if (lstat(full.c_str(), &info) != 0) continue;
        char mode[16];
        snprintf(mode, sizeof mode, "%o ", (unsigned)info.st_mode);
        std::string value = mode;
        if (S_ISREG(info.st_mode)) {
            value += digest(full);
        } else if (S_ISLNK(info.st_mode)) {
            char target[4096];
            ssize_t n = readlink(full.c_str(), target, sizeof target);
            value += std::string(target, n > 0 ? (size_t)n : 0);
        } else if (S_ISDIR(info.st_mode)) {
            walk(root, rel, entries);
        }
        (*entries)[rel] = value;
    }
    closedir(dir);
}

std::vector<std::string> differences(const std::map<std::string, std::string>& before,
                                     const std::map<std::string, std::string>& after) {
    std::vector<std::string> changes;
    for (const auto& [name, value] : after) {
        auto old = before.find(name);
        if (old == before.end())
            changes.push_back("created " + name);
        else if (old->second != value)
            changes.push_back("changed " + name);
    }
    for (const auto& [name, value] : before)
        if (after.count(name) == 0) changes.push_back("removed " + name);
    std::sort(changes.begin(), changes.end());
    return changes;
}

// Record lines: "<tag> <length>:<bytes>\n".
ProductRecord parse_record(const std::string& text) {
    ProductRecord record;
    size_t at = 0;
    while (at < text.size()) {
        size_t blank = text.find(' ', at);
        size_t colon = text.find(':', blank);
        if (blank == std::string::npos || colon == std::string::npos) break;
        std::string tag = text.substr(at, blank - at);
        size_t length = strtoul(text.substr(blank + 1, colon - blank - 1).c_str(), nullptr, 10);
        std::string value = text.substr(colon + 1, length);
        at = colon + 1 + length + 1;
        if (tag == "cwd")
            record.cwd = value;
        else if (tag == "arg")
            record.args.push_back(value);
    }
    return record;
}

// Processes that the launcher leaves behind become this process's children
// when it ends, so every program it started can be counted and awaited.
void become_subreaper() {
    static bool done = false;
    if (!done && prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) fail("PR_SET_CHILD_SUBREAPER");
    done = true;
}

// Reaps the launcher's orphans until none is left or `deadline` passes.
int reap_orphans(double deadline, bool* all_ended) {
    int count = 0;
    *all_ended = false;
    for (;;) {
        int status;
        pid_t pid = waitpid(-1, &status, WNOHANG);
        if (pid > 0) {
            count++;
            continue;
        }
        if (pid < 0 && errno == ECHILD) {
            *all_ended = true;
            return count;
        }
        if (now() > deadline) return count;
        pause_briefly();
    }
}

} // namespace

Sandbox::Sandbox() {
    char name[] = "/tmp/launcher-e2e-XXXXXX";
    if (mkdtemp(name) == nullptr) fail("mkdtemp");
    root_ = name;
    make_dir("out");
}

Sandbox::~Sandbox() {
    remove_tree(root_);
}

std::string Sandbox::path(const std::string& relative) const {
    return root_ + "/" + relative;
}

std::string Sandbox::write(const std::string& relative, const std::string& bytes,
                           mode_t mode) const {
    std::string full = path(relative);
    unlink(full.c_str());
    int fd = open(full.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) fail("create " + full);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) fail("write " + full);
        done += (size_t)n;
    }
    close(fd);
    chmod(full.c_str(), mode);
    return full;
}

std::string Sandbox::make_dir(const std::string& relative) const {
    std::string full = path(relative);
    if (mkdir(full.c_str(), 0755) != 0 && errno != EEXIST) fail("mkdir " + full);
    return full;
}

std::map<std::string, std::string> snapshot(const std::string& directory) {
    std::map<std::string, std::string> entries;
    walk(directory, "", &entries);
    return entries;
}

std::vector<std::string> wrapper_words() {
    std::vector<std::string> words;
    const char* text = getenv("LAUNCHER_E2E_WRAPPER");
    if (text == nullptr) return words;
    std::string word;
    for (const char* p = text;; p++) {
        if (*p == '\0' || *p == ' ' || *p == '\t') {
            if (!word.empty()) words.push_back(word);
            word.clear();
            if (*p == '\0') break;
        } else {
            word += *p;
        }
    }
    return words;
}

std::string read_file(const std::string& path) {
    std::string content;
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return content;
    char chunk[1 << 16];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0)
        content.append(chunk, (size_t)n);
    close(fd);
    return content;
}

Outcome run_launcher(const std::string& launcher, const Sandbox& sandbox, const Launch& launch,
                     const std::string& record_path) {
    become_subreaper();
    bool ignored;
    reap_orphans(0, &ignored);
    unlink(record_path.c_str());
    std::map<std::string, std::string> before = snapshot(sandbox.root());

    std::string out_path = sandbox.path("out/stdout");
    std::string err_path = sandbox.path("out/stderr");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addchdir_np(&actions, launch.cwd.c_str());

    std::vector<std::string> words = wrapper_words();
    words.push_back(launcher);
    words.insert(words.end(), launch.args.begin(), launch.args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> entries;
    for (const auto& [name, value] : launch.env)
        entries.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : entries)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    // A wrapper such as valgrind makes every run much slower.
    double time_limit = launch.time_limit * (words.size() > 1 ? 6 : 1);
    Outcome outcome;
    double start = now();
    pid_t pid;
    // The wrapper, if any, is found through this process's own PATH.
    int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        errno = error;
        fail("start " + std::string(argv[0]));
    }

    int status = 0;
    rusage usage = {};
    for (;;) {
        pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid) {
            outcome.finished = true;
            break;
        }
        if (now() - start > time_limit) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
            break;
        }
        pause_briefly();
    }
    outcome.seconds = now() - start;
    outcome.peak_memory_kb = usage.ru_maxrss;
    if (outcome.finished && WIFEXITED(status)) outcome.exit_code = WEXITSTATUS(status);

    bool all_ended;
    outcome.started = reap_orphans(now() + time_limit, &all_ended);
    if (!all_ended) outcome.finished = false; // a product that never ends

    outcome.out = read_file(out_path);
    outcome.err = read_file(err_path);
    struct stat info;
    if (stat(record_path.c_str(), &info) == 0) {
        outcome.recorded = true;
        outcome.product = parse_record(read_file(record_path));
        unlink(record_path.c_str());
    }
    outcome.changes = differences(before, snapshot(sandbox.root()));
    return outcome;
}
