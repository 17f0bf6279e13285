// What talvin-check foretold (its --json output), held against a case: the
// boxes, the command line started and its folder, the block appended with
// the password masked, the fields and the signature.
#include "case_tree.h"

#include <stdlib.h>
#include <sys/wait.h>

namespace {

// talvin-check's JSON, flattened: "boxes.0.caption", "start.result", ...
struct Json {
    std::map<std::string, std::string> at;
    const char* p;
    bool ok = true;

    void skip() {
        while (*p == ' ' || *p == '\r' || *p == '\n')
            p++;
    }
    std::string string() {
        std::string out;
        for (p++; *p != '"' && *p != '\0'; p++) {
            if (*p != '\\') {
                out += *p;
            } else if (*++p == 'u') {
                out += (char)strtoul(std::string(p + 1, 4).c_str(), nullptr, 16);
                p += 4;
            } else {
                out += *p; // \" and \\ only
            }
        }
        ok = ok && *p++ == '"';
        return out;
    }
    void value(const std::string& path) {
        skip();
        if (*p == '{' || *p == '[') {
            char close = *p == '{' ? '}' : ']';
            p++;
            for (int i = 0; ok; i++) {
                skip();
                if (*p == close) break;
                std::string name = std::to_string(i);
                if (close == '}') {
                    name = string();
                    skip();
                    ok = ok && *p++ == ':';
                }
                value(path + name + ".");
                skip();
                if (*p == ',') p++;
            }
            ok = ok && *p++ == close;
        } else if (*p == '"') {
            at[path.substr(0, path.size() - 1)] = string();
        } else {
            const char* start = p;
            while (*p != ',' && *p != '}' && *p != ']' && *p != '\0' && *p != '\n')
                p++;
            at[path.substr(0, path.size() - 1)] = std::string(start, p);
            ok = ok && p > start;
        }
    }
    std::string get(const std::string& key) const {
        auto found = at.find(key);
        return found == at.end() ? "<none>" : found->second;
    }
};

// The signature as the checker reports it, in the words of the `signature`
// directive: "required valid publickey2 39".
std::string signature_report(const Json& json) {
    if (json.get("signature") == "null") return "<not looked at>";
    std::string out = json.get("signature.required") == "true" ? "required" : "not-required";
    out += " " + json.get("signature.verdict");
    if (json.get("signature.key") != "null") out += " " + json.get("signature.key");
    if (json.get("signature.signed_bytes") != "null")
        out += " " + json.get("signature.signed_bytes");
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
    Json json;
    json.p = text.c_str();
    json.value("");
    json.skip();
    if (!json.ok || *json.p != '\0') return out->push_back("not JSON: " + text);

    std::vector<std::string>& failures = *out;
    bool started = json.get("outcome") == "start";
    int wanted_status = started ? 0 : 1;
    if (!WIFEXITED(status) || (WEXITSTATUS(status) != wanted_status && WEXITSTATUS(status) != 2))
        failures.push_back("exit status " + std::to_string(status));
    std::string boxes;
    for (int i = 0; json.at.count("boxes." + std::to_string(i) + ".caption"); i++)
        boxes += json.get("boxes." + std::to_string(i) + ".caption") + ": " +
                 json.get("boxes." + std::to_string(i) + ".text") + "\n";
    expect(&failures, "boxes", boxes, e.boxes);
    expect(&failures, "started", started ? json.get("start.command_line") : "<nothing>",
           e.starts ? e.start : "<nothing>");
    if (started) {
        std::string directory = json.get("start.directory");
        expect(&failures, "folder", directory == "null" ? "" : directory, e.cwd);
    }
    expect(&failures, "append", json.get("append.text"), e.appends ? masked(e.append) : "<none>");
    for (const Case::Item& field : e.fields) {
        if (field.first == "password")
            expect(&failures, "password length", json.get("fields.password.length"),
                   std::to_string(field.value.size()));
        else
            expect(&failures, "field " + field.first, json.get("fields." + field.first + ".value"),
                   field.value);
    }
    if (c.has("signature"))
        expect(&failures, "signature", signature_report(json), expand(c.get("signature"), places));
}
