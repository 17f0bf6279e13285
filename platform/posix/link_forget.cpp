// Removing a link's file on POSIX once the product has had time to read it:
// a process of its own, in a session of its own, waits, so that the
// launcher ends at once (a browser or xdg-open may wait for it) and nothing
// waits on the remover.
#include "platform/platform.h"

#include "platform/posix/file.h"

#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

// The tests' hook: fewer seconds, or "sweep" for the case runners, which
// look at the file after the launch and wait for every process it left.
unsigned keep_seconds() {
    const char* hook = getenv("TALVIN_TEST_LINK_KEEP");
    if (hook != nullptr && strcmp(hook, "sweep") == 0) return 0;
    if (hook == nullptr || hook[0] < '0' || hook[0] > '9') return LINK_KEEP_SECONDS;
    unsigned long seconds = strtoul(hook, nullptr, 10);
    return seconds == 0                  ? 1
           : seconds < LINK_KEEP_SECONDS ? (unsigned)seconds
                                         : (unsigned)LINK_KEEP_SECONDS;
}

} // namespace

void platform_forget_link_file(const char* path) {
    struct stat written;
    if (lstat(path, &written) != 0) return;
    unsigned seconds = keep_seconds();
    if (seconds == 0) return;
    struct sigaction given = reap_helpers();
    pid_t child = fork();
    if (child > 0) wait_for(child);
    restore_sigchld(given);
    if (child != 0) return;
    // The child: its own child, in a new session, is the remover, and it
    // holds none of the launcher's files or folders open.
    if (fork() != 0) _exit(0);
    setsid();
    closefrom(0);
    if (chdir("/") != 0) _exit(0);
    struct timespec left = {(time_t)seconds, 0};
    while (nanosleep(&left, &left) != 0) {
    }
    // The folder is the user's alone: no other account can put a file in
    // its place, but the sweep of another launch may have taken it.
    struct stat now;
    if (lstat(path, &now) == 0 && S_ISREG(now.st_mode) && same_file(now, written)) unlink(path);
    _exit(0);
}
