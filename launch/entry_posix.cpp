// The POSIX program: no window; the arguments, joined by single blanks, are
// the argument text.
#include "launch/entry.h"
#include "launch/launch_sequence.h"

#include <string.h>

int main(int argc, char** argv) {
    char arguments[LAUNCH_PATH_CAP + 1] = "";
    size_t used = 0;
    for (int i = 1; i < argc; i++) {
        size_t length = strlen(argv[i]) + (i > 1 ? 1 : 0);
        if (used + length >= sizeof arguments) {
            // Longer than any launch path: refused whole below, never cut.
            memset(arguments, 'x', sizeof arguments - 1);
            arguments[sizeof arguments - 1] = '\0';
            break;
        }
        if (i > 1) arguments[used++] = ' ';
        memcpy(arguments + used, argv[i], strlen(argv[i]) + 1);
        used += strlen(argv[i]);
    }
    launch_from_argument_text(nullptr, arguments);
    return 0;
}
