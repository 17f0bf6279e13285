// Writes one generated settings file: make_settings_file KIND MEGABYTES PATH,
// KIND being realistic, long_lines, short_lines, one_section or bad_headers.
#include "settings_files.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: make_settings_file KIND MEGABYTES PATH\n");
        return 2;
    }
    for (FileKind kind : FILE_KINDS) {
        if (strcmp(argv[1], kind_name(kind)) != 0) continue;
        size_t bytes = (size_t)(atof(argv[2]) * 1000 * 1000);
        return write_settings_file(kind, bytes, argv[3]) ? 0 : 1;
    }
    fprintf(stderr, "unknown kind %s\n", argv[1]);
    return 2;
}
