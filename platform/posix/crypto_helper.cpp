// Signatures on POSIX for the statically linked launcher: the check runs in
// talvin-verify, a small program linked with the system's libcrypto, started
// only when a signature must be checked. It is found next to the launcher's
// own executable, never through PATH: first the installed layout
// (bin/../libexec/talvin/), then the same folder (the build folder).
#include "platform/platform.h"

#include "platform/posix/file.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <unistd.h>

namespace {

const char* const HELPER_PLACES[] = {"../libexec/talvin/talvin-verify", "talvin-verify"};
const unsigned PATH_CAP = 4096;

void put_hex(const unsigned char bytes[64], char out[129]) {
    const char digits[] = "0123456789abcdef";
    for (int i = 0; i < 64; i++) {
        out[2 * i] = digits[bytes[i] >> 4];
        out[2 * i + 1] = digits[bytes[i] & 15];
    }
    out[128] = '\0';
}

// Starts the first helper that exists with `input` as its standard input
// and nothing else of the launcher's: no environment, output to /dev/null.
bool start_verifier(char** args, int input, pid_t* pid) {
    char path[PATH_CAP];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || (size_t)length >= sizeof path) return false;
    size_t directory = (size_t)length;
    while (directory > 0 && path[directory - 1] != '/')
        directory--;
    if (directory == 0) return false;

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return false;
    bool started = false;
    if (posix_spawn_file_actions_adddup2(&actions, input, 0) == 0 &&
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0 &&
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0) == 0) {
        char* no_environment[] = {nullptr};
        for (const char* place : HELPER_PLACES) {
            size_t place_length = strlen(place);
            if (directory + place_length >= sizeof path) continue;
            memcpy(path + directory, place, place_length + 1);
            args[0] = path;
            int error = posix_spawn(pid, path, &actions, nullptr, args, no_environment);
            if (error == 0) {
                started = true;
                break;
            }
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    return started;
}

int verify_in_helper(const unsigned char public_key[64], const void* message, size_t size,
                     const unsigned char signature[64]) {
    char key_hex[129], signature_hex[129];
    put_hex(public_key, key_hex);
    put_hex(signature, signature_hex);
    char* args[] = {nullptr, key_hex, signature_hex, nullptr};

    int pipe_ends[2];
    if (pipe2(pipe_ends, O_CLOEXEC) != 0) return -1;
    pid_t pid;
    bool started = start_verifier(args, pipe_ends[0], &pid);
    close(pipe_ends[0]);
    bool written = started && write_all(pipe_ends[1], message, size);
    close(pipe_ends[1]);
    if (!started) return -1;

    int code = wait_for(pid);
    // A helper that stopped reading early has not checked the whole message.
    if (code < 0 || !written) return -1;
    return code == 0 ? 1 : code == 1 ? 0 : -1;
}

} // namespace

int platform_verify_p256(const unsigned char public_key[64], const void* message, size_t size,
                         const unsigned char signature[64]) {
    struct sigaction given = reap_helpers();
    int verdict = verify_in_helper(public_key, message, size, signature);
    restore_sigchld(given);
    return verdict;
}
