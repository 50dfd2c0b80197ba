#pragma once
// The item store: itemloc.dat (16-byte big-endian location records) and
// item.dat (each item a 6-byte header, then its bit stream).
#include <cstdint>
#include <cstring>

// Opens both files of the current directory; 0, or -1 with nothing left open.
// Each must be a regular file: a folder (EISDIR) or a pipe (EINVAL) is not a
// store file.
int itemOpen();
// The same for the store in folder dir (nullptr or "" for the current one).
int itemOpenAt(const char *dir);
// After a failed open: the file that could not be opened ("itemloc.dat" or
// "item.dat"; "" when the folder itself could not be), errno telling why.
const char *itemOpenFailedName();

// What selecting an item found. The decoded length comes apart from it, so
// that no length read from a header can pass for a failure.
enum ItemStatus {
    // Selected: the bit input stands at the item's first bit.
    itemOk,
    // itemloc.dat has no byte of the record: the store ends before item n.
    itemIndexEnds,
    // itemloc.dat ends inside the record.
    itemRecordCut,
    // The record's offset is 2^31 or more: no item can start there.
    itemOffsetTooLarge,
    // The record's stored length is shorter than an item's header.
    itemStoredTooShort,
    // item.dat ends before the item's first bytes.
    itemDataEnds,
    // item.dat was closed when an earlier item found it cut short: no item
    // can be read from it any more.
    itemDataClosed,
    // A read of itemloc.dat or of item.dat failed; errno tells why.
    itemIndexUnreadable,
    itemDataUnreadable,
    // Selected, but the header's decoded length is negative.
    itemNegativeLength,
};

// Positions the bit input on item n (0 to 2^31 - 1) and stores the item's
// decoded length, as read, in *length (0 when there is no header to read).
// After any status but itemOk the bit input delivers nothing.
ItemStatus itemSelectStatus(std::int32_t n, std::int32_t *length);

// The same, as one number: the decoded length, or -1 when the item cannot be
// selected. A negative decoded length is returned as read, so that only the
// status tells a length of -1 from a failure.
std::int32_t itemSelect(std::int32_t n);

// The index record of the item last selected (or last tried): the item's
// offset in item.dat and its stored length, as written.
void itemSelectedRecord(std::uint32_t *offset, std::uint32_t *stored);

// Whole records in itemloc.dat (-1 when it cannot be told).
std::int64_t itemIndexRecords();

// A walk over the items first to last, or with last itemToEnd over every item
// from first until the index ends. The one rule for where a walk ends:
//  - after last, or after item 2^31 - 1, the last item number;
//  - walking to the end, quietly where the index ends (itemIndexEnds), unless
//    it ends right at first and first is not 0: an open range that starts
//    past the last item names an item that is not there, as a number does
//    (a store without items has no item 0 to walk from, which is no fault);
//  - right after an itemIndexEnds or itemRecordCut step: nothing follows the
//    index's end.
// Every other item, whatever its status, is a step of the walk; the caller
// decides whether to go on.
inline constexpr std::int64_t itemToEnd = -1;
struct ItemWalk {
    std::int64_t first;
    std::int64_t last;
    std::int64_t next;
};
struct ItemStep {
    std::int32_t n;
    ItemStatus status;
    std::int32_t length; // the decoded length, as itemSelectStatus gives it
};
ItemWalk itemWalkFrom(std::int64_t first, std::int64_t last);
// Selects the walk's next item: true with its step, false when the walk is
// over.
bool itemWalkNext(ItemWalk *walk, ItemStep *step);

// The next k bits (0 to 24) of the selected item, first bit most significant,
// or -1 once the item's bytes are used up (bits taken in that call are lost,
// and every later call returns -1 until the next itemSelect).
std::int32_t itemGetBits(int k);

// Closes whatever is open; safe at any time, also twice.
int itemClose();

// The buffered run of the selected item, for the inline peek below: bits
// counted from bit 7 of bytes[0], of which bitsUsed are delivered (the byte
// being consumed is bitsUsed / 8, its next bit 7 - bitsUsed % 8). The array
// holds 8 bytes more than any run, so a 64-bit load at any byte of the run
// stays inside it.
struct ItemRun {
    const std::uint8_t *bytes;
    int bits;
    int bitsUsed;
};
extern ItemRun itemRun;

// Loads the next run of the item once the buffered bits are used up; the
// number of valid bits afterwards, or -1 when the item has no more bytes.
int itemRefill();

// Bulk access for the decoder's tree walk, equivalent to itemGetBits one bit
// at a time. itemPeekBits stores the upcoming bits in *word, first bit in the
// most significant position, and returns how many of them are valid (at least
// 1), or -1 where itemGetBits(1) would. It loads the next run only when the
// buffered bytes are used up, exactly when itemGetBits would. itemSkipBits
// consumes n of the bits just peeked (n at most the count returned). Both
// are inline: the decoder peeks every few symbols.
inline int itemPeekBits(std::uint64_t *word) {
    int left = itemRun.bits - itemRun.bitsUsed;
    if (left <= 0) {
        left = itemRefill();
        if (left < 0) return -1;
    }
    std::uint64_t w;
    std::memcpy(&w, itemRun.bytes + (itemRun.bitsUsed >> 3), sizeof w);
    w = __builtin_bswap64(w);
    const int skip = itemRun.bitsUsed & 7;
    *word = w << skip;
    const int valid = 64 - skip;
    return left < valid ? left : valid;
}

inline void itemSkipBits(int n) {
    itemRun.bitsUsed += n;
}
