// The bundled sample store reads back as its Shift-JIS source, one entry
// per line: a repack that was forgotten after editing the source shows here.
#include "pack_helpers.h"

namespace {

TEST(SampleStore, MatchesItsSource) {
    const std::string dir = std::string(QUORLIN_TEST_DATA) + "/../../examples/sample";
    const fx::Bytes source = fx::readFile(dir + "/entries.sjis.txt");
    ASSERT_FALSE(source.empty());
    std::vector<fx::Bytes> lines;
    fx::Bytes line;
    for (std::uint8_t b : source) {
        if (b == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line.push_back(b);
        }
    }
    EXPECT_TRUE(line.empty()) << "the source ends with a line end";
    EXPECT_EQ(pk::unpack(dir), lines);
}

} // namespace
