// talvin-check: tells what the launcher would do with a launch file, and
// why, changing nothing. Exit status 0: the product would be started; 1: the
// launcher would show a failure; 2: nothing could be checked.
#include "check/check_run.h"
#include "check/check_setup.h"
#include "check/terminal_text.h"
#include "platform/terminal_set.h"

#include <stdio.h>
#include <string.h>

namespace {

const char USAGE[] = "usage: talvin-check [--settings FILE] [--json] LAUNCH_FILE|LINK\n"
                     "       talvin-check --setup [--json]\n"
                     "       talvin-check --version\n";

} // namespace

int main(int argc, char** argv) {
    platform_hold_standard_streams();
    static CheckRun run;
    bool json = false, setup = false;
    int settings_at = 0;
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; i++) {
        if (strcmp(argv[i], "--") == 0) {
            i++;
            break;
        } else if (strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (strcmp(argv[i], "--setup") == 0) {
            setup = true;
        } else if (strcmp(argv[i], "--settings") == 0 && i + 1 < argc) {
            run.settings_option = argv[settings_at = ++i];
        } else if (strcmp(argv[i], "--help") == 0) {
            fputs(USAGE, stdout);
            return terminal_output_written("talvin-check") ? 0 : 2;
        } else if (strcmp(argv[i], "--version") == 0 && argc == 2) {
            puts("talvin-check " LAUNCHER_VERSION);
            return terminal_output_written("talvin-check") ? 0 : 2;
        } else {
            fputs(USAGE, stderr);
            return 2;
        }
    }
    if (setup) {
        if (i != argc || settings_at != 0) {
            fputs(USAGE, stderr);
            return 2;
        }
        static SetupCheck check;
        check_setup(&check);
        if (json)
            check_print_setup_json(&check);
        else
            check_print_setup_text(&check);
        return check.reaches_product && terminal_output_written("talvin-check") ? 0 : 1;
    }
    if (i + 1 != argc) {
        fputs(USAGE, stderr);
        return 2;
    }
    run.argument = check_argument(i, argv[i], run.argument_text, sizeof run.argument_text,
                                  run.argument_note, sizeof run.argument_note);
    if (run.settings_option != nullptr) {
        static char settings[CHECK_PATH_CAP];
        char note[CHECK_WHY_CAP];
        run.settings_option = check_argument(settings_at, run.settings_option, settings,
                                             sizeof settings, note, sizeof note);
        if (run.settings_option[0] == '\0' && note[0] != '\0') {
            terminal_printf(stderr, "talvin-check: %s: %s\n", argv[settings_at], note);
            return 2;
        }
    }
    check_run(&run);
    if (json)
        check_print_json(&run);
    else
        check_print_text(&run);
    check_end(&run);
    // A report cut short is no report: it says nothing was checked.
    if (run.could_not_read || !terminal_output_written("talvin-check")) return 2;
    return run.would_start ? 0 : run.cannot_tell ? 3 : 1;
}
