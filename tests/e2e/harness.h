// Runs the built launcher as a browser would: in a tree of temporary
// directories, with a chosen argument vector, environment and current
// directory, and reports what it said, what it started and what it changed.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

// A fresh directory under /tmp (short, so paths fit the launcher's 79-byte
// settings fields), removed with everything in it.
class Sandbox {
  public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::string& root() const { return root_; }
    // `relative` inside the sandbox.
    std::string path(const std::string& relative) const;
    // Writes `bytes` exactly to `relative` (created or replaced) with `mode`.
    std::string write(const std::string& relative, const std::string& bytes,
                      mode_t mode = 0644) const;
    std::string make_dir(const std::string& relative) const;

  private:
    std::string root_;
};

// Everything under `directory` but its "out" folder: each entry's relative
// path mapped to its type, mode and content digest (or link target).
std::map<std::string, std::string> snapshot(const std::string& directory);

// What a started record product wrote about itself.
struct ProductRecord {
    std::string cwd;
    std::vector<std::string> args; // after the program name
};

struct Launch {
    std::vector<std::string> args;          // after the program name
    std::string cwd;                        // current directory of the launcher
    std::map<std::string, std::string> env; // the whole environment
    double time_limit = 10.0;               // seconds, for the launcher and its product
};

struct Outcome {
    bool finished = false; // ended on its own within the time limit
    int exit_code = -1;    // -1 when killed by a signal
    std::string out, err;  // standard output and standard error, byte for byte
    double seconds = 0;    // the launcher's wall time
    long peak_memory_kb = 0;
    int started = 0; // processes the launcher left behind (reaped here)
    bool recorded = false;
    ProductRecord product;
    // "created X", "changed X" and "removed X" for the sandbox, sorted.
    std::vector<std::string> changes;
};

// Runs the launcher at `launcher` in `sandbox`. Standard input is /dev/null;
// the outputs go to sandbox "out/"; the product's record is `record_path`
// (taken away after reading). LAUNCHER_E2E_WRAPPER, when set, is split at
// blanks and put in front of the launcher's command (for example a valgrind
// command line).
Outcome run_launcher(const std::string& launcher, const Sandbox& sandbox, const Launch& launch,
                     const std::string& record_path);

// The words of LAUNCHER_E2E_WRAPPER; empty when it is not set.
std::vector<std::string> wrapper_words();

std::string read_file(const std::string& path);
