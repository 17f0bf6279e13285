// Launch cases read, written in a fresh folder (signed by libcrypto, never by
// the launcher's own code) and played.
#include "case_file.h"

#include "tests/support/p256.h"

#include <ctype.h>
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
#include <fstream>
#include <set>

namespace fs = std::filesystem;

std::string programs_folder;

namespace {

const std::set<std::string> SINGLE = {
    "launch", "ini",       "args", "start",   "cwd",   "append",   "only",   "name",
    "stderr", "signature", "exit", "sigchld", "stdin", "codepage", "rights", "faults"};
const std::set<std::string> MULTI = {"env",   "box",    "arg",  "says",
                                     "whole", "option", "link", "gone"};
const std::set<std::string> TWO_PART = {"file", "mode",  "fake",  "setenv", "field", "special",
                                        "sign", "owner", "wrote", "age",    "acl"};

// Test key `name` (a, b or c), made on first use.
EVP_PKEY* test_key(const std::string& name) {
    static EVP_PKEY* keys[3];
    if (name.size() != 1 || name[0] < 'a' || name[0] > 'c') abort();
    EVP_PKEY*& key = keys[name[0] - 'a'];
    if (key == nullptr) key = p256_new_key();
    return key;
}

// `text` with $KEY_A, $KEY_B and $KEY_C replaced by the test keys' talvin.ini form.
std::string with_test_keys(const std::string& text) {
    std::string out = text;
    for (const char* name : {"a", "b", "c"}) {
        std::string placeholder = std::string("$KEY_") + (char)(name[0] - 'a' + 'A');
        for (size_t at; (at = out.find(placeholder)) != std::string::npos;)
            out.replace(at, placeholder.size(), p256_public_text(test_key(name)));
    }
    return out;
}

// The expanded `launch` with the section of the case's `sign KEY [BYTES]`.
std::string signed_launch(const std::string& launch, const Case& c, const Places& names) {
    const Case::Item* sign = nullptr;
    for (const Case::Item& item : c.many)
        if (item.directive == "sign") sign = &item;
    if (sign == nullptr) return launch;
    size_t at = launch.find("$SIGNATURE");
    std::string before = launch.substr(0, at);
    std::string after = at == std::string::npos ? "" : launch.substr(at + 10);
    std::string bytes = sign->value.empty() ? before : expand(sign->value, names);
    // DER signatures of 70 to 72 bytes are 96 characters; a shorter one is
    // made again, so that the size of a signed file is known.
    std::string signature;
    while (signature.size() != 96)
        signature = p256_sign(test_key(sign->first), bytes);
    return before + "[signature]\r\necdsa=" + signature + "\r\n" + after;
}

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
    // Held open for reading, as by another account while it could read it.
    if (kind == "held")
        return held->push_back(open(path.c_str(), O_RDONLY | O_CLOEXEC)), held->back() >= 0;
    return kind[0] == '/' && symlink(kind.c_str(), path.c_str()) == 0;
}

} // namespace

std::string visible(const std::string& text) {
    std::string shown;
    for (unsigned char c : text) {
        char hex[8];
        snprintf(hex, sizeof hex, c >= 0x20 && c < 0x7F ? "%c" : "\\x%02x", c);
        shown += hex;
    }
    return shown.size() > 600 ? shown.substr(0, 600) + "..." : shown;
}

namespace {

bool add_directive(Case* c, const std::string& text, std::string* error) {
    size_t blank = text.find(' ');
    std::string word = text.substr(0, blank), first, value;
    std::string raw = blank == std::string::npos ? "" : text.substr(blank + 1);
    auto known = [](const std::string& w) {
        return SINGLE.count(w) + MULTI.count(w) + TWO_PART.count(w);
    };
    if (word == "no" && known(raw)) { // a default taken away
        c->one.erase(raw);
        for (size_t i = c->many.size(); i-- > 0;)
            if (c->many[i].directive == raw) c->many.erase(c->many.begin() + (long)i);
        return true;
    }
    if (!known(word)) return *error = "unknown directive '" + word + "'", false;
    // A two-part directive's first part ends at the first blank.
    bool two_part = TWO_PART.count(word);
    size_t split = two_part ? raw.find(' ') : 0;
    std::string rest = split == std::string::npos ? "" : raw.substr(split + two_part);
    if (!unescape(raw.substr(0, split), &first, error) || !unescape(rest, &value, error))
        return false;
    if (SINGLE.count(word))
        c->one[word] = value;
    else
        c->many.push_back({word, first, value});
    return true;
}

size_t open_files() {
    auto fds = fs::directory_iterator("/proc/self/fd");
    return (size_t)std::distance(begin(fds), end(fds));
}

} // namespace

