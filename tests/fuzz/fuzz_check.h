// What every fuzz target shares: how a broken invariant is reported, and the
// input as a zero-terminated text.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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
