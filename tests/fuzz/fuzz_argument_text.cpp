// Fuzz target: the entry point's rule that finds the argument text in a
// process command line, with and without double-byte lead bytes.
#include "launch/entry.h"
#include "platform/fake/fake_platform.h"

#include "tests/fuzz/fuzz_check.h"

#include <numeric>

namespace {

void check_one(const char* line) {
    size_t length = strlen(line);
    const char* args = argument_text(line);
    check(args >= line && args <= line + length, "argument text lies within the line");
    check(strlen(args) <= length, "argument text never longer than its input");
    check(args[0] == '\0' || (unsigned char)args[0] > ' ', "no leading blank or control byte");
    check(args[0] == '\0' || (args > line && ((unsigned char)args[-1] <= ' ' || args[-1] == '"')),
          "argument text follows a blank or the program name's closing quote");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char* line = input_line(data, size);

    fake::lead_bytes.clear();
    check_one(line);
    // A code page whose lead bytes, 81 to FE, cover most of the upper half, so
    // trail bytes that look like quotes or blanks are met often.
    fake::lead_bytes.resize(0xFE - 0x80);
    std::iota(fake::lead_bytes.begin(), fake::lead_bytes.end(), (char)0x81);
    check_one(line);
    fake::lead_bytes.clear();

    free(line);
    return 0;
}