bool unescape(const std::string& in, std::string* out, std::string* error) {
    static const char plain[] = "nrt0\\\"", decoded[] = "\n\r\t\0\\\"";
    out->clear();
    for (size_t i = 0; i < in.size(); i++) {
        if (in[i] != '\\') {
            *out += in[i];
            continue;
        }
        char c = i + 1 < in.size() ? in[++i] : '\0';
        if (c != '\0' && strchr(plain, c) != nullptr) {
            *out += decoded[strchr(plain, c) - plain];
        } else if (c == 'x' && i + 2 < in.size() && isxdigit((unsigned char)in[i + 1]) &&
                   isxdigit((unsigned char)in[i + 2])) {
            *out += (char)strtol(in.substr(i + 1, 2).c_str(), nullptr, 16);
            i += 2;
        } else if (c == '{') {
            size_t colon = in.find(':', i);
            size_t close = in.find('}', i);
            if (colon == std::string::npos || close == std::string::npos || colon > close)
                return *error = "bad \\{N:TEXT}", false;
            long n = atol(in.substr(i + 1, colon - i - 1).c_str());
            std::string text;
            if (!unescape(in.substr(colon + 1, close - colon - 1), &text, error)) return false;
            for (long k = 0; k < n; k++)
                *out += text;
            i = close;
        } else {
            return *error = std::string("unknown escape \\") + c, false;
        }
    }
    return true;
}

bool Case::runs_on(const std::string& runner) const {
    std::string only;
    if (has("only")) {
        only = get("only");
    } else {
        only = "fake posix check";
        for (const Item& item : many) {
            if (item.directive == "fake") only = "fake";
            if (item.directive == "env" || item.directive == "mode" || item.directive == "owner" ||
                item.directive == "acl")
                only = "posix check";
        }
        if (has("rights")) only = "posix check";
        if (has("stderr")) only = "posix";
    }
    only = " " + only + " ";
    return only.find(" " + runner + " ") != std::string::npos;
}

// False, with `error` ("FILE:LINE: why"), at the first malformed line.
static bool read_case_file(const std::string& path, std::vector<Case>* cases, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return *error = path + ": cannot be read", false;
    Case defaults;
    Case* current = &defaults;
    std::string line;
    for (int number = 1; std::getline(in, line); number++) {
        std::string where = path + ":" + std::to_string(number);
        if (line.empty() || line[0] == '#' || line.find_first_not_of(" \t") == std::string::npos)
            continue;
        bool indented = line[0] == ' ';
        if (indented) {
            if (current == &defaults)
                return *error = where + ": an indented line belongs to no case", false;
            line = line.substr(line.find_first_not_of(' '));
        }
        std::vector<std::string> parts;
        for (size_t at = 0;;) {
            size_t bar = line.find(" | ", at);
            parts.push_back(line.substr(at, bar - at));
            if (bar == std::string::npos) break;
            at = bar + 3;
        }
        size_t first = 0;
        bool starts_case = parts[0].compare(0, 5, "case ") == 0;
        if (!indented && !starts_case) current = &defaults; // defaults of the cases below
        if (!indented && starts_case) {
            cases->push_back(defaults);
            current = &cases->back();
            current->name = parts[0].substr(5);
            current->where = where;
            first = 1;
        }
        for (size_t i = first; i < parts.size(); i++)
            if (!add_directive(current, parts[i], error))
                return *error = where + ": " + *error, false;
    }
    return true;
}

