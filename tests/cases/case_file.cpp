#include "case_file.h"
#include "case_tree.h"

#include "signing.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <set>

namespace {

const std::set<std::string> SINGLE = {"launch", "ini",     "args", "start",  "cwd",
                                      "append", "only",    "name", "stderr", "signature",
                                      "exit",   "sigchld", "stdin"};
const std::set<std::string> MULTI = {"env",   "box",    "arg",  "says",
                                     "whole", "option", "link", "gone"};
const std::set<std::string> TWO_PART = {"file",    "mode", "fake",  "setenv", "field",
                                        "special", "sign", "owner", "wrote",  "age"};

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
            if (colon == std::string::npos || close == std::string::npos || colon > close) {
                *error = "bad \\{N:TEXT}";
                return false;
            }
            long n = atol(in.substr(i + 1, colon - i - 1).c_str());
            for (long k = 0; k < n; k++)
                out->append(in, colon + 1, close - colon - 1);
            i = close;
        } else {
            *error = std::string("unknown escape \\") + c;
            return false;
        }
    }
    return true;
}

namespace {

// Adds one directive ("WORD VALUE") to `c`.
bool add_directive(Case* c, const std::string& text, std::string* error) {
    size_t blank = text.find(' ');
    std::string word = text.substr(0, blank);
    std::string raw = blank == std::string::npos ? "" : text.substr(blank + 1);
    std::string value;
    if (word == "no" && SINGLE.count(raw)) {
        c->one.erase(raw); // a default taken away
    } else if (word == "no" && (MULTI.count(raw) || TWO_PART.count(raw))) {
        for (size_t i = c->many.size(); i-- > 0;)
            if (c->many[i].directive == raw) c->many.erase(c->many.begin() + (long)i);
    } else if (SINGLE.count(word)) {
        if (!unescape(raw, &value, error)) return false;
        c->one[word] = value;
    } else if (MULTI.count(word)) {
        if (!unescape(raw, &value, error)) return false;
        c->many.push_back({word, "", value});
    } else if (TWO_PART.count(word)) {
        size_t split = raw.find(' ');
        std::string first;
        if (!unescape(raw.substr(0, split), &first, error)) return false;
        if (!unescape(split == std::string::npos ? "" : raw.substr(split + 1), &value, error))
            return false;
        c->many.push_back({word, first, value});
    } else {
        *error = "unknown directive '" + word + "'";
        return false;
    }
    return true;
}

} // namespace

bool Case::runs_on(const std::string& runner) const {
    std::string only;
    if (has("only")) {
        only = get("only");
    } else {
        only = "fake posix check";
        for (const Item& item : many) {
            if (item.directive == "fake") only = "fake";
            if (item.directive == "env" || item.directive == "mode" || item.directive == "owner")
                only = "posix check";
        }
        if (has("stderr")) only = "posix";
    }
    only = " " + only + " ";
    return only.find(" " + runner + " ") != std::string::npos;
}

// Reads `path` into `cases`; returns false and sets `error` ("FILE:LINE: why")
// on the first malformed line.
static bool read_case_file(const std::string& path, std::vector<Case>* cases, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": cannot be read";
        return false;
    }
    Case defaults;
    Case* current = &defaults;
    std::string line;
    for (int number = 1; std::getline(in, line); number++) {
        std::string where = path + ":" + std::to_string(number);
        if (line.empty() || line[0] == '#' || line.find_first_not_of(" \t") == std::string::npos)
            continue;
        bool indented = line[0] == ' ';
        if (indented) {
            if (current == &defaults) {
                *error = where + ": an indented line belongs to no case";
                return false;
            }
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
        for (size_t i = first; i < parts.size(); i++) {
            if (!add_directive(current, parts[i], error)) {
                *error = where + ": " + *error;
                return false;
            }
        }
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

Expected expected_of(const Case& c, const Places& places) {
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
    // No `arg`: the argument text is one argument, none when it is empty.
    std::string args = c.has("args") ? expand(c.get("args"), places) : places.launch;
    if (e.args.empty() && !args.empty()) e.args.push_back(args);
    return e;
}

std::string argument_text(const Expected& e) {
    std::string text;
    for (size_t i = 0; i < e.args.size(); i++)
        text += (i == 0 ? "" : " ") + e.args[i];
    return text;
}

// Only the cases whose name contains $LAUNCH_CASE, when it is set.
static bool case_selected(const Case& c) {
    const char* wanted = getenv("LAUNCH_CASE");
    return wanted == nullptr || c.name.find(wanted) != std::string::npos;
}

int play_case_files(const char* runner, int count, char** files) {
    int played = 0, failed = 0, skipped = 0;
    // A runner may change its current folder: the case files are named from here.
    std::vector<std::string> paths;
    for (int i = 0; i < count; i++)
        paths.push_back(std::filesystem::absolute(files[i]).string());
    for (int i = 0; i < count; i++) {
        std::vector<Case> cases;
        std::string error;
        if (!read_case_file(paths[i], &cases, &error)) {
            printf("%s\n", error.c_str());
            failed++;
        }
        // Each `link` plays the case once more, its launch file given as that
        // link; `args` that name its base64url is played as a link only.
        std::vector<Case> plays;
        for (const Case& c : cases) {
            plays.push_back(c);
            if (c.has("args") && c.get("args").find("$BASE64") + c.get("args").find("$PADDED") +
                                         c.get("args").find("$PCT") !=
                                     3 * std::string::npos)
                plays.back().as_link = c.get("args");
            for (const Case::Item& item : c.many) {
                if (item.directive != "link") continue;
                plays.push_back(c);
                plays.back().as_link = item.value;
                plays.back().name += " (link " + item.value + ")";
            }
        }
        for (const Case& c : plays) {
            if (!c.runs_on(runner) || !case_selected(c)) continue;
            played++;
            std::vector<std::string> failures = play_case(c);
            if (failures.empty()) continue;
            if (failures.size() == 1 && failures[0].compare(0, 5, "SKIP ") == 0) {
                printf("SKIP %s: %s: %s\n", c.where.c_str(), c.name.c_str(),
                       failures[0].c_str() + 5);
                skipped++;
                continue;
            }
            failed++;
            printf("FAIL %s: %s\n", c.where.c_str(), c.name.c_str());
            for (const std::string& f : failures)
                printf("  %s\n", f.c_str());
        }
    }
    printf("%s: %d cases played, %d failed, %d skipped\n", runner, played, failed, skipped);
    return failed == 0 ? 0 : 1;
}
