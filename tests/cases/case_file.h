// Launch cases as data (the format is in docs/testing.md, "How a case file
// reads"), and the one play that every runner shares.
#pragma once

#include <map>
#include <string>
#include <vector>

struct Case {
    std::string name;
    std::string where; // "FILE:LINE" of its `case` line
    // Values with escapes decoded, places not yet filled in: single-valued
    // directives by name (absent when not given), the others in order, a
    // two-part one with its part before the first blank in `first`.
    std::map<std::string, std::string> one;
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
// The argument text the launcher makes of its process arguments: joined by blanks.
std::string argument_text(const Expected& e);

// A case's files, really written in a fresh folder, and the check of what a
// run changed in them.
class CaseTree {
  public:
    // A fresh folder under /tmp (short, so that paths fit the settings
    // fields); `places` holds its places as seen from inside.
    CaseTree();
    ~CaseTree();
    CaseTree(const CaseTree&) = delete;
    CaseTree& operator=(const CaseTree&) = delete;

    const std::string& root() const { return root_; }
    // Writes the case's files with its values expanded by `names`
    // (talvin.ini at `ini_path`, by default $WIN/talvin.ini), makes its
    // special files, owners and modes, and notes every file. False on a bad
    // case; `error` then starts with "SKIP " when this runner cannot make
    // the case (an owner it may not give).
    bool build(const Case& c, const Places& names, std::string ini_path, std::string* error);
    // Adds to `failures` every change but the expected append to the launch
    // file and the files the case's programs write (`wrote`); when played as a link and `keeps`
    // (the program is the launcher), `stored` is the file it wrote (its folder and mode as the
    // launcher makes them), empty when none.
    void check(const Expected& e, std::vector<std::string>* failures,
               const std::string& stored = "", bool keeps = true) const;
    // Played as a link: its text (`link` with $BASE64, $PADDED and $PCT, the
    // launch file's bytes in base64url unpadded, padded with = or with %3D),
    // and the launch file's bytes, which are not written to $LAUNCH.
    const std::string& link_text() const { return link_text_; }
    const std::string& link_bytes() const { return link_bytes_; }
    // The one file the launcher wrote in $DIR/run/talvin ($XDG_RUNTIME_DIR
    // is $DIR/run), or "" when there is none or more than one.
    std::string stored_file() const;
    // Changes the launch file as another account that may change its folder
    // could: `gone` removes it, `new` puts a new file of the same bytes in its
    // place, an absolute path a symbolic link to that path. check() counts
    // the change as the case's own.
    bool replace_launch(const std::string& how);

  private:
    std::map<std::string, std::string> snapshot() const;
    std::string root_;
    std::map<std::string, std::string> before_;
    std::string launch_;    // the launch file's unix path
    std::vector<int> held_; // FIFOs that a writer holds open
    bool link_play_ = false;
    std::string link_text_, link_bytes_;
};

std::string read_file(const std::string& path);
// `text` with control and high bytes shown as \xHH, for messages.
std::string visible(const std::string& text);
bool write_file(const std::string& path, const std::string& bytes);
// Adds to `failures` what talvin-check's exit `status` and its --json output
// `text` tell otherwise than case `c`.
void compare_prediction(const Case& c, const Expected& e, const Places& places, int status,
                        const std::string& text, std::vector<std::string>* failures);
// Adds to `failures` what talvin-check's `text` report and its `json` tell
// otherwise than the case's `says` and `whole` (files in `folder`).
void compare_report(const Expected& e, const Places& places, const std::string& folder,
                    const std::string& text, const std::string& json,
                    std::vector<std::string>* failures);
// The member `key` ("start.directory") of talvin-check's --json output
// `text`, "<none>" when absent; its boxes as "CAPTION: TEXT" lines; an
// appended block with its password masked as the checker shows it.
std::string json_member(const std::string& text, const std::string& key);
std::string json_boxes(const std::string& text);
std::string password_masked(std::string block);
// The scratch copy of a link's bytes that talvin-check's --json output
// `text` names, or "".
std::string checked_as(const std::string& text);
// Adds a failure to `failures` when `got` is not `wanted`.
void expect(std::vector<std::string>* failures, const std::string& what, const std::string& got,
            const std::string& wanted);

// Plays every case of `files` meant for `runner`, or `plays`, each in a fresh
// tree through this runner's part (below); prints the failures (`failed`
// more) and the totals, and returns the exit status.
int play_case_files(const char* runner, int count, char** files);
int play_cases(const char* runner, const std::vector<Case>& plays, int failed);
// Plays case `c`; returns what went wrong.
std::vector<std::string> play_case(const Case& c);
// Each runner's part of a play (fake_runner.cpp, process_runner.cpp): the
// names the program knows the case's places by (returns talvin.ini's path,
// "" for $WIN/talvin.ini); the run over the built tree with the expectations
// `e` (returns the file a link was stored in, "" when none; it may change the
// tree as another account would, through replace_launch); and the
// comparison of what it did with `e`, once that file is known (returns
// whether the program is the launcher, which stores a link's file in the
// case's folder).
std::string runner_places(const Case& c, const CaseTree& tree, Places* places);
std::string runner_run(const Case& c, CaseTree& tree, Places* places, const Expected& e,
                       std::vector<std::string>* failures);
bool runner_compare(const Case& c, const CaseTree& tree, const Places& places, Expected* e,
                    std::vector<std::string>* failures);
