// Malformed stores: each fixture is run for a named item and for the
// all-items walk, with the exact standard output, standard error and status.
#include <gtest/gtest.h>

#include <cstdio>

#include "fixture.h"

namespace {

using fx::Bytes;

const std::string selectFailed = "quorlin: itemSelect() failed\r\n";
const std::string item0EndsEarly = "quorlin: item 0: data ends early\r\n";
const std::string item1EndsEarly = "quorlin: item 1: data ends early\r\n";

// Worked item: one match of length 4 at distance value 611, "<TOC".
const Bytes tocItem = fx::hex("00 00 04 00 00 00 8D 7C 60");

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct Expect {
    std::string out;
    std::string err;
    int status;
};

struct MalformedCase {
    const char *name;
    Bytes index;
    Bytes data;
    std::string item; // the named item's number
    Expect named;     // quorlin ITEM
    Expect all;       // quorlin (every item from 0)
    Expect verbose;   // quorlin -v ITEM
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const MalformedCase &c, std::ostream *os) {
    *os << c.name;
}

// A store whose record 0 is there but cannot be selected: every run fails
// with the message, the walk over all items as well.
MalformedCase unselectable(const char *name, Bytes index, Bytes data) {
    return {name,
            std::move(index),
            std::move(data),
            "0",
            {"", selectFailed, 1},
            {"", selectFailed, 1},
            {"itemno=0\r\n", selectFailed, 1}};
}

// A good record (item 0, "<TOC") and the first `stray` bytes of a second
// one: record 1 is there, cut off.
MalformedCase partialLastRecord(const char *name, std::size_t stray) {
    return {name,
            concat({fx::indexOf({{0, 9}}), Bytes(stray, 0)}),
            tocItem,
            "1",
            {"", selectFailed, 1},
            {"<TOC\r\n", selectFailed, 1},
            {"itemno=1\r\n", selectFailed, 1}};
}

// An item of 900 printable literals, over 1000 bytes coded, of which
// item.dat holds only the first `kept` bytes (more than 512): the select
// reads 512 of them, the refill falls short and closes item.dat. It prints
// the literals wholly within those 512 bytes; with -v their trace lines,
// then the path bits read of the literal cut in two.
struct CutItem {
    Bytes item; // the whole item, header included
    Bytes kept; // what is left of it in item.dat
    std::string text;
    std::string trace;
};

CutItem cutItem() {
    constexpr int bitsBeforeCut = (512 - 6) * 8;
    CutItem c;
    fx::BitWriter w;
    fx::codeReset();
    for (int i = 0; i < 900; i++) {
        const auto ch = static_cast<std::uint8_t>(' ' + (i * 13) % 95);
        const std::string path = fx::pathOf(ch);
        const int before = w.used;
        fx::codeLiteral(w, ch);
        if (w.used <= bitsBeforeCut) {
            char line[32];
            std::snprintf(line, sizeof line, ": char=0x%02x '%c'\r\n", ch, ch);
            c.text += static_cast<char>(ch);
            c.trace += path + line;
        } else if (before < bitsBeforeCut) {
            c.trace += path.substr(0, static_cast<std::size_t>(bitsBeforeCut - before));
        }
    }
    c.item = fx::itemOf(900, w);
    c.kept.assign(c.item.begin(), c.item.begin() + 700);
    return c;
}

std::vector<MalformedCase> cases() {
    const std::string itemno0 = "itemno=0\r\n";
    const std::string itemno1 = "itemno=1\r\n";
    const CutItem cut = cutItem();
    const auto cutSize = static_cast<std::uint32_t>(cut.item.size());
    return {
        // No record at all: the walk ends quietly, a named item does not exist.
        {"EmptyIndex",
         {},
         tocItem,
         "0",
         {"", selectFailed, 1},
         {"", "", 0},
         {itemno0, selectFailed, 1}},
        partialLastRecord("PartialLastRecordOf1Byte", 1),
        partialLastRecord("IndexNotMultipleOf16", 7),
        partialLastRecord("PartialLastRecordOf15Bytes", 15),
        unselectable("OffsetBeyondEnd", fx::indexOf({{100, 9}}), tocItem),
        // The walk prints item 0, then meets record 1 that leads nowhere.
        {"OffsetBeyondEndAfterGoodItem",
         fx::indexOf({{0, 9}, {100, 9}}),
         tocItem,
         "1",
         {"", selectFailed, 1},
         {"<TOC\r\n", selectFailed, 1},
         {itemno1, selectFailed, 1}},
        // Offsets are signed 32-bit positions: 2^31 cannot be sought.
        unselectable("OffsetTwoToThe31", fx::indexOf({{0x80000000u, 9}}), tocItem),
        unselectable("OffsetAllOnes", fx::indexOf({{0xFFFFFFFFu, 9}}), tocItem),
        // Shorter than the 6-byte header: there is no decoded length.
        unselectable("StoredLength0", fx::indexOf({{0, 0}}), tocItem),
        unselectable("StoredLength5", fx::indexOf({{0, 5}}), tocItem),
        // A header and no bits: the first bit is already missing.
        {"StoredLength6",
         fx::indexOf({{0, 6}}),
         tocItem,
         "0",
         {"\r\n", item0EndsEarly, 1},
         {"\r\n", item0EndsEarly, 1},
         {itemno0 + "\r\nrdispmax = 0\r\n", item0EndsEarly, 1}},
        // One byte of bits: the length code of the match, then its position
        // code is cut short and nothing is copied.
        {"StoredLength7",
         fx::indexOf({{0, 7}}),
         tocItem,
         "0",
         {"\r\n", item0EndsEarly, 1},
         {"\r\n", item0EndsEarly, 1},
         {itemno0 + "10001101: \r\nrdispmax = 0\r\n", item0EndsEarly, 1}},
        // Item 0 is cut (as StoredLength7), item 1 is sound: the walk
        // reports item 0 and goes on.
        {"CutItemThenSoundItem",
         fx::indexOf({{0, 7}, {0, 9}}),
         tocItem,
         "0",
         {"\r\n", item0EndsEarly, 1},
         {"\r\n<TOC\r\n", item0EndsEarly, 1},
         {itemno0 + "10001101: \r\nrdispmax = 0\r\n", item0EndsEarly, 1}},
        // The first read asks for 512 bytes, which item.dat does not have.
        unselectable("StoredLengthTwoToThe31", fx::indexOf({{0, 0x80000000u}}), tocItem),
        unselectable("StoredLengthAllOnes", fx::indexOf({{0, 0xFFFFFFFFu}}), tocItem),
        unselectable("NegativeDecodedLength", fx::indexOf({{0, 9}}),
                     fx::hex("00 00 FF FF FF FF 8D 7C 60")),
        // The largest decoded length with 24 bits: the match, then the five
        // bits left over start a symbol that never ends.
        {"HugeDecodedLength",
         fx::indexOf({{0, 9}}),
         fx::hex("00 00 FF FF FF 7F 8D 7C 60"),
         "0",
         {"<TOC\r\n", item0EndsEarly, 1},
         {"<TOC\r\n", item0EndsEarly, 1},
         {itemno0 + "10001101: len=4, disp=995(01111100011[d])->611 '<TOC'\r\n00000\r\nrdispmax = "
                    "611\r\n",
          item0EndsEarly, 1}},
        // Eight of the nine bits of the literal 'A'.
        {"EndsInsideSymbol",
         fx::indexOf({{0, 7}}),
         fx::hex("00 00 01 00 00 00 E6"),
         "0",
         {"\r\n", item0EndsEarly, 1},
         {"\r\n", item0EndsEarly, 1},
         {itemno0 + "11100110\r\nrdispmax = 0\r\n", item0EndsEarly, 1}},
        // item.dat cut inside item 1 of three: item 1 prints what it has and
        // closes item.dat, so the sound record of item 2 cannot be selected.
        {"ItemFileCutInsideItem1",
         fx::indexOf({{0, 9}, {9, cutSize}, {0, 9}}),
         concat({tocItem, cut.kept}),
         "1",
         {cut.text + "\r\n", item1EndsEarly, 1},
         {"<TOC\r\n" + cut.text + "\r\n", item1EndsEarly + selectFailed, 1},
         {itemno1 + cut.trace + "\r\nrdispmax = 0\r\n", item1EndsEarly, 1}},
        // The same cut in the last item: after it the index has no byte left,
        // so the walk ends there without a select failure.
        {"ItemFileCutInsideLastItem",
         fx::indexOf({{0, 9}, {9, cutSize}}),
         concat({tocItem, cut.kept}),
         "1",
         {cut.text + "\r\n", item1EndsEarly, 1},
         {"<TOC\r\n" + cut.text + "\r\n", item1EndsEarly, 1},
         {itemno1 + cut.trace + "\r\nrdispmax = 0\r\n", item1EndsEarly, 1}},
        // Two records over the same bytes, and a third that starts inside them
        // at a header of its own (bytes 9-17 repeat the item).
        {"OverlappingItems",
         fx::indexOf({{0, 9}, {0, 9}, {9, 9}}),
         concat({tocItem, tocItem}),
         "2",
         {"<TOC\r\n", "", 0},
         {"<TOC\r\n<TOC\r\n<TOC\r\n", "", 0},
         {"itemno=2\r\n10001101: len=4, disp=995(01111100011[d])->611 '<TOC'\r\n\r\nrdispmax = "
          "611\r\n",
          "", 0}},
        unselectable("EmptyItemFile", fx::indexOf({{0, 9}}), {}),
    };
}

class MalformedStore : public testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedStore, NamedAllAndVerbose) {
    const MalformedCase &c = GetParam();
    const std::string dir = fx::tempDir();
    fx::writeStore(dir, c.index, c.data);
    const struct {
        const char *what;
        std::vector<std::string> args;
        const Expect &expect;
    } runs[] = {
        {"named", {c.item}, c.named}, {"all", {}, c.all}, {"-v", {"-v", c.item}, c.verbose}};
    for (const auto &r : runs) {
        const fx::RunResult got = fx::run(dir, r.args);
        EXPECT_EQ(got.out, r.expect.out) << r.what;
        EXPECT_EQ(got.err, r.expect.err) << r.what;
        EXPECT_EQ(got.status, r.expect.status) << r.what;
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, MalformedStore, testing::ValuesIn(cases()),
                         [](const auto &param) { return std::string(param.param.name); });

// An item whose stored length runs past the end of item.dat: the first 512
// bytes arrive with the select, the refill then falls short, its bytes are
// lost and item.dat is closed. The item therefore prints exactly as an item
// of 512 stored bytes would, and the walk over all items fails at the next
// record, although that record is sound.
TEST(MalformedStore, ShortRefillClosesTheFileForTheRest) {
    Bytes bits(700);
    std::uint32_t state = 12345;
    for (std::uint8_t &b : bits) {
        state = state * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(state >> 16);
    }
    // Item 1 ("<TOC") lies first in item.dat; item 0 after it, to the end.
    const Bytes longItem = concat({fx::itemHeader(1000000), bits});
    const Bytes data = concat({tocItem, longItem});
    const auto itemSize = static_cast<std::uint32_t>(longItem.size());

    const std::string first512 = fx::tempDir();
    fx::writeStore(first512, fx::indexOf({{9, 512}, {0, 9}}), data);
    const std::string bad = fx::tempDir();
    fx::writeStore(bad, fx::indexOf({{9, itemSize + 100}, {0, 9}}), data);

    // Cut at 512 bytes by its record, the item's bits run out there too.
    const fx::RunResult expected = fx::run(first512, {"0"});
    ASSERT_EQ(expected.err, item0EndsEarly);
    ASSERT_GT(expected.out.size(), 100u);
    // Sanity: in that store item.dat stays open and the walk goes on.
    EXPECT_TRUE(fx::run(first512, {}).out == expected.out + "<TOC\r\n");

    const fx::RunResult all = fx::run(bad, {});
    EXPECT_TRUE(all.out == expected.out) << "the walk must stop after item 0";
    EXPECT_EQ(all.err, item0EndsEarly + selectFailed);
    EXPECT_EQ(all.status, 1);
    const fx::RunResult named = fx::run(bad, {"0"});
    EXPECT_TRUE(named.out == expected.out);
    EXPECT_EQ(named.err, item0EndsEarly);
    EXPECT_EQ(named.status, 1);
    // Each run opens the files anew: the sound item 1 still prints when named.
    EXPECT_EQ(fx::run(bad, {"1"}).out, "<TOC\r\n");
}

// An item whose bits end exactly with the 512 bytes the select reads, its
// stored length running past the end of item.dat: nothing after its last
// symbol is asked of the reader, so no refill falls short, item.dat stays
// open and the walk goes on to the sound record after it.
TEST(MalformedStore, ItemEndingWithItsFirstBytesLeavesTheFileOpen) {
    // Literals of the model's tree, to exactly the bits that fill 512 bytes:
    // the shortest code while there is room for two more, then a byte whose
    // code takes just what is left.
    const int bitsWanted = (512 - 6) * 8;
    const auto codeLength = [](int byte) { return static_cast<int>(fx::pathOf(byte).size()); };
    fx::codeReset();
    fx::BitWriter w;
    std::int32_t count = 0;
    while (w.used < bitsWanted) {
        const int left = bitsWanted - w.used;
        int shortest = 0;
        int fits = -1;
        for (int b = 0; b < 256; b++) {
            if (codeLength(b) < codeLength(shortest)) shortest = b;
            if (codeLength(b) == left) fits = b;
        }
        const bool roomForTwo = left - codeLength(shortest) >= 2 * codeLength(shortest);
        fx::codeLiteral(w, static_cast<std::uint8_t>(fits >= 0 && !roomForTwo ? fits : shortest));
        count++;
    }
    ASSERT_EQ(w.used, bitsWanted);
    const Bytes item = fx::itemOf(count, w);
    ASSERT_EQ(item.size(), 512u);
    const Bytes data = concat({tocItem, item});

    const std::string exact = fx::tempDir();
    fx::writeStore(exact, fx::indexOf({{9, 512}, {0, 9}}), data);
    const fx::RunResult expected = fx::run(exact, {"0"});
    ASSERT_EQ(expected.err, "");
    ASSERT_EQ(expected.status, 0);

    const std::string past = fx::tempDir();
    fx::writeStore(past, fx::indexOf({{9, 600}, {0, 9}}), data);
    const fx::RunResult all = fx::run(past, {});
    EXPECT_TRUE(all.out == expected.out + "<TOC\r\n");
    EXPECT_EQ(all.err, "");
    EXPECT_EQ(all.status, 0);
    // The extractor reads with the same decoder: item 1 follows whole.
    const fx::RunResult raw = fx::run(past, {}, false, fx::quorlinPath() + "-unpack");
    EXPECT_EQ(raw.err, "");
    EXPECT_EQ(raw.status, 0);
    EXPECT_TRUE(raw.out.ends_with("<TOC")) << raw.out.substr(raw.out.size() - 10);
}

} // namespace
