// The record of settings that both section files fill, and the table that
// says which section and key fill which field.
#pragma once

#include <stdint.h>

enum {
    SETTING_WORD_CAP = 80,    // app, product, server, wndclass, ...
    SETTING_TEXT_CAP = 256,   // missing, title
    SETTING_SECRET_CAP = 256, // password, email
    PUBLIC_KEY_SLOTS = 4,     // publickey1 to publickey4
    PUBLIC_KEY_CAP = 128,     // one key's text, 124 characters and room
};

struct LaunchSettings {
    char app[SETTING_WORD_CAP];
    char product[SETTING_WORD_CAP];
    char server[SETTING_WORD_CAP];
    char missing[SETTING_TEXT_CAP];
    char title[SETTING_TEXT_CAP];
    char wndclass[SETTING_WORD_CAP];
    char closeotherapps[SETTING_WORD_CAP];
    char wndname[SETTING_WORD_CAP];
    char path[SETTING_WORD_CAP];
    char command[SETTING_WORD_CAP];
    char user[SETTING_WORD_CAP];
    char password[SETTING_SECRET_CAP];
    char email[SETTING_SECRET_CAP];
    int32_t send_identification;
    int32_t passlaunch;
    int command_found;
    // The publisher's keys the product section of the settings file named,
    // and whether it named any: then only launch files signed by one of them
    // are used. Set by the settings file only, never cleared.
    char public_key[PUBLIC_KEY_SLOTS][PUBLIC_KEY_CAP];
    int signature_required;
    // The last `path` of the settings file did not fit: the product's
    // directory is unknown, so the product counts as not installed.
    int path_too_long;
};

// The record's named fields in its order, for code that goes through them by
// name (the checker's report, the tests): F(NAME) for each.
// clang-format off
#define LAUNCH_SETTINGS_TEXT_FIELDS(F) \
    F(app) F(product) F(server) F(missing) F(title) F(wndclass) F(closeotherapps) F(wndname) \
    F(path) F(command) F(user) F(password) F(email)
// clang-format on
#define LAUNCH_SETTINGS_NUMBER_FIELDS(F) F(send_identification) F(passlaunch) F(command_found)

// The process-wide record. It starts with its initial values and is never
// reset by the launcher.
extern LaunchSettings launch_settings;

// Which file a key line comes from. The launch file is downloaded, so it may
// not choose the program that runs or its directory. Every caller names the
// source: there is no default to forget.
enum SettingSource { SOURCE_LAUNCH_FILE, SOURCE_SETTINGS_FILE };

// Applies one key line of `section` to the record. A value that does not fit
// its field leaves the field as it was. Never fails, never reports.
void apply_setting(const char* section, const char* key, const char* first_word,
                   const char* full_text, SettingSource source);

// 1 when no key line of `section` can change the record as it now stands:
// the section is neither `launch`, nor the product section named by `app`,
// nor `identification`. Only a key line of a `launch` section changes `app`,
// so this holds for the whole of such a section's body.
int section_is_ignored(const char* section);

// Puts the record back to its initial values, as at process start. Only
// tests need this: each launcher process fills the record once.
void launch_settings_init(void);

// 1 when `a` and `b` are equal, ignoring case for the letters A to Z only.
int names_equal(const char* a, const char* b);