std::string expand(const std::string& text, const Places& p) {
    // Longer names first: $PRODUCT before $PROD.
    const std::pair<const char*, const std::string*> names[] = {
        {"$DIR", &p.dir},           {"$LAUNCH", &p.launch},   {"$DL", &p.dl},
        {"$WIN", &p.win},           {"$PRODUCT", &p.product}, {"$PROD", &p.prod},
        {"$SHORT", &p.short_launch}};
    std::string out;
    size_t done = 0;
    for (size_t at = text.find('$'); at != std::string::npos; at = text.find('$', at + 1)) {
        for (const auto& [name, place] : names) {
            size_t length = std::char_traits<char>::length(name);
            if (text.compare(at, length, name) != 0) continue;
            out.append(text, done, at - done);
            out += *place;
            done = at + length;
            at = done - 1;
            break;
        }
    }
    return with_test_keys(out.append(text, done, std::string::npos));
}

std::string argument_text(const Expected& e) {
    std::string text;
    for (size_t i = 0; i < e.args.size(); i++)
        text += (i == 0 ? "" : " ") + e.args[i];
    return text;
}

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
    std::string launch = root + "/dl/" + name;
    return {root,           launch, root + "/dl", root + "/win", root + "/prod/product",
            root + "/prod", launch};
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
    for (const std::string& path : outside_)
        unlink(path.c_str());
    for (const char* output : {".out", ".err", ".rec", ".log"}) // a process runner's, beside it
        unlink((root_ + output).c_str());
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(root_, ignored))
        if (entry.is_directory(ignored) && !entry.is_symlink(ignored))
            chmod(entry.path().c_str(), 0700);
    fs::remove_all(root_, ignored);
}

bool CaseTree::build(const Case& c, const Places& names, std::string ini_path, std::string* error) {
    Places places = unix_places(root_, c);
    launch_ = places.launch;
    // `win/PATH` is in the Windows folder: under wine the prefix's own.
    std::string win = ini_path.empty() ? places.win : fs::path(ini_path).parent_path().string();
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
        bool in_win = item.first.compare(0, 4, "win/") == 0;
        bool in_own = item.first.compare(0, 4, "own/") == 0 && !programs_folder.empty();
        std::string path = in_win   ? win + item.first.substr(3)
                           : in_own ? programs_folder + item.first.substr(3)
                                    : places.dir + "/" + item.first;
        if ((in_win && win != places.win) || in_own) outside_.push_back(path);
        if (item.directive == "file") ok = ok && write_file(path, expand(item.value, names));
        if (item.directive == "special") {
            std::error_code ignored;
            fs::create_directories(fs::path(path).parent_path(), ignored);
            std::string kind = expand(item.value, names);
            // A copy of the recording product the runner installed (".exe" under wine).
            std::string product = places.product + (fs::exists(places.product) ? "" : ".exe");
            if (kind == "product" || kind == "product being written") {
                ok = ok && fs::exists(product) && write_file(path, read_file(product)) &&
                     chmod(path.c_str(), 0755) == 0;
                // Held open for writing, as by an update in progress.
                if (kind != "product") held_.push_back(open(path.c_str(), O_WRONLY | O_CLOEXEC));
                ok = ok && (kind == "product" || held_.back() >= 0);
            } else

                ok = ok && make_special(path, kind, &held_);
        }
    }
    // Owners, then modes (a folder may lose the right to be written into),
    // then `age PATH HOURS`: last written that long ago (a link itself),
    // then `acl PATH ENTRIES`, given to setfacl -m (after the modes, which
    // would change its mask).
    for (const char* step : {"owner", "mode", "age", "acl"}) {
        for (const Case::Item& item : c.many) {
            if (item.directive != step || !ok) continue;
            std::string path = places.dir + "/" + item.first;
            const char *value = item.value.c_str(), *group = strchr(value, ':');
            struct timespec times[2] = {{time(nullptr) - (time_t)(atof(value) * 3600), 0}};
            times[1] = times[0];
            if (item.directive == "mode")
                ok = chmod(path.c_str(), (mode_t)strtoul(value, nullptr, 8)) == 0;
            if (item.directive == "age")
                ok = utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
            std::string setfacl = "setfacl -m '" + item.value + "' '" + path + "' 2>/dev/null";
            if (item.directive == "acl" && system(setfacl.c_str()) != 0) {
                *error = "SKIP setfacl (Debian's acl) cannot give " + item.first + " " + value;
                return false;
            }
            // USER:GROUP, "-" for one left as it is.
            if (item.directive == "owner" &&
                lchown(path.c_str(), value[0] == '-' ? (uid_t)-1 : (uid_t)atol(value),
                       !group || group[1] == '-' ? (gid_t)-1 : (gid_t)atol(group + 1)) != 0) {
                *error = "SKIP this runner cannot give " + item.first + " the owner " + value;
                return false;
            }
        }
    }
    if (!ok) *error = "the case's files cannot be made";
    before_ = snapshot();
    return ok;
}

