// Whatever the encoder packs, the decoder gives back byte for byte.
#include <algorithm>

#include "encode_internal.h"
#include "format/format.h"
#include "pack_helpers.h"

namespace {

using fx::Bytes;

Bytes repeat(const Bytes &unit, std::size_t n) {
    Bytes out;
    while (out.size() < n) out.insert(out.end(), unit.begin(), unit.end());
    out.resize(n);
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes allByteValues() {
    Bytes out;
    for (int i = 0; i < 256; i++) out.push_back(static_cast<std::uint8_t>(i));
    return out;
}

// Kana and kanji in random order with few repeats: poorly compressible
// text, so a few hundred KB pass through several rebuilds of the tree.
Bytes randomKana(std::size_t n, std::uint32_t seed) {
    Bytes noise = pk::randomBytes(n, seed);
    Bytes out;
    for (std::size_t i = 0; i + 1 < n; i += 2) {
        out.push_back(static_cast<std::uint8_t>(0x82 + noise[i] % 8));
        out.push_back(static_cast<std::uint8_t>(0x9F + noise[i + 1] % 80));
    }
    return out;
}

struct Case {
    const char *name;
    Bytes text;
};

std::vector<Case> cases() {
    const Bytes preset(presetText, presetText + fmtPresetSize);
    const Bytes block = pk::randomBytes(4096, 7);
    const Bytes block4097 = pk::randomBytes(4097, 8);
    return {
        {"empty", {}},
        {"one_byte", {0x41}},
        {"one_lead_byte", {0x81}},
        {"two_bytes", {0x00, 0xFF}},
        {"all_byte_values", allByteValues()},
        {"all_byte_values_three_times", repeat(allByteValues(), 768)},
        {"random_bytes", pk::randomBytes(5000, 1)},
        {"run_of_one_byte", Bytes(10000, 0x20)},
        {"run_of_window_fill", Bytes(3000, 0x40)},
        {"period_two", repeat(fx::bytesOf("ab"), 999)},
        {"period_seven", repeat(fx::bytesOf("<CR>\x81\x42z"), 5000)},
        {"preset_itself", preset},
        {"preset_twice", concat({preset, preset})},
        {"markup_like_the_preset",
         fx::bytesOf("<TOC>\x88\x9f</TOC><TITLE>(\x82\xa0)</TITLE><YOMI1>\x82\xa0</YOMI1>"
                     "<BODY><Z1:0001:>\x81\x79\x96\xbc\x81\x7a</Z1><CR><SBREAK L=2></BODY>")},
        {"block_repeated_at_4096", concat({block, block})},
        {"block_repeated_at_4097", concat({block4097, block4097})},
        {"corpus_wrapping_the_window", pk::corpusText(1, 0, 20000)},
        {"random_kana_through_rebuilds", randomKana(400000, 3)},
        {"random_bytes_through_rebuilds", pk::randomBytes(150000, 4)},
    };
}

// Cases print as their names in failure messages.
void PrintTo(const Case &c, std::ostream *os) {
    *os << c.name << " (" << c.text.size() << " bytes)";
}

struct RoundTrip : ::testing::TestWithParam<std::tuple<Case, EncParse>> {
    void TearDown() override { encSetParse(encParseCost); }
};

TEST_P(RoundTrip, DecodesToTheInput) {
    const auto &[c, parse] = GetParam();
    encSetParse(parse);
    pk::TempDir dir;
    ASSERT_EQ(pk::pack(dir.path, {c.text}), "");
    const auto items = pk::unpack(dir.path);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_TRUE(items[0] == c.text) << "decoded " << items[0].size() << " of " << c.text.size();
}

INSTANTIATE_TEST_SUITE_P(Inputs, RoundTrip,
                         ::testing::Combine(::testing::ValuesIn(cases()),
                                            ::testing::Values(encParseCost, encParseGreedy)),
                         [](const auto &p) {
                             return std::string(std::get<0>(p.param).name) +
                                    (std::get<1>(p.param) == encParseCost ? "_cost" : "_greedy");
                         });

// The literal model's decoder (bit by bit, full-scan partner search) agrees
// too, on a text long enough to rebuild the tree.
TEST(RoundTripModel, LiteralDecoderAgrees) {
    const Bytes text = pk::corpusText(5, 0, 120000);
    pk::TempDir dir;
    ASSERT_EQ(pk::pack(dir.path, {text, randomKana(70000, 9)}), "");
    const auto items = pk::unpack(dir.path, true);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_TRUE(items[0] == text);
    EXPECT_TRUE(items[1] == randomKana(70000, 9));
}

// Many items in one store: each starts from a fresh tree and window, and
// the index places every one.
TEST(RoundTripStore, ThousandsOfItems) {
    std::vector<Bytes> items;
    std::uint8_t entry[corpusEntryMax];
    for (std::uint64_t i = 0; i < 3000; i++) {
        const std::size_t n = corpusEntry(11, i, entry);
        Bytes text(entry, entry + n);
        // Now and then an item that is empty or too short for any match.
        if (i % 97 == 0) text.clear();
        if (i % 89 == 0) text.resize(2);
        items.push_back(text);
    }
    pk::TempDir dir;
    ASSERT_EQ(pk::pack(dir.path, items), "");
    const auto decoded = pk::unpack(dir.path);
    ASSERT_EQ(decoded.size(), items.size());
    for (std::size_t i = 0; i < items.size(); i++) {
        ASSERT_TRUE(decoded[i] == items[i]) << "item " << i;
    }
}

// The chunked form of the raw output: an item of 300 KB comes in chunks
// that join to its text, and a sink that refuses a chunk stops the item
// there (-2) with no later chunk handed over.
TEST(RoundTripStore, ChunksJoinAndARefusalStopsTheItem) {
    const Bytes text = pk::corpusText(5, 0, 300000);
    pk::TempDir dir;
    ASSERT_EQ(pk::pack(dir.path, {text}), "");
    struct Sink {
        Bytes joined;
        int chunks = 0;
        int refuseAt = -1; // the chunk refused, -1 for none
    };
    const DecSink put = [](void *context, const std::uint8_t *bytes, std::size_t n) {
        auto &s = *static_cast<Sink *>(context);
        EXPECT_LE(n, std::size_t{65536});
        if (s.chunks++ == s.refuseAt) return -1;
        s.joined.insert(s.joined.end(), bytes, bytes + n);
        return 0;
    };
    for (const int refuseAt : {-1, 0, 2}) {
        SCOPED_TRACE("refused chunk " + std::to_string(refuseAt));
        ASSERT_EQ(itemOpenAt(dir.path.c_str()), 0);
        const std::int32_t length = itemSelect(0);
        ASSERT_EQ(length, static_cast<std::int32_t>(text.size()));
        Sink s;
        s.refuseAt = refuseAt;
        const int result = decRawToSink(length, put, &s);
        itemClose();
        if (refuseAt < 0) {
            EXPECT_EQ(result, 0);
            EXPECT_TRUE(s.joined == text);
            EXPECT_GE(s.chunks, 5);
        } else {
            EXPECT_EQ(result, -2);
            EXPECT_EQ(s.chunks, refuseAt + 1);
            EXPECT_TRUE(std::equal(s.joined.begin(), s.joined.end(), text.begin()));
        }
    }
}

// The cases that claim to reach the window's oldest byte or the preset
// really do, so the round trips above exercise those distances.
TEST(RoundTripReach, DistancesTheCasesClaim) {
    struct Want {
        const char *name;
        Bytes text;
        int f;
        bool present;
    };
    const Bytes block = pk::randomBytes(4096, 7);
    const Bytes block4097 = pk::randomBytes(4097, 8);
    const Bytes preset(presetText, presetText + fmtPresetSize);
    const Want wants[] = {
        {"oldest byte of the window", concat({block, block}), 4095, true},
        {"one byte beyond the window", concat({block4097, block4097}), 4096, false},
        {"run of one byte copies from just behind", Bytes(100, 0x20), 0, true},
    };
    std::vector<EncSymbol> symbols(20000);
    for (const Want &w : wants) {
        encRecordSymbols(symbols.data(), symbols.size());
        const EncWriter discard{[](void *, const std::uint8_t *, std::size_t) { return 0; },
                                nullptr};
        ASSERT_GE(encItem(w.text.data(), w.text.size(), &discard), 0);
        const std::size_t n = std::min(encRecordedSymbols(), symbols.size());
        encRecordSymbols(nullptr, 0);
        const bool seen = std::any_of(symbols.begin(), symbols.begin() + static_cast<long>(n),
                                      [&](const EncSymbol &s) { return s.len > 0 && s.f == w.f; });
        EXPECT_EQ(seen, w.present) << w.name;
        const bool beyond = std::any_of(symbols.begin(), symbols.begin() + static_cast<long>(n),
                                        [](const EncSymbol &s) { return s.f > 4095; });
        EXPECT_FALSE(beyond) << w.name;
    }
}

} // namespace
