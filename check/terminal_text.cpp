#include "check/terminal_text.h"

#include "platform/terminal_set.h"

#include <errno.h>
#include <string.h>

unsigned utf8_sequence(const unsigned char* p, uint32_t* code) {
    unsigned length = *p < 0x80                  ? 1
                      : *p >= 0xC2 && *p <= 0xDF ? 2
                      : *p >= 0xE0 && *p <= 0xEF ? 3
                      : *p >= 0xF0 && *p <= 0xF4 ? 4
                                                 : 0;
    uint32_t value = length == 1 ? *p : *p & (0x7F >> length);
    for (unsigned i = 1; i < length; i++) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        value = value << 6 | (p[i] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are no characters.
    static const uint32_t LEAST[] = {0, 0, 0x80, 0x800, 0x10000};
    if (length == 0 || value < LEAST[length] || (value >= 0xD800 && value <= 0xDFFF) ||
        value > 0x10FFFF)
        return 0;
    *code = value;
    return length;
}

bool is_control_code(uint32_t code) {
    // A set that decodes a stray byte to a surrogate keeps it no character.
    return code < 0x20 || (code >= 0x7F && code <= 0x9F) || (code >= 0xD800 && code <= 0xDFFF) ||
           code == TERMINAL_NO_CHARACTER;
}

unsigned terminal_put_character(FILE* out, const unsigned char* p) {
    uint32_t code = *p;
    unsigned length = 1;
    if (*p >= 0x80 && platform_terminal_is_utf8()) {
        length = utf8_sequence(p, &code);
        if (length == 0) code = TERMINAL_NO_CHARACTER, length = 1;
    } else if (*p >= 0x80) {
        length = platform_terminal_decode(p, &code);
    }
    bool control = is_control_code(code);
    for (unsigned i = 0; i < length; i++) {
        if (control)
            fprintf(out, "\\x%02X", p[i]);
        else
            putc(p[i], out);
    }
    return length;
}

void terminal_put(FILE* out, const char* text) {
    for (const unsigned char* p = (const unsigned char*)text; *p != '\0';)
        p += terminal_put_character(out, p);
}

void terminal_vprintf(FILE* out, const char* format, va_list args) {
    for (const char* f = format; *f != '\0'; f++) {
        if (*f != '%') {
            putc(*f, out);
            continue;
        }
        switch (*++f) {
        case 's':
            terminal_put(out, va_arg(args, const char*));
            break;
        case 'u':
            fprintf(out, "%u", va_arg(args, unsigned));
            break;
        case 'd':
            fprintf(out, "%d", va_arg(args, int));
            break;
        case 'o':
            fprintf(out, "%o", va_arg(args, unsigned));
            break;
        default:
            putc(*f, out);
        }
    }
}

void terminal_printf(FILE* out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    terminal_vprintf(out, format, args);
    va_end(args);
}

bool terminal_output_written(const char* program) {
    if (fflush(stdout) == 0 && ferror(stdout) == 0) return true;
    int error = errno;
    fprintf(stderr, "%s: the report could not be written to standard output: %s\n", program,
            strerror(error != 0 ? error : EIO));
    return false;
}
