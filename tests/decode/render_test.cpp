#include "decode/render.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fixture.h"

namespace {

struct RenderCase {
    const char *input;   // decoded bytes, hex
    std::string printed; // what reaches standard output
    int pendingAfter;    // the lead byte still held back, 0 for none
};

// clang-format off
const RenderCase renderCases[] = {
    // Printable ASCII as it is, DEL included.
    {"41 20 7e", "A ~", 0},
    {"7f", "\x7f", 0},
    // Controls, 0x80, half-width katakana and 0xFD-0xFF escaped, lowercase.
    {"00 09 1f", "\\x00\\x09\\x1f", 0},
    {"0d 0a", "\\x0d\\x0a", 0},
    {"80 a0 a5 df", "\\x80\\xa0\\xa5\\xdf", 0},
    {"fd fe ff", "\\xfd\\xfe\\xff", 0},
    // Well-formed pairs raw: both lead ranges, the trail range edges.
    {"82 a0", "\x82\xa0", 0},
    {"81 40 9f fc", "\x81\x40\x9f\xfc", 0},
    {"e0 80 ef 7e", "\xe0\x80\xef\x7e", 0},
    {"f8 40 fc fc", "\xf8\x40\xfc\xfc", 0},
    // Bad trails: below 0x40, the gap at 0x7F, above 0xFC.
    {"81 3f", "\\x81\\x3f", 0},
    {"81 7f", "\\x81\\x7f", 0},
    {"81 fd", "\\x81\\xfd", 0},
    {"81 00", "\\x81\\x00", 0},
    // The escaped trail is consumed, never printed again or taken as ASCII.
    {"81 3c 41", "\\x81\\x3cA", 0},
    // User-defined leads 0xF0-0xF7 escape even a well-formed trail.
    {"f0 40", "\\xf0\\x40", 0},
    {"f7 fc", "\\xf7\\xfc", 0},
    {"ef 40 f8 40", "\xef\x40\xf8\x40", 0},
    // A trail in the lead range completes the pair; it starts none.
    {"9f 81 41", "\x9f\x81" "A", 0},
    {"81 81 81 40", "\x81\x81\x81\x40", 0},
    {"e0 e0 20", "\xe0\xe0 ", 0},
    // A lead is held until its trail comes.
    {"81", "", 0x81},
    {"41 fc", "A", 0xfc},
    {"a0 e0", "\\xa0", 0xe0},
    {"e0 20", "\\xe0\\x20", 0},
    // Neighbours of the lead ranges are not leads.
    {"80 41 a0 41", "\\x80A\\xa0A", 0},
};
// clang-format on

std::string text(const std::uint8_t *begin, const std::uint8_t *end) {
    return std::string(begin, end);
}

// Every row three ways: the whole sequence at once, byte by byte, and split
// into two calls at every position (the lead carried between calls, as it is
// between a match and the next symbol).
TEST(Render, SequencesPrintAsExpected) {
    for (const RenderCase &c : renderCases) {
        SCOPED_TRACE(c.input);
        const fx::Bytes in = fx::hex(c.input);
        const int n = static_cast<int>(in.size());
        std::uint8_t out[256];

        std::uint8_t lead = 0;
        std::uint8_t *end = renderBytes(in.data(), n, &lead, out);
        EXPECT_EQ(text(out, end), c.printed);
        EXPECT_EQ(lead, c.pendingAfter);

        lead = 0;
        end = out;
        for (std::uint8_t x : in) end = renderByte(x, &lead, end);
        EXPECT_EQ(text(out, end), c.printed) << "byte by byte";
        EXPECT_EQ(lead, c.pendingAfter) << "byte by byte";

        for (int cut = 0; cut <= n; cut++) {
            lead = 0;
            end = renderBytes(in.data(), cut, &lead, out);
            end = renderBytes(in.data() + cut, n - cut, &lead, end);
            EXPECT_EQ(text(out, end), c.printed) << "split at " << cut;
            EXPECT_EQ(lead, c.pendingAfter) << "split at " << cut;
        }
    }
}

// The bulk renderer takes a shortcut for ASCII; over every pair of bytes,
// after every possible held lead, it must print what renderByte prints.
TEST(Render, BulkAgreesWithSingleBytesOnEveryPair) {
    const std::uint8_t leads[] = {0, 0x81, 0x9f, 0xe0, 0xf0, 0xfc};
    for (std::uint8_t start : leads) {
        for (int a = 0; a < 256; a++) {
            for (int b = 0; b < 256; b++) {
                const std::uint8_t in[2] = {static_cast<std::uint8_t>(a),
                                            static_cast<std::uint8_t>(b)};
                std::uint8_t bulk[32];
                std::uint8_t single[32];
                std::uint8_t leadBulk = start;
                std::uint8_t leadSingle = start;
                std::uint8_t *endBulk = renderBytes(in, 2, &leadBulk, bulk);
                std::uint8_t *endSingle =
                    renderByte(in[1], &leadSingle, renderByte(in[0], &leadSingle, single));
                ASSERT_EQ(text(bulk, endBulk), text(single, endSingle))
                    << "lead " << int(start) << " bytes " << a << " " << b;
                ASSERT_EQ(leadBulk, leadSingle);
                ASSERT_LE(endBulk - bulk, 2 * renderMaxBytes);
            }
        }
    }
}

TEST(Render, BitString) {
    struct Case {
        std::int32_t value;
        int bits;
        const char *expected;
    };
    const Case cases[] = {
        {0x47, 9, "001000111"},
        {1, 9, "000000001"},            // f = 1, class f: four extra bits
        {995, 11, "01111100011"},       // prefix 01111, six extra bits
        {0x3fff, 14, "11111111111111"}, // the longest position code in use
        {0x2000, 14, "10000000000000"},
        {0, 1, "0"},
        {1, 1, "1"},
        {0x12345678, 32, "00010010001101000101011001111000"},
    };
    for (const Case &c : cases) {
        EXPECT_STREQ(bitString(c.value, c.bits), c.expected) << c.value << " over " << c.bits;
    }
}

} // namespace
