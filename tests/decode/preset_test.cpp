#include "format/format.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The double-byte characters that occur in the block, with their Shift-JIS
// codes (first byte high).
const std::map<char32_t, std::uint16_t> shiftJis = {
    {U'⇒', 0x81CB},  {U'\u3000', 0x8140}, {U'。', 0x8142}, {U'～', 0x8160}, {U'〔', 0x816B},
    {U'〕', 0x816C}, {U'〈', 0x8171},     {U'〉', 0x8172}, {U'《', 0x8173}, {U'》', 0x8174},
    {U'「', 0x8175}, {U'」', 0x8176},     {U'『', 0x8177}, {U'』', 0x8178}, {U'【', 0x8179},
    {U'】', 0x817A}, {U'｛', 0x816F},     {U'｝', 0x8170}, {U'（', 0x8169}, {U'）', 0x816A},
    {U'，', 0x8143}, {U'［', 0x816D},     {U'］', 0x816E}, {U'が', 0x82AA}, {U'ゴ', 0x8353},
    {U'シ', 0x8356}, {U'ッ', 0x8362},     {U'ク', 0x834E},
};

// ASCII stands for itself (so "\\n" stays the two bytes '\' 'n'); anything
// else must be one of the characters above.
std::vector<std::uint8_t> toShiftJis(std::u32string_view text) {
    std::vector<std::uint8_t> out;
    for (char32_t c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<std::uint8_t>(c));
            continue;
        }
        auto it = shiftJis.find(c);
        if (it == shiftJis.end()) {
            ADD_FAILURE() << "no Shift-JIS code for U+" << std::hex << static_cast<unsigned>(c);
            continue;
        }
        out.push_back(static_cast<std::uint8_t>(it->second >> 8));
        out.push_back(static_cast<std::uint8_t>(it->second & 0xFF));
    }
    return out;
}

struct Row {
    int offset;
    int size; // including the CR LF
    std::u32string text;
    bool crlf = true;
};

const std::u32string twoNuls(2, U'\0');

const std::vector<Row> rows = {
    {0, 84, U"<TOC></TOC><TITLE>()</TITLE><YOMI1></YOMI1><BODY></YOMI1><EUTITLE></EUTITLE><BODY>"},
    {84, 90, U"⇒<A REFID=\"00000000\"></A>\\n" + std::u32string(30, U'\u3000')},
    {174, 36, U")(）（〕〔］［｝｛〉〈》《」「』『"},
    {210, 9, U"</BODY>"},
    {219, 401,
     U"<TOC><Z1:0001:>【】</Z1><Z2:0001:>【】</Z2><Z3:0002:>【】</Z3><Z4:0002:>【】</Z4>"
     U"<Z5:0003:>【】</Z5><Z6:0003:>【】</Z6><Z7:0004:>【】</Z7><Z8:0004:>【】</Z8>"
     U"<Z9:0005:>【】</Z9><Z10:0005:>【】</Z10><Z11:0006:>【】</Z11><Z12:0006:>【】</Z12>"
     U"<Z13:0007:>【】</Z13><Z14:0007:>【】</Z14><Z15:0008:>【】</Z15><Z16:0008:>【】</Z16>"
     U"<Z17:0009:>【】</Z17><Z18:0010:>【】</Z18><Z19:0010:>【】</Z19><Z20:0011:>【"},
    {620, 84,
     U"<RUBI><SPECIAL FNAME=\"ZRVゴシック\"> </SPECIAL> <SPECIAL FNAME=\"ZRVゴシック\"><RUBI>"},
    {704, 113,
     U"，<CR>。<CR>～<CR><SBREAK L=2><Z1:0001><BOLD>【】</BOLD></Z1>\\n<CR>"
     U"<SBREAK L=2><Z1:0001:><BOLD>［］</BOLD></Z1>"},
    {817, 61, U"<BODY>⇒<A REFID=\"65432100\"></A>\\n</BODY><TOC></TOC><TITLE>"},
    {878, 39, twoNuls + U"<!DOCTYPE ZRVMK SYSTEM \"ZRVMK.DTD\">"},
    {917, 9, U"<ZRVMK>"},
    {926, 8, U"<HEAD>"},
    {934, 31, U"<TITLE ID=\"C0000000\"></TITLE>"},
    {965, 23, U"<JPNTitle></JPNTitle>"},
    {988, 23, U"<EURTitle></EURTitle>"},
    {1011, 9, U"</HEAD>"},
    {1020, 10, U"<PARA>\u3000"},
    {1030, 8, U"<BODY>"},
    {1038, 8, U"<CAP1>"},
    {1046, 8, U"<CAP2>"},
    {1054, 8, U"<CAP3>"},
    {1062, 17, U"<Words></Words>"},
    {1079, 13, U"<Rub></Rub>"},
    {1092, 13, U"〈<A></A>〉"},
    {1105, 43, U"<Words>〈<Index><A></A></Index>〉</Words>"},
    {1148, 34, U"<Gai CODE=\"\"><Work>《》</Work>が"},
    {1182, 15, U"<unit></unit>"},
    {1197, 20, U"<SNotice><ENotice>"},
    {1217, 16, U"<No>（1）</No>"},
    {1233, 16, U"<No>（2）</No>"},
    {1249, 16, U"<No>（3）</No>"},
    {1265, 16, U"<No>（4）</No>"},
    {1281, 19, U"<AUTHOR></AUTHOR>"},
    {1300, 9, U"</BODY>"},
    {1309, 10, U"</ZRVMK>"},
    {1319, 2, twoNuls, false},
};

