// The stand-in product: it records its current directory, its arguments
// after the program name and, on POSIX, how SIGPIPE and SIGCHLD were
// inherited, to the file named by LAUNCHER_TEST_RECORD: one "TAG LENGTH:BYTES"
// line each (cwd, arg, sigpipe, sigchld), so any byte shows. It is written under
// another name and then renamed, so that whoever waits for it never reads half a record.
#include <stdio.h>
#include <stdlib.h>
#include <string>
#ifdef _WIN32
#include <direct.h>
#include <windows.h>
#define getcwd _getcwd
#else
#include <signal.h>
#include <unistd.h>
#endif

static void put(FILE* out, const char* tag, const std::string& value) {
    fprintf(out, "%s %zu:", tag, value.size());
    fwrite(value.data(), 1, value.size(), out);
    fputc('\n', out);
}

int main(int argc, char** argv) {
    const char* record = getenv("LAUNCHER_TEST_RECORD");
    if (record == nullptr) return 1;
#ifdef _WIN32
    // As another program that opened LAUNCHER_TEST_HOLD before the launcher
    // and still holds it: says so beside the record, lets go when told there.
    if (const char* hold = getenv("LAUNCHER_TEST_HOLD")) {
        FILE* held = fopen(hold, "rb");
        FILE* said =
            held != nullptr ? fopen((std::string(record) + ".held").c_str(), "wb") : nullptr;
        bool holding = said != nullptr && fclose(said) == 0;
        std::string release = std::string(record) + ".release";
        for (int i = 0; holding && i < 1200; i++, Sleep(50))
            if (GetFileAttributesA(release.c_str()) != INVALID_FILE_ATTRIBUTES) break;
        return holding && fclose(held) == 0 ? 0 : 1;
    }
#endif
    std::string part = std::string(record) + ".part";
    FILE* out = fopen(part.c_str(), "wb");
    char cwd[4096] = "";
    if (out == nullptr || getcwd(cwd, sizeof cwd) == nullptr) return 1;
    put(out, "cwd", cwd);
    for (int i = 1; i < argc; i++)
        put(out, "arg", argv[i]);
#ifndef _WIN32
    struct sigaction pipe_action, child_action; // as inherited: "default" or "ignored"
    sigaction(SIGPIPE, nullptr, &pipe_action);
    put(out, "sigpipe", pipe_action.sa_handler == SIG_IGN ? "ignored" : "default");
    sigaction(SIGCHLD, nullptr, &child_action);
    put(out, "sigchld", child_action.sa_handler == SIG_IGN ? "ignored" : "default");
#endif
    remove(record); // Windows renames onto no existing file
    return fclose(out) == 0 && rename(part.c_str(), record) == 0 ? 0 : 1;
}
