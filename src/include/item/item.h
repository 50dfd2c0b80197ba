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

// Positions the bit input on item n; its decoded length, or -1 when the item
// cannot be selected (no record, an offset of 2^31 or more, a read failure,
// a stored length too short for the header). A negative decoded length is
// returned as read.
std::int32_t itemSelect(std::int32_t n);

// The index record of the item last selected (or last tried): the item's
// offset in item.dat and its stored length, as written.
void itemSelectedRecord(std::uint32_t *offset, std::uint32_t *stored);

// Whole records in itemloc.dat (-1 when it cannot be told).
std::int64_t itemIndexRecords();

// True when itemloc.dat has no byte at all where record n would start: the
// index ends before item n. False when at least one byte of the record is
// there (even a record cut short, or one whose item cannot be selected),
// and when the index cannot be read there (no open store, a read error, a
// negative n), since none of these is a clean end of the store.
bool itemIndexEnds(std::int32_t n);

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
