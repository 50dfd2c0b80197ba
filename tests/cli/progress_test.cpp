// The progress line's figures: bytes in binary units, each unit from the
// first value that fills it.
#include <gtest/gtest.h>

#include <string>

#include "progress.h"

namespace {

TEST(Progress, BytesInBinaryUnits) {
    struct Case {
        double bytes;
        const char *shown;
    };
    const Case cases[] = {
        {0, "0 B"},
        {1023, "1023 B"},
        {1024, "1.0 KiB"},
        {1536, "1.5 KiB"},
        {1048575, "1024.0 KiB"}, // rounds up, still short of a MiB
        {1048576, "1.0 MiB"},
        {1073741824.0, "1.0 GiB"},
        {1099511627776.0, "1.0 TiB"},
        {2251799813685248.0, "2048.0 TiB"}, // no unit beyond
    };
    for (const Case &c : cases) {
        char out[32];
        progFormatBytes(out, sizeof out, c.bytes);
        EXPECT_EQ(std::string(out), c.shown) << c.bytes;
    }
}

} // namespace