std::string hexByte(unsigned b) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", b);
    return buf;
}

// Compares expected against presetText from offset on, naming the first
// differing position.
::testing::AssertionResult presetHas(int offset, const std::vector<std::uint8_t> &expected) {
    if (offset < 0 || offset + static_cast<int>(expected.size()) > fmtPresetSize)
        return ::testing::AssertionFailure()
               << expected.size() << " bytes at " << offset << " run past the block";
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const std::uint8_t got = presetText[static_cast<std::size_t>(offset) + i];
        if (got != expected[i])
            return ::testing::AssertionFailure()
                   << "byte " << offset + static_cast<int>(i) << " is " << hexByte(got)
                   << ", expected " << hexByte(expected[i]);
    }
    return ::testing::AssertionSuccess();
}

TEST(Preset, EveryRowMatchesItsText) {
    int next = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE("row at offset " + std::to_string(row.offset));
        std::vector<std::uint8_t> bytes = toShiftJis(row.text);
        if (row.crlf) {
            bytes.push_back(0x0D);
            bytes.push_back(0x0A);
        }
        EXPECT_EQ(row.offset, next) << "rows must follow each other without gaps";
        EXPECT_EQ(static_cast<int>(bytes.size()), row.size);
        EXPECT_TRUE(presetHas(row.offset, bytes));
        next = row.offset + static_cast<int>(bytes.size());
    }
    EXPECT_EQ(next, fmtPresetSize);
}

TEST(Preset, Landmarks) {
    static_assert(fmtPresetSize == 1321);
    static_assert(sizeof presetText == 1321);

    struct Case {
        int offset;
        std::string_view bytes;
    };
    const Case cases[] = {
        {0, "<TOC"},
        {605, "<Z20:0011:>"},
        {611, "01"}, // decoding of an item starts writing at 612
        {878, std::string_view("\0\0", 2)},
        {fmtPresetSize - 2, std::string_view("\0\0", 2)},
    };
    for (const Case &c : cases) {
        std::vector<std::uint8_t> expected(c.bytes.begin(), c.bytes.end());
        EXPECT_TRUE(presetHas(c.offset, expected)) << "at offset " << c.offset;
    }
}

} // namespace
