// One check: the launcher's own entry and launch sequence run over the
// checking face, then each box explained.
#pragma once

#include "check/check_report.h"
#include "launch_files/launch_signature.h"
#include "check/check_face.h"
#include "launch/launch_link.h"
#include "launch/launch_sequence.h"

enum { CHECK_WHY_CAP = 600 };

struct CheckRun {
    const char* argument; // LAUNCH_FILE as the launcher's argument text (check_argument)
    char argument_note[CHECK_WHY_CAP]; // why that is not the text given; empty when it is
    char argument_text[LAUNCH_PATH_CAP];
    const char* settings_option; // the file given with --settings, or null
    char settings_reason[CHECK_WHY_CAP];
    char box_why[CHECK_BOXES_CAP][CHECK_WHY_CAP];
    int would_start;    // the product would be started
    int cannot_tell;    // the start would be tried; whether it succeeds cannot be told
    int could_not_read; // a file named on the command line cannot be read
    // The launch file's signature, looked at whether or not the product
    // requires one; only when the launch file was read.
    int signature_checked;
    SignatureCheck signature;
    int is_link;         // the argument is a talvin: link
    DecodedLink decoded; // what it decodes to
};

// Runs the check of `run->argument` and fills `run`, check_record and
// check_report.
void check_run(CheckRun* run);

// Removes what the check wrote for itself (a link's scratch copy).
void check_end(const CheckRun* run);

// Prints the result as text or as one JSON object on standard output.
void check_print_text(const CheckRun* run);
void check_print_json(const CheckRun* run);

// The text report's and the JSON's escapes, for other reports: check_put
// prints as printf of %s, %u, %d and %% only, each %s with its control
// characters as \xHH (check/terminal_text.h); check_put_json prints a JSON
// string, or null for a null text.
void check_put(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
void check_put_json(const char* text);
