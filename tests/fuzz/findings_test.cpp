// Inputs the fuzz targets found faults with, kept as tests in every build.
#include "platform/command_line_split.h"

#include <gtest/gtest.h>

#include <string>

// A path is joined into `x "PATH"` in a 600-byte buffer: the longest that
// fits is 595 bytes. 596 bytes once wrote the terminator past the buffer.
TEST(FuzzFindings, PathSurvivesSplitAtItsBufferEdge) {
    struct Case {
        size_t length;
        int survives;
    } cases[] = {{594, 1}, {595, 1}, {596, 0}, {597, 0}, {600, 0}, {4096, 0}};
    for (const Case& c : cases) {
        std::string path(c.length, 'a');
        EXPECT_EQ(path_survives_split(path.c_str()), c.survives) << "length " << c.length;
    }
}
