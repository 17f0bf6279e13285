// Fuzz target: arbitrary bytes as a signed launch file, checked against a
// product that names one key. A line "ecdsa=?" gets a real signature by that
// key over the bytes before the first "[signature]", made here by libcrypto,
// so that accepted files are reached too. What must hold: a file is accepted
// only when libcrypto's own verification accepts the signature over the
// bytes said to be signed, and nothing after them changes what the reader
// makes of the file but the identification.
#include "launch_files/launch_settings.h"
#include "launch_files/launch_signature.h"
#include "launch_files/section_reader.h"
#include "platform/fake/fake_platform.h"

#include "tests/fuzz/fuzz_check.h"
#include "tests/support/p256.h"

namespace {

std::string directory, whole_path, signed_path;
EVP_PKEY* key;
std::string public_key_text;

// libcrypto's verdict on the base64 signature `text` over `message`.
bool libcrypto_accepts(const std::string& message, const std::string& text) {
    unsigned char der[3 * (SIGNATURE_TEXT_MAX / 4) + 3];
    if (text.size() > SIGNATURE_TEXT_MAX) return false;
    int size = EVP_DecodeBlock(der, (const unsigned char*)text.data(), (int)text.size());
    if (size < 0) return false;
    for (size_t i = text.size(); i > 0 && text[i - 1] == '='; i--)
        size--;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    bool accepted = EVP_DigestVerifyInit(context, nullptr, EVP_sha256(), nullptr, key) == 1 &&
                    EVP_DigestVerify(context, der, (size_t)size,
                                     (const unsigned char*)message.data(), message.size()) == 1;
    EVP_MD_CTX_free(context);
    return accepted;
}

// The record the reader makes of the file at `path`, but the identification.
LaunchSettings read_launch_file(const std::string& path) {
    launch_settings_init();
    parse_section_file(nullptr, path.c_str(), SOURCE_LAUNCH_FILE);
    LaunchSettings s = launch_settings;
    memset(s.user, 0, sizeof s.user);
    memset(s.password, 0, sizeof s.password);
    memset(s.email, 0, sizeof s.email);
    return s;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    directory = fuzz_directory();
    whole_path = directory + "/whole.tvl";
    signed_path = directory + "/signed.tvl";
    key = p256_new_key();
    public_key_text = p256_public_text(key);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string file((const char*)data, size);
    size_t marker = file.find("ecdsa=?");
    if (marker != std::string::npos)
        file.replace(marker + 6, 1, p256_sign(key, file.substr(0, file.find("[signature]"))));
    write_bytes(whole_path, file);

    fake::reset();
    launch_settings_init();
    memcpy(launch_settings.public_key[1], public_key_text.c_str(), public_key_text.size() + 1);
    SignatureCheck result = check_launch_signature(whole_path.c_str());
    check(fake::memory_outstanding == 0, "the file's buffer given back");
    // The launcher's own way: the bytes kept as the reader reads them, in
    // chunks that cut lines, and those after a Ctrl-Z read on.
    SignatureKeeper keeper = {};
    platform_file held;
    check(parse_section_file(nullptr, whole_path.c_str(), SOURCE_LAUNCH_FILE, &held, &keeper) == 1,
          "the file read");
    keep_rest(&keeper, held);
    platform_close(held);
    SignatureCheck kept = check_kept_signature(&keeper);
    check(kept.verdict == result.verdict && kept.signed_size == result.signed_size &&
              kept.key == result.key,
          "the bytes the reader kept give the verdict of the whole file");
    if (result.verdict != SIGNATURE_VALID && result.verdict != SIGNATURE_NO_MATCH) return 0;

    size_t at = result.signed_size;
    check(at < file.size() && (at == 0 || file[at - 1] == '\n'), "signed part ends a line");
    check(file.compare(at, 11, "[signature]") == 0, "the section follows the signed part");
    size_t text = file.find("ecdsa=", at) + 6;
    size_t end = text;
    while (end < file.size() && file[end] != '\r' && file[end] != '\n')
        end++;
    bool accepted = libcrypto_accepts(file.substr(0, at), file.substr(text, end - text));
    check(accepted == (result.verdict == SIGNATURE_VALID), "the verdict is libcrypto's");
    if (!accepted) return 0;
    check(result.key == 2, "made by the key named");

    write_bytes(signed_path, file.substr(0, at));
    LaunchSettings whole = read_launch_file(whole_path);
    LaunchSettings signed_part = read_launch_file(signed_path);
    check(memcmp(&whole, &signed_part, sizeof whole) == 0,
          "nothing after the signed part counts but the identification");
    return 0;
}
