// A stand-in product for end-to-end tests: it records what it was started
// with, so a test can check what the launcher handed it. The record goes to
// the file named by LAUNCHER_TEST_RECORD, or else to this program's own path
// followed by ".record".
//
// Record format, one item per line:
//   cwd <length>:<bytes>
//   arg <length>:<bytes>        (one per argument after the program name)
//   cmdline <length>:<bytes>    (Windows: the raw command line)
//   env=C: <length>:<bytes>     (Windows: the per-drive directory entry, if set)
// Lengths make any byte, line feeds included, unambiguous.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

static void put(FILE* out, const char* tag, const char* value) {
    fprintf(out, "%s %zu:", tag, strlen(value));
    fwrite(value, 1, strlen(value), out);
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
    FILE* out = fopen(record_path.c_str(), "wb");
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
#ifdef _WIN32
    put(out, "cmdline", GetCommandLineA());
    char drive[4096];
    DWORD length = GetEnvironmentVariableA("=C:", drive, sizeof drive);
    if (length > 0 && length < sizeof drive) put(out, "env=C:", drive);
#endif
    fclose(out);
    return 0;
}
