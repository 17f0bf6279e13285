// The terminal's character set on POSIX: the locale's (LC_ALL, LC_CTYPE,
// LANG), decoded by the C library. The locale is taken only for each
// question and given back at once: nothing else in the tools reads text by
// the locale. (A locale object of its own, newlocale, leaks in the C library
// when LOCPATH names the locale.)
#include "platform/terminal_set.h"

#include <errno.h>
#include <fcntl.h>
#include <langinfo.h>
#include <limits.h>
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <wchar.h>

namespace {

enum Set { SET_UNKNOWN, SET_UTF8, SET_LOCALE, SET_ASCII };
Set terminal_set = SET_UNKNOWN;

// Takes the person's LC_CTYPE; false when this system lacks it. Given back
// with give_back_locale.
char given_locale[256];
bool take_locale() {
    const char* given = setlocale(LC_CTYPE, nullptr);
    snprintf(given_locale, sizeof given_locale, "%s", given != nullptr ? given : "C");
    return setlocale(LC_CTYPE, "") != nullptr;
}
void give_back_locale() {
    setlocale(LC_CTYPE, given_locale);
}

Set asked_set() {
    if (terminal_set != SET_UNKNOWN) return terminal_set;
    bool known = take_locale();
    bool utf8 = known && strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
    give_back_locale();
    if (known) return terminal_set = utf8 ? SET_UTF8 : SET_LOCALE;
    // A locale this system lacks: its name still tells a UTF-8 terminal.
    // Any other set is unknown here: only ASCII is taken as characters.
    static const char* const VARIABLES[] = {"LC_ALL", "LC_CTYPE", "LANG"};
    const char* name = nullptr;
    for (const char* variable : VARIABLES)
        if (name == nullptr || name[0] == '\0') name = getenv(variable);
    bool named = name != nullptr && (strcasestr(name, "utf-8") || strcasestr(name, "utf8"));
    return terminal_set = named ? SET_UTF8 : SET_ASCII;
}

} // namespace

int platform_terminal_is_utf8(void) {
    return asked_set() == SET_UTF8 ? 1 : 0;
}

void platform_hold_standard_streams(void) {
    // The lowest free number is given: in turn, each missing one is taken.
    for (int fd = 0; fd <= 2; fd++)
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF)
            open("/dev/null", (fd == 0 ? O_WRONLY : O_RDONLY) | O_CLOEXEC);
}

int platform_output_is_terminal(void) {
    return isatty(1);
}

unsigned platform_terminal_decode(const unsigned char* text, uint32_t* code) {
    *code = TERMINAL_NO_CHARACTER;
    if (asked_set() != SET_LOCALE) {
        if (*text < 0x80) *code = *text;
        return 1;
    }
    // At most one character's bytes, and none past the string's end.
    size_t available = strnlen((const char*)text, MB_LEN_MAX);
    mbstate_t state;
    memset(&state, 0, sizeof state);
    wchar_t wide = 0;
    take_locale();
    size_t length = mbrtowc(&wide, (const char*)text, available, &state);
    give_back_locale();
    if (length == 0 || length > available) return 1; // no character (or cut short)
    *code = (uint32_t)wide;
    return (unsigned)length;
}
