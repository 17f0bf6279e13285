// The POSIX actions of the platform seam: message boxes, the current
// directory, the environment and starting programs, built from POSIX calls so
// that the whole launcher runs on Linux.
#include "platform/platform.h"

#include "check/terminal_text.h"
#include "launch/command_line_split.h"
#include "platform/posix/file.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

const unsigned START_OK = 33;

bool exists(const char* path) {
    struct stat info;
    return stat(path, &info) == 0;
}

unsigned start_result(int error, const char* program) {
    switch (error) {
    case 0:
        return START_OK;
    case ENOENT:
        // The program is there but its interpreter or loader is not: the
        // product is installed, its program cannot be run.
        if (exists(program)) return 11;
        return directory_part_exists(program) ? 2 : 3;
    case ENOTDIR:
        return 3;
    case EACCES:
    case EPERM:
        return 5;
    case ENOEXEC:
        return 11;
    case ENOMEM:
        return 8;
    default:
        return 0;
    }
}

// Starts `program` without a shell; `pid` receives the child's id. Returns 0
// or the errno value of the failure.
int spawn(const char* program, char** args, const posix_spawn_file_actions_t* actions, pid_t* pid) {
    return posix_spawn(pid, program, actions, nullptr, args, environ);
}

struct SpawnRequest {
    char** args;
    const posix_spawn_file_actions_t* actions;
    pid_t* pid;
};

// One folder's try: a program that is there although its interpreter or
// loader is not ends the search, as one that cannot be run.
int spawn_candidate(const char* candidate, void* context) {
    const SpawnRequest* r = (const SpawnRequest*)context;
    int error = spawn(candidate, r->args, r->actions, r->pid);
    return error == ENOENT && exists(candidate) ? ENOEXEC : error;
}

// Runs a bare program name from the absolute folders of PATH only.
unsigned spawn_from_search_path(const char* name, char** args,
                                const posix_spawn_file_actions_t* actions, pid_t* pid) {
    SpawnRequest request = {args, actions, pid};
    char candidate[4096];
    int error = search_path(name, spawn_candidate, &request, candidate);
    if (error == EACCES) return 5;
    if (error == ENOENT) return 2;
    return start_result(error, candidate);
}

// Message boxes a person sees: a helper program shows the box, and the
// launcher waits until it is gone. Texts come from downloaded files, so
// each goes to the helper as one argument, or on its standard input, never
// through a shell and never where it could be taken for an option.

bool graphical_session() {
    const char* x = getenv("DISPLAY");
    const char* wayland = getenv("WAYLAND_DISPLAY");
    return (x != nullptr && x[0] != '\0') || (wayland != nullptr && wayland[0] != '\0');
}

// Starts the helper program args[0] from PATH with `input` (unless -1) as
// its standard input and its standard error silenced: the launcher has
// written the message there already, and a helper's warnings are no part
// of it.
bool start_helper(char** args, int input, pid_t* pid) {
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return false;
    bool started = (input < 0 || posix_spawn_file_actions_adddup2(&actions, input, 0) == 0) &&
                   posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0) == 0 &&
                   spawn_from_search_path(args[0], args, &actions, pid) == START_OK;
    posix_spawn_file_actions_destroy(&actions);
    return started;
}

// "--name=value" in taken memory, or null.
char* option_text(const char* name, const char* value) {
    size_t name_length = strlen(name);
    size_t value_length = strlen(value);
    char* text = (char*)malloc(name_length + value_length + 1);
    if (text == nullptr) return nullptr;
    memcpy(text, name, name_length);
    memcpy(text + name_length, value, value_length + 1);
    return text;
}

// True when zenity showed the box and it has been dismissed. Without
// --no-markup a text holding '&' or '<' would be lost behind a generic
// error. zenity exits 0 (OK), 1 (closed) or 5 (timed out) after showing;
// it also exits 1 when no display can be opened, where xmessage could not
// show one either. Anything else (255 for a text that is not UTF-8, a
// crash, not found) leaves the box to xmessage.
bool show_with_zenity(const char* text, const char* caption) {
    char* title = option_text("--title=", caption);
    char* body = option_text("--text=", text);
    bool shown = false;
    if (title != nullptr && body != nullptr) {
        char* args[] = {(char*)"zenity", (char*)"--error", (char*)"--no-markup", title, body,
                        nullptr};
        pid_t pid;
        if (start_helper(args, -1, &pid)) {
            int status = wait_for(pid);
            shown = status == 0 || status == 1 || status == 5;
        }
    }
    free(body);
    free(title);
    return shown;
}

// xmessage reads the text from a pipe on its standard input, so a text
// that starts with '-' stays text. Return presses the OK button.
void show_with_xmessage(const char* text, const char* caption) {
    int pipe_ends[2];
    if (pipe2(pipe_ends, O_CLOEXEC) != 0) return;
    char* args[] = {
        (char*)"xmessage", (char*)"-title", (char*)caption, (char*)"-buttons", (char*)"OK",
        (char*)"-default", (char*)"OK",     (char*)"-file", (char*)"-",        nullptr};
    pid_t pid;
    bool started = start_helper(args, pipe_ends[0], &pid);
    close(pipe_ends[0]);
    if (started) write_all(pipe_ends[1], text, strlen(text));
    close(pipe_ends[1]);
    if (started) wait_for(pid);
}

// The box's line on standard error. A terminal takes a control character
// of a launch file's text as a command, so there each is shown as \xHH, as
// the tools show it; the text's own line ends stay. A file or a pipe gets
// the bytes as they are.
void write_box_line(const char* text, const char* caption) {
    if (!isatty(2)) {
        write_all(2, caption, strlen(caption));
        write_all(2, ": ", 2);
        write_all(2, text, strlen(text));
        write_all(2, "\n", 1);
        return;
    }
    terminal_printf(stderr, "%s: ", caption);
    for (const unsigned char* p = (const unsigned char*)text; *p != '\0';) {
        if (*p == '\n')
            putc(*p++, stderr);
        else
            p += terminal_put_character(stderr, p);
    }
    putc('\n', stderr);
}

} // namespace

void platform_message_box(platform_window, const char* text, const char* caption) {
    write_box_line(text, caption);
    if (!graphical_session()) return;
    struct sigaction given = reap_helpers();
    if (!show_with_zenity(text, caption)) show_with_xmessage(text, caption);
    restore_sigchld(given);
}

int platform_change_directory(const char* path) {
    return chdir(path) == 0;
}

void platform_set_environment(const char* name, const char* value) {
    setenv(name, value, 1);
}

// PATH's absolute folders only: the current folder is never searched.
unsigned platform_start_program(const char* command_line, int, int) {
    size_t length = strlen(command_line);
    char* text = (char*)malloc(length + 1);
    char** args = (char**)malloc(sizeof(char*) * (length / 2 + 2));
    unsigned result = 8;
    if (text != nullptr && args != nullptr) {
        int count = split_command_line(command_line, text, length + 1, args, (int)(length / 2 + 1));
        if (count <= 0 || args[0][0] == '\0') {
            result = 2; // nothing to start
        } else {
            args[count] = nullptr;
            // No shell: the arguments go to the program as they are.
            pid_t pid;
            if (strchr(args[0], '/') != nullptr)
                result = start_result(spawn(args[0], args, nullptr, &pid), args[0]);
            else
                result = spawn_from_search_path(args[0], args, nullptr, &pid);
        }
    }
    free(args);
    free(text);
    return result;
}
