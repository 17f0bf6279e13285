// The recording face of the platform seam, for tests: it records every call
// with its arguments, in order, and answers with scripted results. Files are
// real: tests link the operating system's file reading beside this one, and
// its append as system_append (the platform_file_append_system library). So
// are signatures: the operating system's check is linked as
// system_verify_p256 (the platform_crypto_system library), and settings
// files are opened as system_open_settings_file (platform_trust_system).
#pragma once

#include "platform/platform.h"

#include <functional>
#include <string>
#include <vector>

namespace fake {

struct MessageBox {
    platform_window owner;
    std::string text;
    std::string caption;
};

struct Started {
    std::string command_line;
    int show_state;
};

// What the launcher did, in order.
extern std::vector<MessageBox> message_boxes;
extern std::vector<Started> started;
extern std::vector<std::string> directories; // every directory changed to
extern std::vector<std::pair<std::string, std::string>> environment;

// Scripted answers.
extern std::string windows_directory; // what platform_windows_directory reports
extern bool windows_directory_fails;
extern char separator;                // what follows a directory name
extern std::string short_path;        // empty: the short form is unavailable
extern std::string current_directory; // read back after a change; also joins relative paths
// When given, what the current directory reads back as after a change: empty
// means the read fails (leaving a drive path in the buffer, as a failed call
// may), too long gives what fits with the size it needs.
extern bool read_back_given;
extern std::string read_back;
extern unsigned start_result;
extern bool ignore_case;
extern std::string lead_bytes;  // bytes that lead a double-byte character
extern long fail_memory_at;     // the Nth request (from 1) fails; 0: none fail
extern long memory_requests;    // requests made so far
extern long memory_outstanding; // blocks taken and not given back
extern bool crypto_unavailable; // signatures cannot be checked at all
// Run just before the launch file is appended to, as another account that
// may change its folder could act between the read and the append.
extern std::function<void()> before_append;
// Run once, as the first settings file is opened: the same, between the
// launch file's read and its signature check.
extern std::function<void()> before_signature;

// Answers too long for the caller's buffer fill what fits (as a careless
// platform might) and return the size needed, so an unchecked size shows.

// Forgets every record and restores the default answers.
void reset();

} // namespace fake
