// The format's fixed numbers rebuilt from what defines them: the position
// code from its six classes' counts, the layouts from worked bytes.
#include "format/format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

// The position code, nearest class first: how many 5-bit prefixes a class
// has and how many extra bits follow each, and the letter the symbol trace
// gives it (a is the farthest). Nothing else below is taken on trust.
struct ClassCount {
    char letter;
    int prefixes;
    int extraBits;
};
const ClassCount counts[6] = {{'f', 4, 4}, {'e', 6, 5}, {'d', 8, 6},
                              {'c', 6, 7}, {'b', 6, 8}, {'a', 2, 9}};

// Where each class starts, by adding up the classes before it.
struct ClassStart {
    int firstPrefix;
    int firstF;
};
ClassStart startOf(int c) {
    ClassStart s{0, 0};
    for (int i = 0; i < c; i++) {
        s.firstPrefix += counts[i].prefixes;
        s.firstF += counts[i].prefixes << counts[i].extraBits;
    }
    return s;
}

// The classes tile f = 0 to 4095 and the prefixes 0 to 31, in this order,
// with no gap or overlap: the spans the counts give add up exactly.
TEST(FormatPositionCode, CountsTileEveryDistanceAndPrefix) {
    const ClassStart end = startOf(6);
    EXPECT_EQ(end.firstPrefix, 1 << fmtPrefixBits);
    EXPECT_EQ(end.firstF, fmtDistanceCount);
    const int spans[6][2] = {{0, 63},     {64, 255},    {256, 767},
                             {768, 1535}, {1536, 3071}, {3072, 4095}};
    for (int c = 0; c < 6; c++) {
        EXPECT_EQ(startOf(c).firstF, spans[c][0]) << counts[c].letter;
        EXPECT_EQ(startOf(c + 1).firstF - 1, spans[c][1]) << counts[c].letter;
    }
}

TEST(FormatPositionCode, ClassTableMatchesTheCounts) {
    for (int c = 0; c < 6; c++) {
        SCOPED_TRACE(counts[c].letter);
        const ClassStart s = startOf(c);
        const FmtPositionClass &k = fmtPositionClasses[c];
        EXPECT_EQ(k.letter, counts[c].letter);
        EXPECT_EQ(k.firstF, s.firstF);
        EXPECT_EQ(k.extraBits, counts[c].extraBits);
        // The class's first code is its first prefix followed by zero bits,
        // and it stands for the class's first f.
        EXPECT_EQ(s.firstF + k.bias, s.firstPrefix << counts[c].extraBits);
    }
}

TEST(FormatPositionCode, EveryPrefixEntry) {
    int p = 0;
    for (int c = 0; c < 6; c++) {
        const ClassStart s = startOf(c);
        for (int i = 0; i < counts[c].prefixes; i++, p++) {
            SCOPED_TRACE("prefix " + std::to_string(p));
            const FmtPrefix &entry = fmtPrefixes.of[p];
            EXPECT_EQ(entry.extraBits, counts[c].extraBits);
            EXPECT_EQ(entry.classIndex, c);
            EXPECT_EQ(fmtPositionClasses[entry.classIndex].letter, counts[c].letter);
            EXPECT_EQ(entry.baseF, s.firstF + (i << counts[c].extraBits));
        }
    }
    EXPECT_EQ(p, 32);
}

// Every f's code: the prefix counts up through the class from its first
// prefix, one step per 2^extra values of f; the extra bits are the rest.
TEST(FormatPositionCode, EveryDistanceCode) {
    for (int c = 0; c < 6; c++) {
        const ClassStart s = startOf(c);
        const int e = counts[c].extraBits;
        for (int f = s.firstF; f < startOf(c + 1).firstF; f++) {
            const int prefix = s.firstPrefix + (f - s.firstF) / (1 << e);
            const int extra = (f - s.firstF) % (1 << e);
            const FmtPositionCode code = fmtPositionCodeOf(f);
            ASSERT_EQ(code.bits, 5 + e) << "f " << f;
            ASSERT_EQ(code.value, prefix * (1 << e) + extra) << "f " << f;
            ASSERT_EQ(fmtPositionClassOf(f).letter, counts[c].letter) << "f " << f;
        }
    }
}

