#pragma once
// The item store: itemloc.dat (16-byte big-endian location records) and
// item.dat (each item a 6-byte header, then its bit stream).
#include <cstdint>

// Opens both files of the current directory; 0, or -1 with nothing left open.
int itemOpen();

// Positions the bit input on item n; its decoded length, or -1 when the item
// cannot be selected (no record, an offset of 2^31 or more, a read failure,
// a stored length too short for the header). A negative decoded length is
// returned as read.
std::int32_t itemSelect(std::int32_t n);

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

// Bulk access for the decoder's tree walk, equivalent to itemGetBits one bit
// at a time. itemPeekBits stores the upcoming bits in *word, first bit in the
// most significant position, and returns how many of them are valid (at least
// 1), or -1 where itemGetBits(1) would. It reads item.dat only when the
// buffered bytes are used up, exactly when itemGetBits would. itemSkipBits
// consumes n of the bits just peeked (n at most the count returned).
int itemPeekBits(std::uint64_t *word);
void itemSkipBits(int n);
