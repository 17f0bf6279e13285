// What talvin-check foretold (its --json output) and its text report says,
// held against a case.
#include "case_file.h"

#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>

#include <sstream>

namespace {

using Flat = std::map<std::string, std::string>;

// The JSON string at `p` into `out`: escapes \" \\ and \u00XX (one byte).
bool string_at(const char*& p, std::string* out) {
    for (p++; *p != '"'; p++) {
        if (*p == '\0') return false;
        if (*p == '\\' && *++p == 'u')
            *out += (char)strtoul(std::string(p + 1, 4).c_str(), nullptr, 16), p += 4;
        else
            *out += *p;
    }
    return *p++ == '"';
}

// The JSON value at `p` flattened into `flat`: "boxes.0.caption", "start.result", ...
bool flatten(const char*& p, const std::string& path, Flat* flat) {
    p += strspn(p, " \r\n");
    if (*p != '{' && *p != '[') {
        std::string value;
        size_t length = *p == '"' ? 0 : strcspn(p, ",}]\r\n");
        if (length > 0)
            value.assign(p, length), p += length;
        else if (*p != '"' || !string_at(p, &value))
            return false;
        (*flat)[path.substr(0, path.size() - 1)] = value;
        return true;
    }
    char close = *p++ == '{' ? '}' : ']';
    for (int i = 0;; i++) {
        p += strspn(p, " \r\n");
        if (*p == close) return p++, true;
        std::string name = close == '}' ? "" : std::to_string(i);
        if (close == '}' && (!string_at(p, &name) || *p++ != ':')) return false;
        if (!flatten(p, path + name + ".", flat)) return false;
        p += strspn(p, " \r\n");
        if (*p == ',') p++;
    }
}

std::string get(const Flat& flat, const std::string& key) {
    auto found = flat.find(key);
    return found == flat.end() ? "<none>" : found->second;
}

// The signature as the checker reports it, in the words of the `signature`
// directive: "required valid publickey2 39".
std::string signature_report(const Flat& json) {
    if (get(json, "signature") == "null") return "<not looked at>";
    std::string out = get(json, "signature.required") == "true" ? "required" : "not-required";
    for (const char* part : {"verdict", "key", "signed_bytes"})
        if (get(json, std::string("signature.") + part) != "null")
            out += " " + get(json, std::string("signature.") + part);
    return out;
}

} // namespace

// `bytes` as the JSON shows them: a C1 character (C2 80 to C2 9F) is
// \u0080 to \u009F there, which string_at reads as one byte.
std::string as_json_shows(std::string bytes) {
    for (size_t at = 0; (at = bytes.find('\xC2', at)) != std::string::npos; at++)
        if (at + 1 < bytes.size() && (unsigned char)bytes[at + 1] >= 0x80 &&
            (unsigned char)bytes[at + 1] <= 0x9F)
            bytes.erase(at, 1);
    return bytes;
}

void compare_prediction(const Case& c, const Expected& e, const Places& places, int status,
                        const std::string& text, std::vector<std::string>* out) {
    Flat json;
    const char* p = text.c_str();
    if (!flatten(p, "", &json) || p[strspn(p, " \r\n")] != '\0')
        return out->push_back("not JSON: " + text);

    std::vector<std::string>& failures = *out;
    bool started = get(json, "outcome") == "start";
    // 2: a file it was given cannot be read.
    int wanted_status = c.has("exit") ? atoi(c.get("exit").c_str()) : started ? 0 : 1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != wanted_status)
        failures.push_back("exit status " + std::to_string(status));
    expect(&failures, "boxes", json_boxes(text), as_json_shows(e.boxes));
    expect(&failures, "started", started ? get(json, "start.command_line") : "<nothing>",
           e.starts ? as_json_shows(e.start) : "<nothing>");
    if (started) {
        std::string directory = get(json, "start.directory");
        expect(&failures, "folder", directory == "null" ? "" : directory, as_json_shows(e.cwd));
    }
    expect(&failures, "append", get(json, "append.text"),
           e.appends ? as_json_shows(password_masked(e.append)) : "<none>");
    for (const Case::Item& field : e.fields) {
        if (field.first == "password")
            expect(&failures, "password length", get(json, "fields.password.length"),
                   std::to_string(field.value.size()));
        else
            expect(&failures, "field " + field.first, get(json, "fields." + field.first + ".value"),
                   as_json_shows(field.value));
    }
    if (c.has("signature"))
        expect(&failures, "signature", signature_report(json), expand(c.get("signature"), places));
}

void compare_report(const Expected& e, const Places& places, const std::string& folder,
                    const std::string& text, const std::string& json,
                    std::vector<std::string>* failures) {
    // Each `says` is a line of the text report after the line the one before
    // it matched; blanks before it and a carriage return after it aside.
    auto trimmed = [](std::string line) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line.erase(0, line.find_first_not_of(' '));
    };
    std::istringstream lines(text);
    std::string line;
    for (const std::string& wanted : e.says) {
        while (std::getline(lines, line) && trimmed(line) != trimmed(wanted)) {
        }
        if (!lines)
            return failures->push_back("the report does not say (after the lines before): " +
                                       wanted + "\n   the report:\n" + text);
    }
    for (const std::string& name : e.wholes) {
        bool is_json = name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0;
        if ((is_json ? json : text) != expand(read_file(folder + name), places))
            failures->push_back("whole report " + name + " differs:\n" + (is_json ? json : text));
    }
}

std::string json_member(const std::string& text, const std::string& key) {
    Flat json;
    const char* p = text.c_str();
    return flatten(p, "", &json) ? get(json, key) : "<not JSON>";
}

std::string json_boxes(const std::string& text) {
    std::string boxes;
    for (int i = 0; json_member(text, "boxes." + std::to_string(i) + ".caption") != "<none>"; i++)
        boxes += json_member(text, "boxes." + std::to_string(i) + ".caption") + ": " +
                 json_member(text, "boxes." + std::to_string(i) + ".text") + "\n";
    return boxes;
}

std::string password_masked(std::string block) {
    size_t at = block.find("\r\npassword=");
    for (size_t i = at + 11; at != std::string::npos && i < block.size() && block[i] != '\r'; i++)
        block[i] = '*';
    return block;
}

std::string checked_as(const std::string& text) {
    Flat json;
    const char* p = text.c_str();
    std::string path = flatten(p, "", &json) ? get(json, "link.checked_as") : "";
    return path == "<none>" || path == "null" ? "" : path;
}
