#include "signing.h"

#include "case_tree.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

namespace {

std::string key_folder;

void remove_keys() {
    std::error_code ignored;
    std::filesystem::remove_all(key_folder, ignored);
}

// What `command` writes on its standard output; the run stops when it fails.
std::string output_of(const std::string& command) {
    // From the root: the runner may stand in a folder already removed.
    if (chdir("/") != 0) abort();
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char chunk[256];
    size_t n;
    while (pipe != nullptr && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        out.append(chunk, n);
    if (pipe == nullptr || pclose(pipe) != 0 || out.empty()) {
        fprintf(stderr, "failed: %s\n", command.c_str());
        exit(2);
    }
    return out;
}

// The private key file of test key `name` (a, b or c).
std::string key_file(const std::string& name) {
    if (key_folder.empty()) {
        char folder[] = "/tmp/lc-keys-XXXXXX";
        if (mkdtemp(folder) == nullptr) abort();
        key_folder = folder;
        atexit(remove_keys);
        for (const char* key : {"a", "b", "c"})
            output_of("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out " +
                      key_folder + "/" + key + ".pem && echo made");
    }
    return key_folder + "/" + name + ".pem";
}

} // namespace

std::string with_test_keys(const std::string& text) {
    static std::string public_keys[3];
    std::string out = text;
    for (int key = 0; key < 3; key++) {
        std::string placeholder = std::string("$KEY_") + (char)('A' + key);
        for (size_t at; (at = out.find(placeholder)) != std::string::npos;) {
            std::string& value = public_keys[key];
            if (value.empty())
                value =
                    output_of("openssl pkey -in " + key_file(std::string(1, (char)('a' + key))) +
                              " -pubout -outform DER | base64 -w0");
            out.replace(at, placeholder.size(), value);
        }
    }
    return out;
}

std::string signed_launch(const std::string& launch, const Case& c, const Places& names) {
    const Case::Item* sign = nullptr;
    for (const Case::Item& item : c.many)
        if (item.directive == "sign") sign = &item;
    if (sign == nullptr) return launch;
    size_t at = launch.find("$SIGNATURE");
    std::string before = launch.substr(0, at);
    std::string after = at == std::string::npos ? "" : launch.substr(at + 10);
    std::string bytes = sign->value.empty() ? before : expand(sign->value, names);
    std::string pem = key_file(sign->first);
    write_file(key_folder + "/message", bytes);
    // DER signatures of 70 to 72 bytes are 96 characters; a shorter one is
    // made again, so that the size of a signed file is known.
    std::string signature;
    while (signature.size() != 96)
        signature = output_of("openssl dgst -sha256 -sign " + pem + " " + key_folder +
                              "/message | base64 -w0");
    return before + "[signature]\r\necdsa=" + signature + "\r\n" + after;
}
