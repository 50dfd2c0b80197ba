// The encoder's parts against slow or independent counterparts: the match
// finder against a byte-by-byte scan, the position code against the
// decoder's reading of it, and the worked items against their known bits.
#include <gtest/gtest.h>

#include "bits.h"
#include "encode_internal.h"
#include "format/format.h"
#include "pack_helpers.h"

// Symbols compare by kind, length and distance (or byte).
static bool operator==(const EncSymbol &a, const EncSymbol &b) {
    return a.len == b.len && a.f == b.f;
}

namespace {

using fx::Bytes;

// The hash chains find, for every position, the same nearest source per
// length as a scan of the whole window, including sources in the primed
// window and sources that overlap the match.
TEST(MatchFinder, AgreesWithFullScan) {
    struct Case {
        const char *name;
        Bytes text;
    };
    const Bytes preset(presetText, presetText + fmtPresetSize);
    Bytes wrapped = pk::corpusText(2, 0, 9000);
    const Bytes block = pk::randomBytes(4096, 3);
    Bytes twice = block;
    twice.insert(twice.end(), block.begin(), block.end());
    const Case cases[] = {
        {"markup", pk::corpusText(3, 0, 2500)},
        {"text past the joined start", wrapped},
        {"window fill run", Bytes(300, 0x40)},
        {"preset reread", preset},
        {"period three", fx::bytesOf(std::string(600, 'x') + "abcabcabcabcabcab")},
        {"short tail", fx::bytesOf("<T")},
        // Random bytes repeated once: their only sources lie exactly a
        // window back, at f = 4095.
        {"source a window back", twice},
    };
    constexpr int everySource = 1 << 20;
    for (const Case &c : cases) {
        encHistoryBegin(c.text.data(), c.text.size());
        const std::int64_t end = encTextStart + static_cast<std::int64_t>(c.text.size());
        for (std::int64_t pos = encTextStart; pos < end; pos++) {
            EncMatch fast[fmtMaxMatch];
            EncMatch slow[fmtMaxMatch];
            const int nFast = encFindMatches(pos, fmtMaxMatch, everySource, fast);
            const int nSlow = encFindMatchesFullScan(pos, fmtMaxMatch, slow);
            ASSERT_EQ(nFast, nSlow) << c.name << " at text byte " << pos - encTextStart;
            for (int i = 0; i < nFast; i++) {
                ASSERT_EQ(fast[i].len, slow[i].len) << c.name << " at " << pos - encTextStart;
                ASSERT_EQ(fast[i].f, slow[i].f) << c.name << " at " << pos - encTextStart;
            }
            encHistoryInsert(pos);
        }
    }
}

// The history the match finder sees is the decoder's primed window, read
// from the first write position on.
TEST(MatchFinder, HistoryIsThePrimedWindow) {
    const Bytes text = fx::bytesOf("xyz");
    encHistoryBegin(text.data(), text.size());
    struct Row {
        std::int64_t pos;
        std::uint8_t byte;
    };
    const Row rows[] = {
        {0, presetText[612]}, // the oldest byte: where the first write goes
        {fmtPresetSize - 613, presetText[fmtPresetSize - 1]},
        {fmtPresetSize - 612, 0x40}, // the fill after the preset
        {4096 - 612, presetText[0]}, // the newest part: preset bytes 0 to 611
        {4095, presetText[611]},
        {encTextStart, 'x'},
        {encTextStart + 2, 'z'},
    };
    for (const Row &r : rows) EXPECT_EQ(encHistoryByte(r.pos), r.byte) << "position " << r.pos;
}

// The code the encoder writes for every f, read back the way the decoder
// reads it: the 5-bit prefix names the count of extra bits and the f they
// count from.
TEST(PositionCode, EveryDistanceReadsBack) {
    for (int f = 0; f < fmtDistanceCount; f++) {
        const FmtPositionCode p = fmtPositionCodeOf(f);
        const int extra = p.bits - fmtPrefixBits;
        const FmtPrefix &prefix = fmtPrefixes.of[p.value >> extra];
        ASSERT_EQ(prefix.extraBits, extra) << "f = " << f;
        ASSERT_EQ(prefix.baseF + (p.value & ((1 << extra) - 1)), f) << "f = " << f;
    }
}

TEST(PositionCode, ClassEdges) {
    struct Row {
        int f, code, bits;
    };
    const Row rows[] = {
        {0, 0x000, 9},      {63, 0x03F, 9},     {64, 0x080, 10},    {255, 0x13F, 10},
        {256, 0x280, 11},   {611, 0x3E3, 11},   {767, 0x47F, 11},   {768, 0x900, 12},
        {1535, 0xBFF, 12},  {1536, 0x1800, 13}, {3071, 0x1DFF, 13}, {3072, 0x3C00, 14},
        {4095, 0x3FFF, 14},
    };
    for (const Row &r : rows) {
        const FmtPositionCode p = fmtPositionCodeOf(r.f);
        EXPECT_EQ(p.value, r.code) << "f = " << r.f;
        EXPECT_EQ(p.bits, r.bits) << "f = " << r.f;
    }
}

struct Coded {
    Bytes bytes;
    std::vector<EncSymbol> symbols;
};

Coded encode(const Bytes &text) {
    Coded c;
    c.symbols.resize(text.size() + 1);
    encRecordSymbols(c.symbols.data(), c.symbols.size());
    const EncWriter into{[](void *bytes, const std::uint8_t *p, std::size_t n) {
                             auto *out = static_cast<Bytes *>(bytes);
                             out->insert(out->end(), p, p + n);
                             return 0;
                         },
                         &c.bytes};
    const std::int64_t stored = encItem(text.data(), text.size(), &into);
    EXPECT_EQ(stored, static_cast<std::int64_t>(c.bytes.size()));
    c.symbols.resize(encRecordedSymbols());
    encRecordSymbols(nullptr, 0);
    return c;
}

// Worked item 1: A, B, a match of 3 two bytes back that repeats its own
// output, then the pair 0x82 0xA0. The known item has one more byte of
// padding after the 51 bits; the encoder pads only to the next byte.
TEST(WorkedItems, ABABAAndAKanaPair) {
    const Coded c = encode(fx::bytesOf("ABABA\x82\xa0"));
    const std::vector<EncSymbol> want = {{0, 0x41}, {0, 0x42}, {3, 1}, {0, 0x82}, {0, 0xA0}};
    EXPECT_EQ(c.symbols, want);
    const Bytes known = fx::hex("00 00 07 00 00 00 E6 F3 A3 00 21 C5 80 13");
    ASSERT_EQ(c.bytes.size(), 13u);
    EXPECT_TRUE(std::equal(c.bytes.begin(), c.bytes.end() - 1, known.begin()));
    // Of the last byte, the top three bits are code, the rest padding.
    EXPECT_EQ(c.bytes[12] & 0xE0, known[12] & 0xE0);
    EXPECT_EQ(c.bytes[12] & 0x1F, 0);
}

// Worked item 2: "<TOC" is one match of 4 into the preset. The preset holds
// "<TOC" at bytes 0 (f = 611) and 219 (f = 392); both distances cost 11 bits
// and the encoder takes the nearer one, so its bits differ from the known
// item only in the position code.
TEST(WorkedItems, TocIsOneMatchIntoThePreset) {
    const Coded c = encode(fx::bytesOf("<TOC"));
    const std::vector<EncSymbol> want = {{4, 392}};
    EXPECT_EQ(c.symbols, want);
    fx::BitWriter w;
    fx::codeReset();
    fx::codeMatch(w, 4, 392);
    EXPECT_EQ(c.bytes, fx::itemOf(4, w));
    EXPECT_EQ(c.bytes, fx::hex("00 00 04 00 00 00 8D 61 00"));
    // The known item's choice, f = 611, has the same code for the length.
    fx::BitWriter known;
    fx::codeReset();
    fx::codeMatch(known, 4, 611);
    EXPECT_EQ(fx::itemOf(4, known), fx::hex("00 00 04 00 00 00 8D 7C 60"));
}

// Each symbol's code is the leaf's path in the live tree: the encoder, on
// the tree plain decoding uses, and the fixture's bit writer, on the literal
// model's tree, agree over a text that adapts the tree a lot (and rebuilds
// it).
TEST(SymbolCodes, AgreeWithTheFixtureWriter) {
    const Bytes text = pk::corpusText(4, 0, 80000);
    const Coded c = encode(text);
    fx::BitWriter w;
    fx::codeReset();
    for (const EncSymbol &s : c.symbols) {
        if (s.len == 0) {
            fx::codeLiteral(w, static_cast<std::uint8_t>(s.f));
        } else {
            fx::codeMatch(w, s.len, s.f);
        }
    }
    EXPECT_TRUE(c.bytes == fx::itemOf(static_cast<std::int32_t>(text.size()), w));
}

// Compression worth having: the cost parse does not lose to the greedy one
// on markup, and both shrink it well below its size.
TEST(Parse, CostParseBeatsGreedy) {
    const Bytes text = pk::corpusText(6, 0, 200000);
    const std::size_t costSize = encode(text).bytes.size();
    encSetParse(encParseGreedy);
    const std::size_t greedySize = encode(text).bytes.size();
    encSetParse(encParseCost);
    EXPECT_LT(costSize, greedySize);
    EXPECT_LT(costSize, text.size() * 3 / 4);
}

// A writer that fails makes the item fail, and a text too large for the
// header is refused before anything is read.
TEST(EncItem, Failures) {
    const EncWriter failing{[](void *, const std::uint8_t *, std::size_t) { return -1; }, nullptr};
    const Bytes text = fx::bytesOf("abc");
    EXPECT_EQ(encItem(text.data(), text.size(), &failing), -1);
    const EncWriter discard{[](void *, const std::uint8_t *, std::size_t) { return 0; }, nullptr};
    EXPECT_EQ(encItem(nullptr, encItemMax + 1, &discard), -1);
    // Three 9-bit literals: the header and 4 bytes.
    EXPECT_EQ(encItem(text.data(), text.size(), &discard), 6 + 4);
}

// A long item reports its progress every 64 KiB of text, under either
// parse, and the report changes nothing of what is written. The greedy
// parse reports at the first step at or past each 64 KiB mark.
TEST(EncItem, ReportsProgress) {
    static std::vector<std::size_t> reports;
    const Bytes text = pk::corpusText(3, 0, 200000);
    const std::size_t plain = encode(text).bytes.size();
    struct Case {
        EncParse parse;
        const char *name;
    };
    for (const Case c : {Case{encParseCost, "cost"}, Case{encParseGreedy, "greedy"}}) {
        encSetParse(c.parse);
        const std::size_t unreported = encode(text).bytes.size();
        reports.clear();
        encSetProgress([](std::size_t done) { reports.push_back(done); });
        const std::size_t reported = encode(text).bytes.size();
        encSetProgress(nullptr);
        encSetParse(encParseCost);
        EXPECT_EQ(reported, unreported) << c.name;
        ASSERT_EQ(reports.size(), text.size() / 65536) << c.name;
        for (std::size_t k = 0; k < reports.size(); k++) {
            EXPECT_GE(reports[k], (k + 1) * 65536) << c.name;
            EXPECT_LT(reports[k], (k + 1) * 65536 + 60) << c.name;
        }
    }
    EXPECT_EQ(encode(text).bytes.size(), plain);
}

} // namespace
