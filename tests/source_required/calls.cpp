// Every reader of key lines names where they come from: a call that leaves
// the source out must not compile, since the downloaded launch file may not
// choose the program. Compiled with CALL=0 (all calls name it: compiles) and
// with CALL=1..3 (that call leaves it out: must fail).
#include "launch_files/section_reader.h"

void read_key_lines(TextStream* stream) {
#if CALL == 1
    apply_setting("p", "command", "x", "x");
#elif CALL == 2
    parse_section_body("p", stream);
#elif CALL == 3
    parse_section_file(nullptr, "talvin.ini");
#else
    apply_setting("p", "command", "x", "x", SOURCE_LAUNCH_FILE);
    parse_section_body("p", stream, SOURCE_LAUNCH_FILE);
    parse_section_file(nullptr, "talvin.ini", SOURCE_SETTINGS_FILE);
#endif
}
