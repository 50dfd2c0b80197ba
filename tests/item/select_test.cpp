// itemSelect: where the record and the item are found, what the header
// yields, and which records cannot be selected.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <ostream>
#include <string>
#include <unistd.h>
#include <vector>

#include "fixture.h"
#include "item/item.h"
#include "store_dir.h"

namespace {

using fx::Bytes;

Bytes filled(std::size_t n, std::uint8_t value) {
    return Bytes(n, value);
}

// One store with items whose headers and positions exercise the decoding
// of records and headers; the first stream byte of every item is distinct.
//   offset 0    "plain":   ignored bytes FF FF, decoded 16, stream 41 42
//   offset 8    "wide":    decoded bytes 01 02 03 04 (0x04030201), stream 43
//   offset 15   "max":     decoded 0x7FFFFFFF, stream 44
//   offset 22   "zero":    decoded 0, stream 45
//   offset 29   "empty":   stored 6, no stream; followed by the byte 99
//   offset 256  "far":     decoded 0x100, stream 46 (offset needs byte 2 of
//                          the big-endian record)
//   offset 0x10203 "high": decoded 7, stream 47 (offset uses bytes 1-3)
Bytes valueStoreData() {
    Bytes data = fx::hex("FF FF 10 00 00 00 41 42") + fx::hex("00 00 01 02 03 04 43") +
                 fx::itemHeader(0x7FFFFFFF) + fx::hex("44") + fx::itemHeader(0) + fx::hex("45") +
                 fx::itemHeader(5) + fx::hex("99");
    data = data + filled(256 - data.size(), 0xEE) + fx::itemHeader(0x100) + fx::hex("46");
    data = data + filled(0x10203 - data.size(), 0xEE) + fx::itemHeader(7) + fx::hex("47");
    return data;
}

const std::vector<fx::Record> valueRecords = {
    {0, 8}, {8, 7}, {15, 7}, {22, 7}, {29, 6}, {256, 7}, {0x10203, 7},
};

struct ValueCase {
    const char *name;
    std::int32_t n;
    std::int32_t length;    // itemSelect's result
    std::int32_t firstByte; // itemGetBits(8) right after, -1 for no stream
};

void PrintTo(const ValueCase &c, std::ostream *os) {
    *os << c.name;
}

const ValueCase valueCases[] = {
    {"little-endian length, ignored bytes skipped", 0, 16, 0x41},
    {"all four length bytes count", 1, 0x04030201, 0x43},
    {"largest length", 2, 0x7FFFFFFF, 0x44},
    {"zero length", 3, 0, 0x45},
    {"stored length 6 has no stream", 4, 5, -1},
    {"big-endian offset 256", 5, 0x100, 0x46},
    {"big-endian offset across three bytes", 6, 7, 0x47},
};

struct SelectValues : StoreDir, ::testing::WithParamInterface<ValueCase> {};

TEST_P(SelectValues, LengthAndFirstBits) {
    const ValueCase &c = GetParam();
    fx::writeStore(dir, fx::indexOf(valueRecords), valueStoreData());
    ASSERT_EQ(itemOpen(), 0);
    EXPECT_EQ(itemSelect(c.n), c.length);
    EXPECT_EQ(itemGetBits(8), c.firstByte);
}

INSTANTIATE_TEST_SUITE_P(Item, SelectValues, ::testing::ValuesIn(valueCases),
                         [](const auto &p) { return nameOf(p.param.name); });

// A store whose record 0 is a good item; every other case must fail and
// leave nothing of item 0 to read. (A negative decoded length is a failure
// for the caller only: the item is positioned like any other.)
struct FailCase {
    const char *name;
    std::int32_t n;
};

void PrintTo(const FailCase &c, std::ostream *os) {
    *os << c.name;
}

const std::vector<fx::Record> failRecords = {
    {0, 306},          // 0: good, decoded length 40, 300 stream bytes
    {0, 5},            // 1: stored length below the header
    {0, 0},            // 2: stored length 0
    {0x80000000, 306}, // 3: offset 2^31 is not a valid signed position
    {0xFFFFFFF0, 306}, // 4: offset near 2^32
    {100000, 306},     // 5: offset past the end of item.dat
    {200, 306},        // 6: item.dat ends inside the first read
    {306, 10},         // 7: negative decoded length (-5)
};

const FailCase failCases[] = {
    {"stored length 5", 1},
    {"stored length 0", 2},
    {"offset 2^31", 3},
    {"offset near 2^32", 4},
    {"offset past the end", 5},
    {"first read falls short", 6},
    {"record past the end of the index", 8},
    {"negative item number", -1},
    // Record positions that a 32-bit multiply would wrap onto record 0
    // (2^28 * 16 = 2^32) or onto a negative position.
    {"item 2^28 is not record 0", 0x10000000},
    {"largest item number", 2147483647},
};

Bytes failStoreData() {
    Bytes data = fx::itemHeader(40);
    for (int i = 0; i < 300; i++) data.push_back(static_cast<std::uint8_t>(i * 37 + 11));
    return data + fx::itemHeader(-5) + fx::hex("FF FF FF FF");
}

struct SelectFails : StoreDir, ::testing::WithParamInterface<FailCase> {};

TEST_P(SelectFails, NegativeAndNothingToRead) {
    const FailCase &c = GetParam();
    fx::writeStore(dir, fx::indexOf(failRecords), failStoreData());
    ASSERT_EQ(itemOpen(), 0);
    ASSERT_EQ(itemSelect(0), 40);
    ASSERT_EQ(itemGetBits(3), 11 >> 5); // first stream byte 0x0B
    EXPECT_LT(itemSelect(c.n), 0);
    EXPECT_EQ(itemGetBits(1), -1);
    EXPECT_EQ(itemGetBits(9), -1);
    // The failure does not spoil the store: item 0 reads again from its start.
    EXPECT_EQ(itemSelect(0), 40);
    EXPECT_EQ(itemGetBits(8), 11);
}

INSTANTIATE_TEST_SUITE_P(Item, SelectFails, ::testing::ValuesIn(failCases),
                         [](const auto &p) { return nameOf(p.param.name); });

TEST_F(StoreDir, NegativeDecodedLengthIsReturnedAsRead) {
    fx::writeStore(dir, fx::indexOf(failRecords), failStoreData());
    ASSERT_EQ(itemOpen(), 0);
    EXPECT_EQ(itemSelect(7), -5);
}

TEST_F(StoreDir, EmptyIndexHasNoItem) {
    fx::writeStore(dir, {}, {});
    ASSERT_EQ(itemOpen(), 0);
    EXPECT_EQ(itemSelect(0), -1);
}

// Record 1 cut short: record 0 still reads, record 1 fails wherever the cut
// falls, even where its offset and stored length are whole (28 bytes: only
// the unused tail is missing) and would lead to a good item.
TEST_F(StoreDir, TruncatedLastRecordFails) {
    for (int size : {17, 20, 24, 28, 31}) {
        SCOPED_TRACE("index of " + std::to_string(size) + " bytes");
        Bytes index = fx::indexOf({{0, 8}, {0, 8}});
        index.resize(static_cast<std::size_t>(size));
        fx::writeStore(dir, index, fx::itemHeader(2) + fx::hex("AB CD"));
        ASSERT_EQ(itemOpen(), 0);
        EXPECT_EQ(itemSelect(0), 2);
        EXPECT_EQ(itemSelect(1), -1);
        EXPECT_EQ(itemSelect(0), 2);
        itemClose();
    }
}

// itemIndexEnds tells the end of the index (no byte where the record would
// start) from a record that is there but cannot be selected. Record 0, where
// the index has one, is a good item.
struct EndCase {
    const char *name;
    Bytes index;
    std::int32_t n;
    bool ends;
};

void PrintTo(const EndCase &c, std::ostream *os) {
    *os << c.name;
}

const Bytes goodRecord = fx::indexOf({{0, 7}});

const EndCase endCases[] = {
    {"empty index", {}, 0, true},
    {"exactly at the end", goodRecord, 1, true},
    {"well past the end", goodRecord, 5, true},
    // 2^28 * 16 wraps to 0 in 32 bits, which would find record 0.
    {"item 2^28 does not wrap onto record 0", goodRecord, 0x10000000, true},
    {"largest item number", goodRecord, 2147483647, true},
    {"partial record of 1 byte", goodRecord + Bytes(1, 0), 1, false},
    {"partial record of 15 bytes", goodRecord + Bytes(15, 0), 1, false},
    {"record whose offset is past item.dat", goodRecord + fx::indexOf({{1000, 7}}), 1, false},
    {"record whose offset is 2^31", goodRecord + fx::indexOf({{0x80000000u, 7}}), 1, false},
    {"good record", goodRecord, 0, false},
    {"negative item number", goodRecord, -1, false},
};

struct IndexEnds : StoreDir, ::testing::WithParamInterface<EndCase> {};

TEST_P(IndexEnds, OnlyWhereNoByteIsLeft) {
    const EndCase &c = GetParam();
    fx::writeStore(dir, c.index, fx::itemHeader(1) + fx::hex("5A"));
    ASSERT_EQ(itemOpen(), 0);
    EXPECT_EQ(itemIndexEnds(c.n), c.ends);
    // The answer is the same after itemSelect has looked at the record.
    itemSelect(c.n);
    EXPECT_EQ(itemIndexEnds(c.n), c.ends);
}

INSTANTIATE_TEST_SUITE_P(Item, IndexEnds, ::testing::ValuesIn(endCases),
                         [](const auto &p) { return nameOf(p.param.name); });

// Without an open index there is no end to report: the caller must not take
// a closed store for a complete one.
TEST_F(StoreDir, IndexEndsIsFalseWhenClosed) {
    fx::writeStore(dir, {}, {});
    EXPECT_FALSE(itemIndexEnds(0));
    ASSERT_EQ(itemOpen(), 0);
    EXPECT_TRUE(itemIndexEnds(0));
    itemClose();
    EXPECT_FALSE(itemIndexEnds(0));
}

// An index that opens but cannot be read is no clean end of the store.
// /proc/self/mem plays it: the reader's own memory, whose low addresses are
// not mapped, so every read there fails (EIO) while the open succeeds.
TEST_F(StoreDir, IndexReadErrorIsNoEnd) {
    fx::writeFile("item.dat", fx::itemHeader(1) + fx::hex("5A"));
    ASSERT_EQ(symlink("/proc/self/mem", "itemloc.dat"), 0);
    if (itemOpen() != 0) GTEST_SKIP() << "/proc/self/mem cannot be opened here";
    for (std::int32_t n : {0, 1, 255}) {
        SCOPED_TRACE("item " + std::to_string(n));
        EXPECT_EQ(itemSelect(n), -1);
        EXPECT_FALSE(itemIndexEnds(n));
    }
}

// Record 2147483647 starts at byte 2^35 - 16 of a sparse index; it is read
// from there, not from a wrapped position.
TEST_F(StoreDir, LastItemNumberReadsItsOwnRecord) {
    fx::writeStore(dir, fx::indexOf({{0, 7}}),
                   fx::itemHeader(1) + fx::hex("5A 00") + fx::itemHeader(2) + fx::hex("A5"));
    const Bytes last = fx::indexOf({{8, 7}});
    const int fd = open("itemloc.dat", O_WRONLY);
    ASSERT_GE(fd, 0);
    const off_t lastPos = static_cast<off_t>(2147483647) * 16;
    const ssize_t written = pwrite(fd, last.data(), last.size(), lastPos);
    const int error = errno;
    close(fd);
    if (written != static_cast<ssize_t>(last.size())) {
        GTEST_SKIP() << "this file system has no room for a sparse 32 GiB index (errno " << error
                     << ")";
    }
    ASSERT_EQ(itemOpen(), 0);
    EXPECT_EQ(itemSelect(2147483647), 2);
    EXPECT_EQ(itemGetBits(8), 0xA5);
    EXPECT_EQ(itemSelect(0), 1);
    EXPECT_EQ(itemGetBits(8), 0x5A);
    // Records between the two are zeros (stored length 0): no item.
    EXPECT_EQ(itemSelect(0x10000000), -1);
}

// Records are read a block at a time: any order of selection, across block
// edges and back, finds each item's own record, and a store opened after
// another one is read afresh.
TEST_F(StoreDir, RecordsInAnyOrderAndAcrossStores) {
    constexpr int items = 700; // several blocks of records
    Bytes data;
    std::vector<fx::Record> records;
    for (int i = 0; i < items; i++) {
        records.push_back({static_cast<std::uint32_t>(data.size()), 7});
        data = data + fx::itemHeader(1000 + i) + Bytes{static_cast<std::uint8_t>(i)};
    }
    fx::writeStore(dir, fx::indexOf(records), data);
    ASSERT_EQ(itemOpen(), 0);
    const int order[] = {0, 1, 255, 256, 257, 699, 698, 3, 511, 512, 300, 0, 699, 700, 5};
    for (int n : order) {
        SCOPED_TRACE("item " + std::to_string(n));
        if (n >= items) {
            EXPECT_EQ(itemSelect(n), -1);
            continue;
        }
        EXPECT_EQ(itemSelect(n), 1000 + n);
        EXPECT_EQ(itemGetBits(8), n & 0xFF);
    }
    itemClose();

    // Another store in the same place: nothing of the first one's records.
    fx::writeStore(dir, fx::indexOf({{0, 7}, {7, 7}}),
                   fx::itemHeader(11) + fx::hex("B1") + fx::itemHeader(22) + fx::hex("B2"));
    ASSERT_EQ(itemOpen(), 0);
    EXPECT_EQ(itemSelect(1), 22);
    EXPECT_EQ(itemGetBits(8), 0xB2);
    EXPECT_EQ(itemSelect(0), 11);
    EXPECT_EQ(itemSelect(2), -1);
}

} // namespace
