#pragma once
// The plain decoder's bit word: bits peeked from the item and not yet used,
// at the top of word, followed by one 1 bit (the end mark) and zeros. The
// count of usable bits is where the mark stands. The item reader learns how
// many bits were used only when more are needed or the item ends, so it
// refills exactly when a bit-at-a-time reader would.
#include <cstdint>

#include "item/item.h"

struct DecBits {
    std::uint64_t word;
    int peeked; // bits the last peek gave
};

// No usable bits: the mark alone.
inline constexpr std::uint64_t decBitsEmpty = std::uint64_t{1} << 63;

inline int decBitsCount(std::uint64_t word) {
    return 63 - __builtin_ctzll(word);
}

// Whether word holds at least n usable bits (n from 1 to 63).
inline bool decBitsHas(std::uint64_t word, int n) {
    return (word & ((std::uint64_t{2} << (63 - n)) - 1)) != 0;
}

// Tells the reader how many of the peeked bits were used.
inline void decBitsSync(DecBits &b) {
    itemSkipBits(b.peeked - decBitsCount(b.word));
    b.peeked = 0;
    b.word = decBitsEmpty;
}

// Tells the reader what was used and peeks again; false when the item has
// no more bits.
inline bool decBitsRefill(DecBits &b) {
    decBitsSync(b);
    std::uint64_t word;
    int n = itemPeekBits(&word);
    if (n < 0) return false;
    if (n > 63) n = 63; // room for the mark
    b.word = (word & ~(~std::uint64_t{0} >> n)) | std::uint64_t{1} << (63 - n);
    b.peeked = n;
    return true;
}

// The next k bits (1 to 14) as itemGetBits gives them, -1 when they run out.
inline std::int32_t decBitsGet(DecBits &b, int k) {
    if (decBitsHas(b.word, k)) {
        const auto v = static_cast<std::int32_t>(b.word >> (64 - k));
        b.word <<= k;
        return v;
    }
    decBitsSync(b);
    return itemGetBits(k);
}