namespace {

// A file's mode and, for a regular file, its bytes; false when it is not there.
bool state_of(const std::string& path, std::string* state) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return false;
    *state = std::to_string(info.st_mode) + " ";
    if (S_ISREG(info.st_mode)) *state += read_file(path);
    return true;
}

} // namespace

std::map<std::string, std::string> CaseTree::snapshot() const {
    std::map<std::string, std::string> entries;
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(root_, ignored)) {
        std::string state;
        if (state_of(entry.path().string(), &state)) entries[entry.path().string()] = state;
    }
    return entries;
}

bool CaseTree::replace_launch(const std::string& how) {
    std::string bytes = read_file(launch_);
    // "rewrite OLD NEW": the same file, OLD in it made NEW, as its owner could.
    bool rewrite = how.compare(0, 8, "rewrite ") == 0;
    size_t blank = rewrite ? how.find(' ', 8) : std::string::npos;
    size_t old_at = blank != std::string::npos ? bytes.find(how.substr(8, blank - 8)) : blank;
    if (old_at != std::string::npos) {
        bytes.replace(old_at, blank - 8, how.substr(blank + 1));
        int fd = open(launch_.c_str(), O_WRONLY);
        bool done = fd >= 0 && pwrite(fd, bytes.data(), bytes.size(), 0) == (ssize_t)bytes.size();
        if (fd >= 0) close(fd);
        return state_of(launch_, &before_[launch_]) && done;
    }
    bool done = unlink(launch_.c_str()) == 0 &&
                (how == "gone" || (how == "new" && write_file(launch_, bytes)) ||
                 (how[0] == '/' && symlink(how.c_str(), launch_.c_str()) == 0));
    before_.erase(launch_);
    if (!state_of(launch_, &before_[launch_])) before_.erase(launch_);
    return done;
}

std::string CaseTree::stored_file() const {
    std::vector<std::string> found;
    for (const auto& [path, value] : snapshot())
        if (before_.count(path) == 0 && value.compare(0, 6, "33152 ") == 0 &&
            fs::path(path).filename().string().compare(0, 5, "link-") == 0 &&
            fs::path(path).extension() == ".tvl")
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
    } else if (e.appends && !link_play_) { // else the block went to a file elsewhere
        if (expected.count(launch_) == 0) expected[launch_] = "33188 "; // created by the append
        std::string& state = expected[launch_];
        // The POSIX launcher first makes the file its owner's alone to read.
        if (keeps)
            state = std::to_string(std::stoul(state) & ~077ul) + state.substr(state.find(' '));
        state += e.append;
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
        // A private folder made for a link whose file was not kept is harmless.
        if (was == expected.end() && link_play_ && !keeps && value == "16832 ") continue;
        if (was == expected.end())
            failures->push_back("created " + path);
        else if (was->second != value)
            failures->push_back("changed " + path + ": " + visible(value) + "\n   expected " +
                                visible(was->second));
    }
    for (const auto& [path, value] : expected)
        if (after.count(path) == 0) failures->push_back("removed " + path);
}

void expect(std::vector<std::string>* failures, const std::string& what, const std::string& got,
            const std::string& wanted) {
    if (got != wanted)
        failures->push_back(what + ": " + visible(got) + "\n   expected " + visible(wanted));
}

