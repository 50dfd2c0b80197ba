// itemSelect: where the record and the item are found, what the header
// yields, and which records cannot be selected.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <ostream>
#include <string>
#include <sys/stat.h>
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
    ItemStatus status;
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
    {"stored length 5", 1, itemStoredTooShort},
    {"stored length 0", 2, itemStoredTooShort},
    {"offset 2^31", 3, itemOffsetTooLarge},
    {"offset near 2^32", 4, itemOffsetTooLarge},
    {"offset past the end", 5, itemDataEnds},
    {"first read falls short", 6, itemDataEnds},
    {"record past the end of the index", 8, itemIndexEnds},
    {"negative item number", -1, itemIndexUnreadable},
    // Record positions that a 32-bit multiply would wrap onto record 0
    // (2^28 * 16 = 2^32) or onto a negative position.
    {"item 2^28 is not record 0", 0x10000000, itemIndexEnds},
    {"largest item number", 2147483647, itemIndexEnds},
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
    std::int32_t length = -7;
    EXPECT_EQ(itemSelectStatus(c.n, &length), c.status);
    EXPECT_EQ(length, 0) << "no header was read";
    EXPECT_EQ(itemGetBits(1), -1);
    EXPECT_EQ(itemSelect(c.n), -1);
    EXPECT_EQ(itemGetBits(9), -1);
    // The failure does not spoil the store: item 0 reads again from its start.
    EXPECT_EQ(itemSelect(0), 40);
    EXPECT_EQ(itemGetBits(8), 11);
}

INSTANTIATE_TEST_SUITE_P(Item, SelectFails, ::testing::ValuesIn(failCases),
                         [](const auto &p) { return nameOf(p.param.name); });

// A negative decoded length is a status of its own, whatever its value: -1
// is not taken for a record that cannot be read. The length comes as read.
TEST_F(StoreDir, NegativeDecodedLengthIsItsOwnStatus) {
    for (std::int32_t decoded : {-1, -2, -5, INT32_MIN}) {
        SCOPED_TRACE("decoded length " + std::to_string(decoded));
        fx::writeStore(dir, fx::indexOf({{0, 7}}), fx::itemHeader(decoded) + fx::hex("5A"));
        ASSERT_EQ(itemOpen(), 0);
        std::int32_t length = 0;
        EXPECT_EQ(itemSelectStatus(0, &length), itemNegativeLength);
        EXPECT_EQ(length, decoded);
        EXPECT_EQ(itemSelect(0), decoded);
        itemClose();
    }
}

TEST_F(StoreDir, EmptyIndexHasNoItem) {
    fx::writeStore(dir, {}, {});
    ASSERT_EQ(itemOpen(), 0);
    std::int32_t length;
    EXPECT_EQ(itemSelectStatus(0, &length), itemIndexEnds);
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
        std::int32_t length;
        EXPECT_EQ(itemSelect(0), 2);
        EXPECT_EQ(itemSelectStatus(1, &length), itemRecordCut);
        EXPECT_EQ(itemSelect(0), 2);
        itemClose();
    }
}

// The end of the index (no byte where the record would start) is told apart
// from a record that is there but cannot be selected. Record 0, where the
// index has one, is a good item.
struct EndCase {
    const char *name;
    Bytes index;
    std::int32_t n;
    ItemStatus status;
};

void PrintTo(const EndCase &c, std::ostream *os) {
    *os << c.name;
}

const Bytes goodRecord = fx::indexOf({{0, 7}});

const EndCase endCases[] = {
    {"empty index", {}, 0, itemIndexEnds},
    {"exactly at the end", goodRecord, 1, itemIndexEnds},
    {"well past the end", goodRecord, 5, itemIndexEnds},
    // 2^28 * 16 wraps to 0 in 32 bits, which would find record 0.
    {"item 2^28 does not wrap onto record 0", goodRecord, 0x10000000, itemIndexEnds},
    {"largest item number", goodRecord, 2147483647, itemIndexEnds},
    {"partial record of 1 byte", goodRecord + Bytes(1, 0), 1, itemRecordCut},
    {"partial record of 15 bytes", goodRecord + Bytes(15, 0), 1, itemRecordCut},
    {"record whose offset is past item.dat", goodRecord + fx::indexOf({{1000, 7}}), 1,
     itemDataEnds},
    {"record whose offset is 2^31", goodRecord + fx::indexOf({{0x80000000u, 7}}), 1,
     itemOffsetTooLarge},
    {"good record", goodRecord, 0, itemOk},
};

