#include "signing.h"

#include "tests/support/p256.h"

namespace {

// Test key `name` (a, b or c), made on first use.
EVP_PKEY* test_key(const std::string& name) {
    static EVP_PKEY* keys[3];
    if (name.size() != 1 || name[0] < 'a' || name[0] > 'c') abort();
    EVP_PKEY*& key = keys[name[0] - 'a'];
    if (key == nullptr) key = p256_new_key();
    return key;
}

} // namespace

std::string with_test_keys(const std::string& text) {
    std::string out = text;
    for (const char* name : {"a", "b", "c"}) {
        std::string placeholder = std::string("$KEY_") + (char)(name[0] - 'a' + 'A');
        for (size_t at; (at = out.find(placeholder)) != std::string::npos;)
            out.replace(at, placeholder.size(), p256_public_text(test_key(name)));
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
    // DER signatures of 70 to 72 bytes are 96 characters; a shorter one is
    // made again, so that the size of a signed file is known.
    std::string signature;
    while (signature.size() != 96)
        signature = p256_sign(test_key(sign->first), bytes);
    return before + "[signature]\r\necdsa=" + signature + "\r\n" + after;
}
