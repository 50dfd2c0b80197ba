// itemGetBits over the 512-byte runs of an item: continuity across runs,
// the end of the stream, an item.dat that ends early, and the open/close
// bookkeeping.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "fixture.h"
#include "item/item.h"
#include "store_dir.h"

namespace {

using fx::Bytes;

// An item of `stored` bytes whose stream bytes follow a pattern that never
// repeats with period 512, so a run read twice or skipped shows up.
Bytes patternItem(std::size_t stored, std::int32_t decoded) {
    Bytes item = fx::itemHeader(decoded);
    for (std::size_t i = 6; i < stored; i++) {
        item.push_back(static_cast<std::uint8_t>((i * 7 + i / 256) ^ 0x5A));
    }
    return item;
}

// The value of `k` bits of `item` starting at stream bit `bit`.
std::int32_t bitsAt(const Bytes &item, std::size_t bit, int k) {
    std::int32_t v = 0;
    for (int i = 0; i < k; i++, bit++) v = v * 2 + (item[6 + bit / 8] >> (7 - bit % 8) & 1);
    return v;
}

// Reads the whole stream of a selected item k bits at a time and checks
// every value, then that the item ends where its bytes end.
void expectWholeStream(const Bytes &item, int k) {
    const std::size_t bits = (item.size() - 6) * 8;
    std::size_t at = 0;
    for (; at + static_cast<std::size_t>(k) <= bits; at += static_cast<std::size_t>(k)) {
        ASSERT_EQ(itemGetBits(k), bitsAt(item, at, k)) << "at stream bit " << at;
    }
    // A call that wants more bits than are left gets -1, and so does every
    // later call.
    if (at < bits) {
        EXPECT_EQ(itemGetBits(k), -1);
    }
    EXPECT_EQ(itemGetBits(1), -1);
    EXPECT_EQ(itemGetBits(1), -1);
}

struct SizeCase {
    std::size_t stored;
    int k;
};

void PrintTo(const SizeCase &c, std::ostream *os) {
    *os << "stored " << c.stored << ", k " << c.k;
}

// Item sizes around the 512-byte runs: one run, a run ending exactly at the
// item's end, a refill of one byte, the 1000-byte item (512 then 488), and
// three runs; k = 9 makes calls straddle the run boundaries.
const SizeCase sizeCases[] = {
    {7, 8},   {100, 9},  {511, 9},  {512, 8},  {512, 9},  {513, 8},
    {513, 1}, {1000, 9}, {1000, 7}, {1030, 9}, {1024, 8}, {1537, 9},
};

struct WholeStream : StoreDir, ::testing::WithParamInterface<SizeCase> {};

TEST_P(WholeStream, ContinuousAcrossRunsThenEnds) {
    const SizeCase &c = GetParam();
    const Bytes item = patternItem(c.stored, 123);
    // A second item after it shows that item.dat stays open after a regular end.
    fx::writeItems(dir, {item, patternItem(20, 9)});
    ASSERT_EQ(itemOpen(), 0);
    ASSERT_EQ(itemSelect(0), 123);
    expectWholeStream(item, c.k);
    EXPECT_EQ(itemSelect(1), 9);
    EXPECT_EQ(itemSelect(0), 123);
    EXPECT_EQ(itemGetBits(8), bitsAt(item, 0, 8));
}

INSTANTIATE_TEST_SUITE_P(Item, WholeStream, ::testing::ValuesIn(sizeCases), [](const auto &p) {
    return "stored" + std::to_string(p.param.stored) + "k" + std::to_string(p.param.k);
});

// The 1000-byte item of a file that ends after 700 bytes: the select reads
// 512, the bits of those bytes arrive, and the refill that falls short
// closes item.dat, so no item can be selected any more.
TEST_F(StoreDir, ItemDataEndingEarlyClosesTheStore) {
    const Bytes small = patternItem(10, 4);
    Bytes data = small;
    const Bytes big = patternItem(1000, 77);
    data.insert(data.end(), big.begin(), big.begin() + 700);
    fx::writeStore(dir, fx::indexOf({{0, 10}, {10, 1000}}), data);
    ASSERT_EQ(itemOpen(), 0);
    ASSERT_EQ(itemSelect(1), 77);
    for (std::size_t at = 0; at < 506 * 8; at += 8) {
        ASSERT_EQ(itemGetBits(8), bitsAt(big, at, 8)) << "at stream bit " << at;
    }
    EXPECT_EQ(itemGetBits(1), -1);
    EXPECT_EQ(itemGetBits(1), -1);
    EXPECT_EQ(itemSelect(0), -1);
    EXPECT_EQ(itemGetBits(1), -1);
    EXPECT_EQ(itemSelect(1), -1);
    // Opening again brings the store back.
    itemClose();
    ASSERT_EQ(itemOpen(), 0);
    EXPECT_EQ(itemSelect(0), 4);
}

// A 6-byte item has an empty stream: nothing of the item selected before
// it, still in the buffer, may be delivered.
TEST_F(StoreDir, HeaderOnlyItemDeliversNothing) {
    const Bytes big = patternItem(600, 1);
    fx::writeItems(dir, {big, fx::itemHeader(3), patternItem(7, 2)});
    ASSERT_EQ(itemOpen(), 0);
    ASSERT_EQ(itemSelect(0), 1);
    ASSERT_EQ(itemGetBits(5), bitsAt(big, 0, 5));
    ASSERT_EQ(itemSelect(1), 3);
    EXPECT_EQ(itemGetBits(1), -1);
    EXPECT_EQ(itemGetBits(1), -1);
    // A 7-byte item: one byte of stream.
    const Bytes seven = patternItem(7, 2);
    ASSERT_EQ(itemSelect(2), 2);
    EXPECT_EQ(itemGetBits(8), seven[6]);
    EXPECT_EQ(itemGetBits(1), -1);
}

// Bits taken by a call that runs out are lost, the reader stays exhausted,
// and a new select starts over.
TEST_F(StoreDir, ExhaustedUntilNextSelect) {
    fx::writeItems(dir, {fx::itemHeader(1) + fx::hex("F0")});
    ASSERT_EQ(itemOpen(), 0);
    ASSERT_EQ(itemSelect(0), 1);
    EXPECT_EQ(itemGetBits(0), 0);
    EXPECT_EQ(itemGetBits(3), 7);
    EXPECT_EQ(itemGetBits(6), -1); // 5 bits were left
    EXPECT_EQ(itemGetBits(1), -1); // not the lost 1 bit
    EXPECT_EQ(itemGetBits(0), 0);
    ASSERT_EQ(itemSelect(0), 1);
    EXPECT_EQ(itemGetBits(8), 0xF0);
}

int openDescriptors() {
    int n = 0;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        n++;
    }
    return n;
}

