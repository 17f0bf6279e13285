// talvin-check --setup: the whole setup of the user who runs it, for
// support when a click does nothing. Which program the desktop opens launch
// files and talvin: links with, whether that is this launcher, the settings
// files as the launcher would take them, and on POSIX the box program.
#pragma once

#include "check/check_report.h"

enum {
    SETUP_LAUNCH_FILES = 0,
    SETUP_LINKS = 1,
    SETUP_HANDLER_KINDS = 2,
    SETUP_SETTINGS_CAP = 2, // the system folder's, then the user's own
    SETUP_TEXT_CAP = 600,
};

// What the desktop does with one kind of click.
struct SetupHandler {
    const char* type;              // the MIME type or scheme looked up
    char handler[CHECK_PATH_CAP];  // its desktop entry or ProgID; empty: none
    char found_in[CHECK_PATH_CAP]; // the file or key that chose it
    char program[CHECK_PATH_CAP];  // the program the click starts; empty: unknown
    char problem[SETUP_TEXT_CAP];  // why no program is known; empty when one is
    int is_launcher;               // the program carries this launcher's version
    char version[64];
};

struct SetupSettingsFile {
    char path[CHECK_PATH_CAP];
    const char* state;        // "read", "absent" or "refused"
    char why[SETUP_TEXT_CAP]; // why it is refused; empty otherwise
};

struct SetupCheck {
    char user[256];
    SetupHandler handlers[SETUP_HANDLER_KINDS];
    SetupSettingsFile settings[SETUP_SETTINGS_CAP];
    unsigned settings_count;
    int boxes_asked;                  // the system shows boxes through a program (POSIX)
    char box_program[CHECK_PATH_CAP]; // the one found; empty: none
    const char* box_package;          // what to install when none is found
    int reaches_product;              // a click would reach a product
    char verdict[4 * SETUP_TEXT_CAP];
};

// Fills `setup`; returns 1 when a click would reach a product.
int check_setup(SetupCheck* setup);
void check_print_setup_text(const SetupCheck* setup);
void check_print_setup_json(const SetupCheck* setup);

// The operating system's part (platform/*/check_setup.cpp).

// The name of the user who runs the check.
void check_user_name(char* dest, unsigned capacity);

// The handler of clicks of `kind` (SETUP_LAUNCH_FILES, SETUP_LINKS) as the
// desktop resolves it: sets type, handler, found_in, and program or problem.
void check_find_handler(int kind, SetupHandler* handler);

// 1 when the file at `program` is this launcher; its version into `version`.
int check_launcher_version(const char* program, char* version, unsigned capacity);

// 1 when the file at `path` is there (whatever may be done with it).
int check_path_exists(const char* path);

// Where boxes are shown by a program of their own (POSIX): 1, and the first
// the launcher would use into `dest` (emptied when there is none) and the
// package that provides one into `*package`; 0 where the system shows them.
int check_box_program(char* dest, unsigned capacity, const char** package);
