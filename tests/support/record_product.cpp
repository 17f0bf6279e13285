// A stand-in product for end-to-end tests: it records what it was started
// with, so a test can check what the launcher handed it. The record goes to
// the file named by LAUNCHER_TEST_RECORD, or else to this program's own path
// followed by ".record".
//
// Record format, one item per line:
//   cwd <length>:<bytes>
//   arg <length>:<bytes>        (one per argument after the program name)
//   sigpipe <length>:<bytes>    (POSIX: "default" or "ignored", as inherited)
//   cmdline <length>:<bytes>    (Windows: the raw command line)
//   env=C: <length>:<bytes>     (Windows: the per-drive directory entry, if set)
//   long <length>:<bytes>       (Windows: the long form of each argument that
//                                names an existing file, in argument order)
//   content <length>:<bytes>    (Windows: what the file named by the first
//                                argument held when the program started)
// Lengths make any byte, line feeds included, unambiguous. The record is
// written under another name and then renamed, so a test that polls for it
// never reads half a record.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

#ifdef _WIN32
#include <windows.h>
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
    std::string record_path;
    const char* named = getenv("LAUNCHER_TEST_RECORD");
    if (named != nullptr && named[0] != '\0') {
        record_path = named;
    } else {
#ifdef _WIN32
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, sizeof self);
        record_path = self;
#else
        record_path = argv[0];
#endif
        record_path += ".record";
    }
    std::string part_path = record_path + ".part";
    FILE* out = fopen(part_path.c_str(), "wb");
    if (out == nullptr) return 1;
    char cwd[4096] = "";
#ifdef _WIN32
    GetCurrentDirectoryA(sizeof cwd, cwd);
#else
    if (getcwd(cwd, sizeof cwd) == nullptr) cwd[0] = '\0';
#endif
    put(out, "cwd", cwd);
    for (int i = 1; i < argc; i++)
        put(out, "arg", argv[i]);
#ifndef _WIN32
    struct sigaction pipe_action;
    sigaction(SIGPIPE, nullptr, &pipe_action);
    put(out, "sigpipe", pipe_action.sa_handler == SIG_IGN ? "ignored" : "default");
#endif
#ifdef _WIN32
    put(out, "cmdline", GetCommandLineA());
    char drive[4096];
    DWORD length = GetEnvironmentVariableA("=C:", drive, sizeof drive);
    if (length > 0 && length < sizeof drive) put(out, "env=C:", drive);
    for (int i = 1; i < argc; i++) {
        char long_form[4096];
        length = GetLongPathNameA(argv[i], long_form, sizeof long_form);
        if (length > 0 && length < sizeof long_form) put(out, "long", long_form);
    }
    if (argc > 1) {
        FILE* in = fopen(argv[1], "rb");
        if (in != nullptr) {
            std::string content;
            char chunk[4096];
            size_t count;
            while ((count = fread(chunk, 1, sizeof chunk, in)) > 0)
                content.append(chunk, count);
            fclose(in);
            put(out, "content", content);
        }
    }
#endif
    if (fclose(out) != 0) return 1;
#ifdef _WIN32
    if (!MoveFileExA(part_path.c_str(), record_path.c_str(), MOVEFILE_REPLACE_EXISTING)) return 1;
#else
    if (rename(part_path.c_str(), record_path.c_str()) != 0) return 1;
#endif
    return 0;
}