struct IndexEnds : StoreDir, ::testing::WithParamInterface<EndCase> {};

TEST_P(IndexEnds, OnlyWhereNoByteIsLeft) {
    const EndCase &c = GetParam();
    fx::writeStore(dir, c.index, fx::itemHeader(1) + fx::hex("5A"));
    ASSERT_EQ(itemOpen(), 0);
    std::int32_t length;
    EXPECT_EQ(itemSelectStatus(c.n, &length), c.status);
    // The same again, with the record's block read already.
    EXPECT_EQ(itemSelectStatus(c.n, &length), c.status);
}

INSTANTIATE_TEST_SUITE_P(Item, IndexEnds, ::testing::ValuesIn(endCases),
                         [](const auto &p) { return nameOf(p.param.name); });

// Without an open index there is no end to report: the caller must not take
// a closed store for a complete one.
TEST_F(StoreDir, ClosedStoreIsNoEnd) {
    fx::writeStore(dir, {}, {});
    std::int32_t length;
    EXPECT_EQ(itemSelectStatus(0, &length), itemIndexUnreadable);
    ASSERT_EQ(itemOpen(), 0);
    EXPECT_EQ(itemSelectStatus(0, &length), itemIndexEnds);
    itemClose();
    EXPECT_EQ(itemSelectStatus(0, &length), itemIndexUnreadable);
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
        std::int32_t length;
        EXPECT_EQ(itemSelectStatus(n, &length), itemIndexUnreadable);
        EXPECT_EQ(itemSelect(n), -1);
    }
}

// item.dat closed after an item's bits ran out in a refill that fell short:
// every later item says so, not that its record is wrong.
TEST_F(StoreDir, DataClosedByAShortRefill) {
    // Item 0 says it has 1000 stored bytes, but item.dat ends after 600.
    Bytes data = fx::itemHeader(5000);
    data.resize(600, 0x55);
    fx::writeStore(dir, fx::indexOf({{0, 1000}, {0, 7}}), data);
    ASSERT_EQ(itemOpen(), 0);
    std::int32_t length;
    ASSERT_EQ(itemSelectStatus(0, &length), itemOk);
    while (itemGetBits(8) >= 0) {
    }
    EXPECT_EQ(itemSelectStatus(1, &length), itemDataClosed);
}

// The walk: which steps it gives over an index of three good items (0 to 2)
// for each kind of range, and where it ends.
struct WalkCase {
    const char *name;
    Bytes index;
    std::int64_t first;
    std::int64_t last;
    std::vector<std::pair<std::int32_t, ItemStatus>> steps;
};

void PrintTo(const WalkCase &c, std::ostream *os) {
    *os << c.name;
}

const Bytes threeRecords = fx::indexOf({{0, 7}, {0, 7}, {0, 7}});

const WalkCase walkCases[] = {
    {"all items", threeRecords, 0, itemToEnd, {{0, itemOk}, {1, itemOk}, {2, itemOk}}},
    {"all of an empty store", {}, 0, itemToEnd, {}},
    {"open range from the middle", threeRecords, 1, itemToEnd, {{1, itemOk}, {2, itemOk}}},
    {"open range at the end", threeRecords, 3, itemToEnd, {{3, itemIndexEnds}}},
    {"open range far past the end", threeRecords, 5000, itemToEnd, {{5000, itemIndexEnds}}},
    {"closed range", threeRecords, 0, 1, {{0, itemOk}, {1, itemOk}}},
    {"closed range past the end",
     threeRecords,
     1,
     5,
     {{1, itemOk}, {2, itemOk}, {3, itemIndexEnds}}},
    {"one item", threeRecords, 2, 2, {{2, itemOk}}},
    {"a record cut short ends it",
     threeRecords + Bytes(3, 0),
     1,
     itemToEnd,
     {{1, itemOk}, {2, itemOk}, {3, itemRecordCut}}},
    {"a bad record does not end it",
     fx::indexOf({{0, 7}, {0, 2}, {0, 7}}),
     0,
     itemToEnd,
     {{0, itemOk}, {1, itemStoredTooShort}, {2, itemOk}}},
    {"the last item number ends it",
     threeRecords,
     2147483647,
     itemToEnd,
     {{2147483647, itemIndexEnds}}},
    {"the last item number in a closed range",
     threeRecords,
     2147483646,
     2147483647,
     {{2147483646, itemIndexEnds}}},
};

