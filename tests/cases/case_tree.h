// A case's files, really written in a fresh folder, and the check of what a
// run changed in them.
#pragma once

#include "case_file.h"

#include <map>
#include <string>
#include <vector>

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
    bool link_play() const { return link_play_; }
    const std::string& link_text() const { return link_text_; }
    const std::string& link_bytes() const { return link_bytes_; }
    // The one file the launcher wrote in $DIR/run/talvin ($XDG_RUNTIME_DIR
    // is $DIR/run), or "" when there is none or more than one.
    std::string stored_file() const;

  private:
    std::map<std::string, std::string> snapshot() const;
    std::string root_;
    std::map<std::string, std::string> before_;
    std::string launch_;    // the launch file's unix path
    std::vector<int> held_; // FIFOs that a writer holds open
    bool link_play_ = false;
    std::string link_text_, link_bytes_;
};

// The case's expectations in `tree`: a link's text is its argument, and the
// file the launcher stored (`stored`, once known) is $LAUNCH.
Expected expected_in(const Case& c, Places places, const CaseTree& tree,
                     const std::string& stored = "");

// The unix places of case `c` in `root` (the launch file $DL/game.tvl unless
// the case names it).
Places unix_places(const std::string& root, const Case& c);

std::string read_file(const std::string& path);
bool write_file(const std::string& path, const std::string& bytes);
// A copy of the recording product at `path`, executable.
void install_product(const std::string& path, const char* record_product);
// Adds to `failures` what talvin-check's exit `status` and its --json output
// `text` tell otherwise than case `c`.
void compare_prediction(const Case& c, const Expected& e, const Places& places, int status,
                        const std::string& text, std::vector<std::string>* failures);
// Adds to `failures` what talvin-check's `text` report and its `json` tell
// otherwise than the case's `says` and `whole` (files in `folder`).
void compare_report(const Expected& e, const Places& places, const std::string& folder,
                    const std::string& text, const std::string& json,
                    std::vector<std::string>* failures);
// The scratch copy of a link's bytes that talvin-check's --json output
// `text` names, or "".
std::string checked_as(const std::string& text);
// Adds a failure to `failures` when `got` is not `wanted`.
void expect(std::vector<std::string>* failures, const std::string& what, const std::string& got,
            const std::string& wanted);

// Plays case `c` in a fresh tree through this runner's part (below) and
// returns what went wrong; then the program must hold no file open.
std::vector<std::string> play_case(const Case& c);
// Each runner's part of a play (fake_runner.cpp, process_runner.cpp): the
// names the program knows the case's places by (returns talvin.ini's path,
// "" for $WIN/talvin.ini); the run over the built tree with the expectations
// `e` (returns the file a link was stored in, "" when none); and the
// comparison of what it did with `e`, once that file is known (returns
// whether the program is the launcher, which stores a link's file in the
// case's folder).
std::string runner_places(const Case& c, const CaseTree& tree, Places* places);
std::string runner_run(const Case& c, const CaseTree& tree, Places* places, const Expected& e,
                       std::vector<std::string>* failures);
bool runner_compare(const Case& c, const CaseTree& tree, const Places& places, Expected* e,
                    std::vector<std::string>* failures);
