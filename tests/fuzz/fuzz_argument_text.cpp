// Fuzz target: the entry point's rule that finds the argument text in a
// process command line, with and without double-byte lead bytes.
#include "launch/entry.h"
#include "platform/fake.h"

#include "tests/fuzz/fuzz_check.h"

namespace {

// A code page whose lead bytes cover most of the upper half, so trail bytes
// that look like quotes or blanks are met often.
std::string double_byte_leads() {
    std::string leads;
    for (int b = 0x81; b <= 0xFE; b++)
        leads += (char)b;
    return leads;
}

const char* check_one(const char* line) {
    size_t length = strlen(line);
    const char* args = argument_text(line);
    check(args >= line && args <= line + length, "argument text lies within the line");
    check(strlen(args) <= length, "argument text never longer than its input");
    check(args[0] == '\0' || (unsigned char)args[0] > ' ', "no leading blank or control byte");
    return args;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly as long as the text, so a read past its end is caught.
    char* line = input_line(data, size);

    fake::lead_bytes.clear();
    const char* args = check_one(line);
    // Without lead bytes the program name ends at the first blank or control
    // byte, or just after its closing quote.
    const char* p = line;
    if (*p == '"') {
        const char* close = strchr(p + 1, '"');
        p = close != nullptr ? close + 1 : p + strlen(p);
    } else {
        while ((unsigned char)*p > ' ')
            p++;
    }
    while (*p != '\0' && (unsigned char)*p <= ' ')
        p++;
    check(args == p, "argument text follows the program name");

    static const std::string leads = double_byte_leads();
    fake::lead_bytes = leads;
    check_one(line);
    fake::lead_bytes.clear();

    free(line);
    return 0;
}