struct Walk : StoreDir, ::testing::WithParamInterface<WalkCase> {};

TEST_P(Walk, StepsAndEnd) {
    const WalkCase &c = GetParam();
    fx::writeStore(dir, c.index, fx::itemHeader(1) + fx::hex("5A"));
    ASSERT_EQ(itemOpen(), 0);
    std::vector<std::pair<std::int32_t, ItemStatus>> steps;
    ItemWalk walk = itemWalkFrom(c.first, c.last);
    ItemStep step;
    while (itemWalkNext(&walk, &step) && steps.size() < 10) steps.emplace_back(step.n, step.status);
    EXPECT_EQ(steps, c.steps);
}

INSTANTIATE_TEST_SUITE_P(Item, Walk, ::testing::ValuesIn(walkCases),
                         [](const auto &p) { return nameOf(p.param.name); });

// The store's folder: none or an empty name is the current folder, a name is
// that folder; what cannot be opened is named, a folder or a pipe given as
// one of the store's files too.
TEST_F(StoreDir, OpenInAFolder) {
    fx::writeStore(dir, fx::indexOf({{0, 7}}), fx::itemHeader(3) + fx::hex("5A"));
    ASSERT_EQ(mkdir("sub", 0755), 0);
    fx::writeStore(dir + "/sub", fx::indexOf({{0, 7}}), fx::itemHeader(4) + fx::hex("5A"));
    ASSERT_EQ(mkdir("pipes", 0755), 0);
    fx::writeFile("pipes/itemloc.dat", {});
    ASSERT_EQ(mkfifo("pipes/item.dat", 0600), 0);
    struct Case {
        const char *dir;
        std::int32_t length; // of item 0; -1 when the store cannot be opened
        const char *failedName;
        int error;
    };
    const Case cases[] = {
        {nullptr, 3, "", 0},
        {"", 3, "", 0},
        {".", 3, "", 0},
        {"sub", 4, "", 0},
        {"sub/", 4, "", 0},
        {"missing", -1, "", ENOENT},
        {"sub/itemloc.dat", -1, "", ENOTDIR},
        // Opened without waiting for a writer, and refused as no store file.
        {"pipes", -1, "item.dat", EINVAL},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.dir == nullptr ? "nullptr" : c.dir);
        errno = 0;
        // An open that waits for a pipe's writer ends the test binary at
        // once (SIGALRM) instead of hanging it.
        alarm(10);
        const int opened = itemOpenAt(c.dir);
        const int error = errno;
        alarm(0);
        if (c.length < 0) {
            EXPECT_EQ(opened, -1);
            EXPECT_EQ(error, c.error);
            EXPECT_STREQ(itemOpenFailedName(), c.failedName);
            continue;
        }
        ASSERT_EQ(opened, 0);
        EXPECT_EQ(itemSelect(0), c.length);
        itemClose();
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
    std::int32_t length;
    EXPECT_EQ(itemSelectStatus(0x10000000, &length), itemStoredTooShort);
    // The walk's last step is the last item number.
    ItemWalk walk = itemWalkFrom(2147483647, itemToEnd);
    ItemStep step;
    ASSERT_TRUE(itemWalkNext(&walk, &step));
    EXPECT_EQ(step.n, 2147483647);
    EXPECT_EQ(step.status, itemOk);
    EXPECT_FALSE(itemWalkNext(&walk, &step));
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