TEST_F(StoreDir, OpenFailuresLeaveNothingOpen) {
    const int before = openDescriptors();
    EXPECT_EQ(itemOpen(), -1); // neither file
    EXPECT_EQ(openDescriptors(), before);
    fx::writeFile(dir + "/itemloc.dat", fx::indexOf({{0, 7}}));
    EXPECT_EQ(itemOpen(), -1); // item.dat missing
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(itemSelect(0), -1);
    std::filesystem::remove(dir + "/itemloc.dat");
    fx::writeFile(dir + "/item.dat", fx::itemHeader(1) + fx::hex("00"));
    EXPECT_EQ(itemOpen(), -1); // itemloc.dat missing
    EXPECT_EQ(openDescriptors(), before);
}

TEST_F(StoreDir, CloseIsSafeAnyTime) {
    EXPECT_EQ(itemClose(), 0); // never opened
    fx::writeItems(dir, {fx::itemHeader(1) + fx::hex("80")});
    const int before = openDescriptors();
    ASSERT_EQ(itemOpen(), 0);
    EXPECT_EQ(openDescriptors(), before + 2);
    EXPECT_EQ(itemClose(), 0);
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(itemClose(), 0);
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(itemSelect(0), -1);
    EXPECT_EQ(itemGetBits(1), -1);
}

} // namespace
