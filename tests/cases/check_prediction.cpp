// What talvin-check foretold (its --json output), held against a case: the
// boxes, the command line started and its folder, the block appended with
// the password masked, the fields and the signature.
#include "case_tree.h"

#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>

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

// The password's characters shown as '*', as the checker shows them.
std::string masked(std::string block) {
    size_t at = block.find("\r\npassword=");
    if (at == std::string::npos) return block;
    for (size_t i = at + 11; i < block.size() && block[i] != '\r'; i++)
        block[i] = '*';
    return block;
}

} // namespace

void compare_prediction(const Case& c, const Expected& e, const Places& places, int status,
                        const std::string& text, std::vector<std::string>* out) {
    Flat json;
    const char* p = text.c_str();
    if (!flatten(p, "", &json) || p[strspn(p, " \r\n")] != '\0')
        return out->push_back("not JSON: " + text);

    std::vector<std::string>& failures = *out;
    bool started = get(json, "outcome") == "start";
    int wanted_status = started ? 0 : 1;
    if (!WIFEXITED(status) || (WEXITSTATUS(status) != wanted_status && WEXITSTATUS(status) != 2))
        failures.push_back("exit status " + std::to_string(status));
    std::string boxes;
    for (int i = 0; json.count("boxes." + std::to_string(i) + ".caption"); i++)
        boxes += get(json, "boxes." + std::to_string(i) + ".caption") + ": " +
                 get(json, "boxes." + std::to_string(i) + ".text") + "\n";
    expect(&failures, "boxes", boxes, e.boxes);
    expect(&failures, "started", started ? get(json, "start.command_line") : "<nothing>",
           e.starts ? e.start : "<nothing>");
    if (started) {
        std::string directory = get(json, "start.directory");
        expect(&failures, "folder", directory == "null" ? "" : directory, e.cwd);
    }
    expect(&failures, "append", get(json, "append.text"), e.appends ? masked(e.append) : "<none>");
    for (const Case::Item& field : e.fields) {
        if (field.first == "password")
            expect(&failures, "password length", get(json, "fields.password.length"),
                   std::to_string(field.value.size()));
        else
            expect(&failures, "field " + field.first, get(json, "fields." + field.first + ".value"),
                   field.value);
    }
    if (c.has("signature"))
        expect(&failures, "signature", signature_report(json), expand(c.get("signature"), places));
}

std::string checked_as(const std::string& text) {
    Flat json;
    const char* p = text.c_str();
    std::string path = flatten(p, "", &json) ? get(json, "link.checked_as") : "";
    return path == "<none>" || path == "null" ? "" : path;
}
