// Launch cases as data: the parser of tests/cases/*.cases files (the format
// is in docs/testing.md, "How a case file reads").
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

struct Case {
    std::string name;
    std::string where; // "FILE:LINE" of its `case` line
    // launch, ini, args, start, cwd, append, only, name, signature: escapes decoded, places not
    // yet expanded; absent when not given.
    std::map<std::string, std::string> one;
    // file, env, mode, fake, box, setenv, field, arg, special, says, whole,
    // option, wrote, link, gone, age, in order. Two-part directives (all but env, box, arg, says,
    // whole, option, link and gone) keep the part before
    // the first blank in `first`.
    struct Item {
        std::string directive, first, value;
    };
    std::vector<Item> many;
    // Played as a link: the `link` template the launch file's bytes go into.
    std::string as_link;

    bool has(const std::string& directive) const { return one.count(directive) != 0; }
    const std::string& get(const std::string& directive) const { return one.at(directive); }
    // 1 when this case is played by `runner` ("fake", "posix", "wine", "check").
    bool runs_on(const std::string& runner) const;
};

// `in` with its escapes (\n \r \t \0 \\ \" \xHH \{N:TEXT}) decoded into `out`.
bool unescape(const std::string& in, std::string* out, std::string* error);

// The places a case's values name, already in the form the runner uses.
struct Places {
    std::string dir, launch, dl, win, product, prod;
    std::string short_launch; // $SHORT: the launch file's short form (POSIX: $LAUNCH)
};

// `text` with every placeholder replaced by its place.
std::string expand(const std::string& text, const Places& places);

// What a case expects of a launch, and what it gives the launcher, with its
// places filled in.
struct Expected {
    std::string boxes;                        // "CAPTION: TEXT\n" for each box, in order
    bool starts = false, appends = false;     // a `start`, an `append` is named
    std::string start, cwd, append, setenv;   // cwd: "" when not named; setenv: "NAME=VALUE\n"
    std::vector<Case::Item> fields;           // `field NAME VALUE`, values expanded
    std::vector<std::string> env;             // `env NAME=VALUE` or `env NAME`
    std::vector<std::string> args;            // the launcher's process arguments
    std::vector<std::string> says;            // lines of talvin-check's text report, in order
    std::vector<std::string> wholes;          // files holding a whole report (.json: the JSON)
    std::vector<std::string> options;         // talvin-check's options before the launch file
    std::map<std::string, std::string> wrote; // a file under $DIR and the bytes it must end with
    std::vector<std::string> gone;            // `gone PATH`: files the launcher removes
};
Expected expected_of(const Case& c, const Places& places);

// The argument text the launcher makes of its process arguments: joined by blanks.
std::string argument_text(const Expected& e);

// Plays every case of `files` meant for `runner` (play_case in case_tree.h);
// prints the failures and returns the exit status.
int play_case_files(const char* runner, int count, char** files);