// Worked bytes of an index of two records and of an item's first bytes.
TEST(FormatLayout, RecordAndHeaderFromWorkedBytes) {
    const std::uint8_t index[32] = {
        0x00, 0x00, 0x01, 0x00,                         // record 0: offset 256
        0x00, 0x00, 0x00, 0x0E,                         //           stored length 14
        0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, // not interpreted
        0x12, 0x34, 0x56, 0x78,                         // record 1: offset 0x12345678
        0xFF, 0xFF, 0xFF, 0xFE,                         //           stored length 2^32 - 2
        0,    0,    0,    0,    0,    0,    0,    0,
    };
    EXPECT_EQ(fmtBigEndian32(index + fmtOffsetAt), 256u);
    EXPECT_EQ(fmtBigEndian32(index + fmtStoredAt), 14u);
    EXPECT_EQ(fmtBigEndian32(index + fmtRecordSize + fmtOffsetAt), 0x12345678u);
    EXPECT_EQ(fmtBigEndian32(index + fmtRecordSize + fmtStoredAt), 0xFFFFFFFEu);

    const std::uint8_t item[8] = {
        0xAA, 0xBB,             // not interpreted
        0x10, 0x00, 0x00, 0x00, // decoded length 16, little-endian
        0xE6, 0xF3,             // the bit stream
    };
    EXPECT_EQ(fmtLittleEndian32(item + fmtDecodedLengthAt), 16u);
    EXPECT_EQ(item[fmtHeaderSize], 0xE6);
    const std::uint8_t negative[4] = {0xFE, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(static_cast<std::int32_t>(fmtLittleEndian32(negative)), -2);

    // Writing gives the same bytes back.
    std::uint8_t big[4], little[4];
    fmtPutBigEndian32(big, 0x12345678);
    fmtPutLittleEndian32(little, 0x12345678);
    EXPECT_EQ(std::basic_string<std::uint8_t>(big, 4),
              std::basic_string<std::uint8_t>(index + fmtRecordSize, 4));
    const std::uint8_t reversed[4] = {0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(std::basic_string<std::uint8_t>(little, 4),
              std::basic_string<std::uint8_t>(reversed, 4));
}

// The window and the symbols from facts a decoded item shows: f = 611 on the
// first symbol reads the preset's first byte (worked item 2), f = 4095 the
// byte at the write position itself; the 58 lengths follow the 256 bytes.
static_assert(fmtFirstWritePos - 611 - 1 == 0);
static_assert(fmtFirstWritePos - 4095 - 1 + fmtWindowSize == fmtFirstWritePos);
static_assert(fmtWindowFill == '@');
static_assert(fmtLengthSymbol(3) == 256);
static_assert(fmtLengthSymbol(60) == 313);
static_assert(fmtSymbolCount == 314);

// The window before an item rebuilt position by position: the fill, the
// preset over its start, read from the first write position on and around.
TEST(FormatWindow, PrimedWindowIsTheWindowFromTheFirstWritePosition) {
    std::uint8_t window[4096];
    for (int pos = 0; pos < 4096; pos++) window[pos] = pos < fmtPresetSize ? presetText[pos] : '@';
    std::uint8_t primed[4096 + 1];
    primed[4096] = 0xA5; // nothing is written past the window
    fmtPrimeWindow(primed);
    for (int i = 0; i < 4096; i++) {
        ASSERT_EQ(primed[i], window[(612 + i) % 4096]) << "byte " << i;
    }
    EXPECT_EQ(primed[4096], 0xA5);
}

} // namespace
