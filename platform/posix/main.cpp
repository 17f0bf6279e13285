// The POSIX program: no window; the arguments, joined by single blanks, are
// the argument text, as Windows would hand it over.
#include "launch/entry.h"
#include "platform/terminal_set.h"

#include <stdlib.h>
#include <string.h>

__attribute__((used)) static const char VERSION[] = LAUNCHER_VERSION_MARK LAUNCHER_VERSION;

int main(int argc, char** argv) {
    platform_hold_standard_streams();
    size_t size = 1;
    for (int i = 1; i < argc; i++)
        size += strlen(argv[i]) + 1;
    char* arguments = (char*)malloc(size);
    if (arguments == nullptr) {
        // Without the text there is no file to read: said as for any such.
        launch_from_argument_text(nullptr, "");
        return 0;
    }
    char* end = arguments;
    for (int i = 1; i < argc; i++) {
        if (i > 1) *end++ = ' ';
        size_t length = strlen(argv[i]);
        memcpy(end, argv[i], length);
        end += length;
    }
    *end = '\0';
    // Text too long for the launch path buffer is refused there, never cut.
    launch_from_argument_text(nullptr, arguments);
    free(arguments);
    return 0;
}
