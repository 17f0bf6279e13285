// What every fuzz target shares: how a broken invariant is reported, the
// input as a zero-terminated text, and a folder for the files it writes.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <string>

// Stops the run with `what` when `condition` does not hold, so libFuzzer
// keeps the input that broke it.
inline void check(bool condition, const char* what) {
    if (condition) return;
    fprintf(stderr, "invariant broken: %s\n", what);
    abort();
}

// The input bytes followed by a terminator, in a block exactly that long, so
// a read past the end is caught. The caller frees it.
inline char* input_line(const uint8_t* data, size_t size) {
    char* line = (char*)malloc(size + 1);
    memcpy(line, data, size);
    line[size] = '\0';
    return line;
}

// A fresh folder for one process's files, memory backed when the machine has
// it (every input is written once), removed with them at exit.
inline std::string fuzz_directory() {
    static char directory[64];
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    snprintf(directory, sizeof directory, "%s/launcher-fuzz-XXXXXX", base);
    if (mkdtemp(directory) == nullptr) abort();
    atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(directory, ignored);
    });
    return directory;
}

inline void write_bytes(const std::string& path, const std::string& bytes) {
    FILE* out = fopen(path.c_str(), "wb");
    if (out == nullptr || fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) abort();
    fclose(out);
}
