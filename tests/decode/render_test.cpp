#include "render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
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

// The bulk renderer has its own paths for one-byte calls and for runs, and
// the decoder's literal renderer its own inline cases; over every byte and
// every pair of bytes, after every kind of held lead, they must print what
// renderByte prints.
TEST(Render, BulkAgreesWithSingleBytesOnEveryPair) {
    const std::uint8_t leads[] = {0, 0x81, 0x9f, 0xe0, 0xef, 0xf0, 0xf7, 0xf8, 0xfc};
    for (std::uint8_t start : leads) {
        for (int a = 0; a < 256; a++) {
            const std::uint8_t one = static_cast<std::uint8_t>(a);
            std::uint8_t bulkOne[16];
            std::uint8_t singleOne[16];
            std::uint8_t leadBulkOne = start;
            std::uint8_t leadSingleOne = start;
            std::uint8_t *endBulkOne = renderBytes(&one, 1, &leadBulkOne, bulkOne);
            std::uint8_t *endSingleOne = renderByte(one, &leadSingleOne, singleOne);
            ASSERT_EQ(text(bulkOne, endBulkOne), text(singleOne, endSingleOne))
                << "lead " << int(start) << " byte " << a;
            ASSERT_EQ(leadBulkOne, leadSingleOne);
            std::uint8_t literal[16];
            std::uint8_t leadLiteral = start;
            std::uint8_t *endLiteral = renderLiteral(one, &leadLiteral, literal);
            ASSERT_EQ(text(literal, endLiteral), text(singleOne, endSingleOne))
                << "literal: lead " << int(start) << " byte " << a;
            ASSERT_EQ(leadLiteral, leadSingleOne);
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

// Bytes of one kind, drawn the way decoded text mixes them.
std::uint8_t drawByte(std::mt19937 &rng, int kind) {
    auto in = [&rng](int low, int high) {
        return static_cast<std::uint8_t>(std::uniform_int_distribution<int>(low, high)(rng));
    };
    switch (kind) {
    case 0:
        return in(0x20, 0x7f); // printable ASCII, DEL too
    case 1:
        return rng() % 2 ? in(0x81, 0x9f) : in(0xe0, 0xef); // common leads
    case 2:
        return in(0xf0, 0xfc); // user-defined and rare leads
    case 3:
        return in(0x40, 0xfc); // trail range, 0x7f included
    case 4: {
        const std::uint8_t escapes[] = {0x00, 0x09, 0x0a, 0x1f, 0x80, 0xa0, 0xdf, 0xfd, 0xff};
        return escapes[rng() % sizeof escapes];
    }
    default:
        return in(0, 255);
    }
}

// A run in one of several styles: markup-like ASCII stretches (long enough
// for the word-at-a-time path and its short tails), double-byte text with
// stray bad trails, or anything at all.
fx::Bytes drawRun(std::mt19937 &rng, int n) {
    const int style = static_cast<int>(rng() % 4);
    fx::Bytes run;
    while (static_cast<int>(run.size()) < n) {
        const int roll = static_cast<int>(rng() % 100);
        if (style == 0 || (style == 1 && roll < 45)) {
            const int stretch = 1 + static_cast<int>(rng() % 20);
            for (int i = 0; i < stretch; i++) run.push_back(drawByte(rng, 0));
            if (roll % 7 == 0) run.push_back(drawByte(rng, 4));
        } else if (style == 1 || (style == 2 && roll < 70)) {
            run.push_back(drawByte(rng, roll < 90 ? 1 : 2));
            run.push_back(drawByte(rng, roll % 9 == 0 ? 5 : 3));
        } else {
            run.push_back(drawByte(rng, static_cast<int>(rng() % 6)));
        }
    }
    run.resize(static_cast<std::size_t>(n));
    return run;
}

std::string hexOf(const fx::Bytes &bytes) {
    std::string out;
    for (std::uint8_t x : bytes) {
        out += "0123456789abcdef"[x >> 4];
        out += "0123456789abcdef"[x & 15];
        out += ' ';
    }
    return out;
}

// Random runs of 0 to 70 bytes, with or without a lead held from before, fed
// to renderBytes in random chunks as a decoder feeds literals and copies: the
// text and the held lead must be what renderByte gives one byte at a time.
// Each chunk sits alone in a buffer of its exact size and the output has a
// guard right after the room the caller promises (4 bytes a byte plus 8), so
// a read past the chunk shows up under the address sanitizer and a write past
// the room shows up here.
TEST(Render, BulkAgreesWithSingleBytesOnRandomRunsInChunks) {
    std::mt19937 rng(4417);
    constexpr int guard = 16;
    constexpr std::uint8_t guardByte = 0xa5;
    for (int trial = 0; trial < 20000; trial++) {
        const int n = static_cast<int>(rng() % 71);
        const fx::Bytes run = drawRun(rng, n);
        std::uint8_t start = 0;
        if (rng() % 2) start = drawByte(rng, rng() % 4 ? 1 : 2);

        std::string expected;
        std::uint8_t leadSingle = start;
        for (std::uint8_t x : run) {
            std::uint8_t one[renderMaxBytes];
            expected += text(one, renderByte(x, &leadSingle, one));
        }

        std::string printed;
        std::uint8_t leadBulk = start;
        std::string cuts;
        int at = 0;
        do { // empty chunks too, at the start and in between
            const int left = n - at;
            const int size = rng() % 3 == 0
                                 ? std::min(left, 1)
                                 : static_cast<int>(rng() % static_cast<unsigned>(left + 1));
            cuts += std::to_string(size) + " ";
            const fx::Bytes chunk(run.begin() + at, run.begin() + at + size);
            std::vector<std::uint8_t> out(static_cast<std::size_t>(size * 4 + 8 + guard),
                                          guardByte);
            std::uint8_t *end = renderBytes(chunk.data(), size, &leadBulk, out.data());
            ASSERT_LE(end - out.data(), size * 4 + 8);
            for (int i = size * 4 + 8; i < size * 4 + 8 + guard; i++) {
                ASSERT_EQ(out[static_cast<std::size_t>(i)], guardByte)
                    << "wrote past the room for " << size << " bytes: " << hexOf(chunk);
            }
            printed += text(out.data(), end);
            at += size;
        } while (at < n);
        ASSERT_EQ(printed, expected) << "trial " << trial << ", held lead " << int(start)
                                     << ", bytes " << hexOf(run) << ", chunks " << cuts;
        ASSERT_EQ(leadBulk, leadSingle) << "trial " << trial << ", bytes " << hexOf(run);
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
