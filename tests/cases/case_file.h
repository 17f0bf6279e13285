// Launch cases as data (the format is in docs/testing.md, "How a case file
// reads"), and the one play that every runner shares.
#pragma once

#include <map>
#include <string>
#include <vector>

struct Case {
    std::string name;
    std::string where; // "FILE:LINE" of its `case` line
    // Values unescaped, places not filled in: single-valued directives by
    // name, the others in order, a two-part one's first word in `first`.
    std::map<std::string, std::string> one;
    struct Item {
        std::string directive, first, value;
    };
    std::vector<Item> many;
    std::string as_link; // played as a link: the `link` the launch file's bytes go into

    bool has(const std::string& directive) const { return one.count(directive) != 0; }
    const std::string& get(const std::string& directive) const { return one.at(directive); }
    bool runs_on(const std::string& runner) const;
};

bool unescape(const std::string& in, std::string* out, std::string* error);

// The places a case's values name, in the form the runner uses.
struct Places {
    std::string dir, launch, dl, win, product, prod;
    std::string short_launch; // $SHORT: the launch file's short form (POSIX: $LAUNCH)
};

std::string expand(const std::string& text, const Places& places);

// Where a case's `own/PATH` is made: the folder of the Windows programs
// played (the launcher's own); empty elsewhere.
extern std::string programs_folder;

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
std::string argument_text(const Expected& e);

// A case's files, really written in a fresh folder, and the check of what a
// run changed in them.
class CaseTree {
  public:
    CaseTree(); // a fresh folder, its name short so that paths fit the settings fields
    ~CaseTree();
    CaseTree(const CaseTree&) = delete;
    CaseTree& operator=(const CaseTree&) = delete;

    const std::string& root() const { return root_; }
    // Writes the case's files, values expanded by `names` (talvin.ini at
    // `ini_path`, "": $WIN's), and notes every file. False on a bad case;
    // `error` then starts with "SKIP " when this runner cannot make it.
    bool build(const Case& c, const Places& names, std::string ini_path, std::string* error);
    // Adds to `failures` every change but those `e` expects; played as a
    // link and `keeps` (the POSIX launcher), `stored` is the file it wrote,
    // or ""; a launch file it appends to loses its group and others modes.
    void check(const Expected& e, std::vector<std::string>* failures,
               const std::string& stored = "", bool keeps = true) const;
    // Played as a link: its text, and the launch file's bytes (not written to $LAUNCH).
    const std::string& link_text() const { return link_text_; }
    const std::string& link_bytes() const { return link_bytes_; }
    // The one link-*.tvl file the launcher wrote under $XDG_RUNTIME_DIR ($DIR/run), else "".
    std::string stored_file() const;
    // `fake before_append HOW` (or before_signature), made; check() counts
    // the change as the case's own.
    bool replace_launch(const std::string& how);

  private:
    std::map<std::string, std::string> snapshot() const;
    std::string root_;
    std::map<std::string, std::string> before_;
    std::string launch_;               // the launch file's unix path
    std::vector<int> held_;            // files and FIFOs held open
    std::vector<std::string> outside_; // files made in wine's Windows folder, not under root_
    bool link_play_ = false;
    std::string link_text_, link_bytes_;
};

std::string read_file(const std::string& path);
// `text` with control and high bytes shown as \xHH, for messages.
std::string visible(const std::string& text);
bool write_file(const std::string& path, const std::string& bytes);
// Adds to `failures` where talvin-check's exit `status` and --json `text` differ from `c`.
void compare_prediction(const Case& c, const Expected& e, const Places& places, int status,
                        const std::string& text, std::vector<std::string>* failures);
// Adds to `failures` where its reports differ from `says` and `whole` (files in `folder`).
void compare_report(const Expected& e, const Places& places, const std::string& folder,
                    const std::string& text, const std::string& json,
                    std::vector<std::string>* failures);
// Of talvin-check's --json `text`: member `key` ("start.directory"; absent:
// "<none>"), its boxes as "CAPTION: TEXT" lines; a block's password masked.
std::string json_member(const std::string& text, const std::string& key);
// `bytes` with each C1 character (C2 80 to C2 9F) as the one byte that
// talvin-check's JSON, read here, gives for it.
std::string as_json_shows(std::string bytes);
std::string json_boxes(const std::string& text);
std::string password_masked(std::string block);
std::string checked_as(const std::string& text);
void expect(std::vector<std::string>* failures, const std::string& what, const std::string& got,
            const std::string& wanted);

// Plays every case of `files` meant for `runner`, or `plays`, each in a fresh
// tree through this runner's part (below); prints the failures (`failed`
// more) and the totals, and returns the exit status.
int play_case_files(const char* runner, int count, char** files);
// The cases of `files` meant for `runner` (each link a play of its own);
// `failed` counts the files that cannot be read.
std::vector<Case> cases_to_play(const char* runner, int count, char** files, int* failed);
int play_cases(const char* runner, const std::vector<Case>& plays, int failed);
// Plays case `c`; returns what went wrong.
std::vector<std::string> play_case(const Case& c);
// Each runner's part of a play: the places as its program names them
// (returns talvin.ini's path, "": $WIN's); the run (returns the file a link
// was stored in, or ""); the comparison with `e` (returns whether the program
// is the launcher, which stores a link's file in the case's folder).
std::string runner_places(const Case& c, const CaseTree& tree, Places* places);
std::string runner_run(const Case& c, CaseTree& tree, Places* places, const Expected& e,
                       std::vector<std::string>* failures);
bool runner_compare(const Case& c, const CaseTree& tree, const Places& places, Expected* e,
                    std::vector<std::string>* failures);
