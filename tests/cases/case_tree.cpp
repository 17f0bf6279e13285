#include "case_tree.h"

#include "signing.h"

#include "tests/support/p256.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

bool make_special(const std::string& path, const std::string& kind, std::vector<int>* held) {
    if (kind == "dir") return mkdir(path.c_str(), 0755) == 0;
    if (kind == "fifo" || kind == "held-fifo") {
        if (mkfifo(path.c_str(), 0644) != 0) return false;
        if (kind == "held-fifo") held->push_back(open(path.c_str(), O_RDWR | O_NONBLOCK));
        return kind == "fifo" || held->back() >= 0;
    }
    if (kind == "socket") {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        if (fd < 0 || path.size() >= sizeof address.sun_path) return false;
        memcpy(address.sun_path, path.c_str(), path.size() + 1);
        bool bound = bind(fd, (sockaddr*)&address, sizeof address) == 0;
        close(fd);
        return bound;
    }
    return kind[0] == '/' && symlink(kind.c_str(), path.c_str()) == 0;
}

// `text` with control and high bytes shown as \xHH, for messages.
std::string visible(const std::string& text) {
    std::string shown;
    for (unsigned char c : text) {
        char hex[8];
        snprintf(hex, sizeof hex, c >= 0x20 && c < 0x7F ? "%c" : "\\x%02x", c);
        shown += hex;
    }
    return shown.size() > 600 ? shown.substr(0, 600) + "..." : shown;
}

} // namespace

std::string read_file(const std::string& path) {
    std::string content;
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return content;
    static char chunk[1 << 16];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0)
        content.append(chunk, (size_t)n);
    close(fd);
    return content;
}

bool write_file(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    FILE* out = fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    bool written = fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return fclose(out) == 0 && written;
}

Places unix_places(const std::string& root, const Case& c) {
    std::string name = c.has("name") ? c.get("name") : "game.tvl";
    return {
        root,           root + "/dl/" + name, root + "/dl", root + "/win", root + "/prod/product",
        root + "/prod", root + "/dl/" + name};
}

CaseTree::CaseTree() {
    char name[] = "/tmp/lcXXXXXX"; // a short name under wine too
    if (mkdtemp(name) == nullptr) abort();
    root_ = name;
    for (const char* dir : {"/dl", "/win", "/prod", "/home"})
        mkdir((root_ + dir).c_str(), 0755);
    mkdir((root_ + "/run").c_str(), 0700); // $XDG_RUNTIME_DIR
}

CaseTree::~CaseTree() {
    for (int fd : held_)
        close(fd);
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(root_, ignored))
        if (entry.is_directory(ignored) && !entry.is_symlink(ignored))
            chmod(entry.path().c_str(), 0700);
    fs::remove_all(root_, ignored);
}

bool CaseTree::build(const Case& c, const Places& names, std::string ini_path, std::string* error) {
    Places places = unix_places(root_, c);
    launch_ = places.launch;
    if (ini_path.empty()) ini_path = places.win + "/talvin.ini";
    bool ok = true;
    link_play_ = !c.as_link.empty();
    std::string launch =
        c.has("launch") ? signed_launch(expand(c.get("launch"), names), c, names) : "";
    if (link_play_) {
        link_bytes_ = launch;
        std::string padded = base64((const unsigned char*)launch.data(), launch.size());
        for (char& ch : padded)
            ch = ch == '+' ? '-' : ch == '/' ? '_' : ch;
        std::string bare = padded.substr(0, padded.find('='));
        std::string percent = bare;
        for (size_t i = bare.size(); i < padded.size(); i++)
            percent += "%3D";
        link_text_ = c.as_link;
        for (const auto& [name, value] : {std::pair<std::string, std::string>{"$BASE64", bare},
                                          {"$PADDED", padded},
                                          {"$PCT", percent}})
            for (size_t at; (at = link_text_.find(name)) != std::string::npos;)
                link_text_.replace(at, name.size(), value);
    } else if (c.has("launch")) {
        ok = write_file(places.launch, launch);
    }
    if (c.has("ini")) ok = ok && write_file(ini_path, expand(c.get("ini"), names));
    for (const Case::Item& item : c.many) {
        std::string path = places.dir + "/" + item.first;
        if (item.directive == "file") ok = ok && write_file(path, expand(item.value, names));
        if (item.directive == "special") {
            std::error_code ignored;
            fs::create_directories(fs::path(path).parent_path(), ignored);
            ok = ok && make_special(path, expand(item.value, names), &held_);
        }
    }
    for (const Case::Item& item : c.many) {
        if (item.directive != "owner" || !ok) continue;
        // USER:GROUP, "-" for one left as it is.
        const char* ids = item.value.c_str();
        const char* group = strchr(ids, ':');
        uid_t uid = ids[0] == '-' ? (uid_t)-1 : (uid_t)atol(ids);
        gid_t gid = group == nullptr || group[1] == '-' ? (gid_t)-1 : (gid_t)atol(group + 1);
        if (lchown((places.dir + "/" + item.first).c_str(), uid, gid) != 0) {
            *error = "SKIP this runner cannot give " + item.first + " the owner " + ids;
            return false;
        }
    }
    // Modes last: a folder may lose the right to be written into.
    for (const Case::Item& item : c.many)
        if (item.directive == "mode")
            ok = ok && chmod((places.dir + "/" + item.first).c_str(),
                             (mode_t)strtoul(item.value.c_str(), nullptr, 8)) == 0;
    // `age PATH HOURS`: last written that long ago (a link itself, not what it names).
    for (const Case::Item& item : c.many) {
        if (item.directive != "age") continue;
        struct timespec times[2] = {{time(nullptr) - (time_t)(atof(item.value.c_str()) * 3600), 0}};
        times[1] = times[0];
        ok = ok && utimensat(AT_FDCWD, (places.dir + "/" + item.first).c_str(), times,
                             AT_SYMLINK_NOFOLLOW) == 0;
    }
    if (!ok) *error = "the case's files cannot be made";
    before_ = snapshot();
    return ok;
}