namespace {

// Played as a link, the file the launcher stored (`stored`) is $LAUNCH.
Expected expected_of(const Case& c, Places places, const CaseTree& tree,
                     const std::string& stored = "") {
    if (!c.as_link.empty()) places.launch = stored;
    Expected e;
    e.starts = c.has("start");
    e.start = e.starts ? expand(c.get("start"), places) : "";
    e.cwd = c.has("cwd") ? expand(c.get("cwd"), places) : "";
    e.appends = c.has("append");
    e.append = e.appends ? expand(c.get("append"), places) : "";
    for (const Case::Item& item : c.many) {
        std::string value = expand(item.value, places);
        if (item.directive == "box") e.boxes += value + "\n";
        if (item.directive == "setenv") e.setenv += item.first + "=" + value + "\n";
        if (item.directive == "field") e.fields.push_back({item.directive, item.first, value});
        if (item.directive == "env") e.env.push_back(value);
        if (item.directive == "arg") e.args.push_back(value);
        if (item.directive == "says") e.says.push_back(value);
        if (item.directive == "whole") e.wholes.push_back(value);
        if (item.directive == "option") e.options.push_back(value);
        if (item.directive == "wrote") e.wrote[item.first] = value;
        if (item.directive == "gone") e.gone.push_back(places.dir + "/" + value);
    }
    // No `arg`: the argument text is one argument, none when it is empty; a
    // link's text, played as a link.
    std::string args = c.has("args") ? expand(c.get("args"), places) : places.launch;
    if (e.args.empty() && !c.as_link.empty())
        e.args = {tree.link_text()};
    else if (e.args.empty() && !args.empty())
        e.args.push_back(args);
    return e;
}

bool case_selected(const Case& c) {
    const char* wanted = getenv("LAUNCH_CASE");
    return wanted == nullptr || c.name.find(wanted) != std::string::npos;
}

} // namespace

std::vector<std::string> play_case(const Case& c) {
    std::vector<std::string> failures;
    size_t open_before = open_files();
    {
        CaseTree tree;
        Places places = unix_places(tree.root(), c);
        std::string error, ini_path = runner_places(c, tree, &places);
        if (!tree.build(c, places, ini_path, &error)) return {error};
        std::string stored = runner_run(c, tree, &places, expected_of(c, places, tree), &failures);
        Expected e = expected_of(c, places, tree, stored);
        bool keeps = runner_compare(c, tree, places, &e, &failures);
        tree.check(e, &failures, stored, keeps);
    }
    // The case's folder gone, no file may be left open (fake runner: by the launcher).
    if (open_files() != open_before) failures.push_back("a file left open");
    return failures;
}

int play_cases(const char* runner, const std::vector<Case>& plays, int failed) {
    int skipped = 0;
    for (const Case& c : plays) {
        std::vector<std::string> failures = play_case(c);
        if (failures.empty()) continue;
        bool skip = failures.size() == 1 && failures[0].compare(0, 5, "SKIP ") == 0;
        skipped += skip, failed += !skip;
        printf("%s %s: %s%s\n", skip ? "SKIP" : "FAIL", c.where.c_str(), c.name.c_str(),
               skip ? (": " + failures[0].substr(5)).c_str() : "");
        for (size_t f = 0; !skip && f < failures.size(); f++)
            printf("  %s\n", failures[f].c_str());
    }
    printf("%s: %zu cases played, %d failed, %d skipped\n", runner, plays.size(), failed, skipped);
    return failed == 0 ? 0 : 1;
}

int play_case_files(const char* runner, int count, char** files) {
    int failed = 0;
    std::vector<Case> plays = cases_to_play(runner, count, files, &failed);
    return play_cases(runner, plays, failed);
}

std::vector<Case> cases_to_play(const char* runner, int count, char** files, int* failed) {
    std::vector<Case> plays;
    for (int i = 0; i < count; i++) {
        std::vector<Case> cases;
        std::string error;
        // A runner may change its current folder: the case files are named from here.
        if (!read_case_file(fs::absolute(files[i]).string(), &cases, &error))
            printf("%s\n", error.c_str()), (*failed)++;
        // Each `link` plays the case once more, its launch file given as that
        // link; `args` that name its base64url is played as a link only.
        for (const Case& c : cases) {
            std::vector<Case> each = {c};
            if (c.has("args") && c.get("args").find("$BASE64") + c.get("args").find("$PADDED") +
                                         c.get("args").find("$PCT") !=
                                     3 * std::string::npos)
                each[0].as_link = c.get("args");
            for (const Case::Item& item : c.many) {
                if (item.directive != "link") continue;
                each.push_back(c);
                each.back().as_link = item.value;
                each.back().name += " (link " + item.value + ")";
            }
            for (const Case& play : each)
                if (play.runs_on(runner) && case_selected(play)) plays.push_back(play);
        }
    }
    return plays;
}
