// Who else could change a file, on Windows: left to the file's access list,
// which the launcher does not judge (docs/decisions.md says what holds).
#include "platform/platform.h"

platform_file platform_open_settings_file(const char* path, char* why, unsigned why_capacity) {
    if (why != nullptr && why_capacity > 0) why[0] = '\0';
    return platform_open_for_reading(path);
}

int platform_others_could_change(platform_file, const char*, unsigned, char* why,
                                 unsigned why_capacity) {
    if (why != nullptr && why_capacity > 0) why[0] = '\0';
    return 0;
}