std::map<std::string, std::string> CaseTree::snapshot() const {
    std::map<std::string, std::string> entries;
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(root_, ignored)) {
        std::string path = entry.path().string();
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) continue;
        std::string value = std::to_string(info.st_mode) + " ";
        if (S_ISREG(info.st_mode)) value += read_file(path);
        entries[path] = value;
    }
    return entries;
}

std::string CaseTree::stored_file() const {
    std::vector<std::string> found;
    for (const auto& [path, value] : snapshot())
        if (before_.count(path) == 0 && value.compare(0, 6, "33152 ") == 0 &&
            fs::path(path).filename().string().compare(0, 5, "link-") == 0)
            found.push_back(path);
    return found.size() == 1 ? found[0] : "";
}

void CaseTree::check(const Expected& e, std::vector<std::string>* failures,
                     const std::string& stored, bool keeps) const {
    std::map<std::string, std::string> after = snapshot();
    std::map<std::string, std::string> expected = before_;
    // A link the launcher does not refuse is kept in a file of its own,
    // mode 0600, in a folder of mode 0700.
    if (link_play_ && keeps && e.boxes.find("talvin: link") == std::string::npos) {
        if (stored.empty()) failures->push_back("no file of the link's bytes, mode 0600");
        // Its folder, and the folders made for it, are the user's alone.
        fs::path folder = fs::path(stored).parent_path();
        for (bool first = true; !stored.empty() && (first || expected.count(folder) == 0);
             folder = folder.parent_path(), first = false)
            expected[folder.string()] = "16832 ";
        if (!stored.empty())
            expected[stored] = "33152 " + link_bytes_ + (e.appends ? e.append : "");
        for (const std::string& path : e.gone)
            expected.erase(path);
    } else if (e.appends) {
        if (expected.count(launch_) == 0) expected[launch_] = "33188 "; // created by the append
        expected[launch_] += e.append;
    }
    // Files the case's own programs write: their bytes, whatever their mode.
    for (const auto& [name, bytes] : e.wrote) {
        auto written = after.find(root_ + "/" + name);
        std::string got = written == after.end() ? "<nothing>" : written->second;
        expect(failures, "wrote " + name, got.substr(got.find(' ') + 1), bytes);
        if (written != after.end()) after.erase(written);
        expected.erase(root_ + "/" + name);
    }
    for (const auto& [path, value] : after) {
        auto was = expected.find(path);
        if (was == expected.end())
            failures->push_back("created " + path);
        else if (was->second != value)
            failures->push_back("changed " + path + ": " + visible(value) + "\n   expected " +
                                visible(was->second));
    }
    for (const auto& [path, value] : expected)
        if (after.count(path) == 0) failures->push_back("removed " + path);
}

Expected expected_in(const Case& c, Places places, const CaseTree& tree,
                     const std::string& stored) {
    if (tree.link_play()) places.launch = stored;
    Expected e = expected_of(c, places);
    bool words = false; // `arg` words are passed as they are
    for (const Case::Item& item : c.many)
        words = words || item.directive == "arg";
    if (tree.link_play() && !words) e.args = {tree.link_text()};
    return e;
}

// The descriptors this process holds open.
static size_t open_files() {
    auto fds = fs::directory_iterator("/proc/self/fd");
    return (size_t)std::distance(begin(fds), end(fds));
}

std::vector<std::string> play_case(const Case& c) {
    std::vector<std::string> failures;
    size_t open_before = open_files();
    {
        CaseTree tree;
        Places places = unix_places(tree.root(), c);
        std::string error, ini_path = runner_places(c, tree, &places);
        if (!tree.build(c, places, ini_path, &error)) return {error};
        std::string stored = runner_run(c, tree, &places, expected_in(c, places, tree), &failures);
        Expected e = expected_in(c, places, tree, stored);
        bool keeps = runner_compare(c, tree, places, &e, &failures);
        tree.check(e, &failures, stored, keeps);
    }
    // Once the case's folder is gone, the program must hold no file open.
    if (open_files() != open_before) failures.push_back("a file left open");
    return failures;
}

void install_product(const std::string& path, const char* record_product) {
    write_file(path, read_file(record_product));
    chmod(path.c_str(), 0755);
}

void expect(std::vector<std::string>* failures, const std::string& what, const std::string& got,
            const std::string& wanted) {
    if (got != wanted)
        failures->push_back(what + ": " + visible(got) + "\n   expected " + visible(wanted));
}
