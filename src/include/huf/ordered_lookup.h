#pragma once
// The first hufLookupBits code bits of the ordered tree's walk in one
// lookup: every bit of the walk is a load that waits for the one before, and
// most symbols end within a few levels of the root.
//
// The entry of a prefix names the position the walk reaches after it (a leaf
// of a shorter code, or the node hufLookupBits levels down) and how many of
// its bits that took. Entries name positions, not symbols, so an exchange of
// two leaves leaves the table exact; only an exchange that moves an internal
// node into or out of the top levels changes which positions the prefixes
// reach, and only the prefixes under the two exchanged positions. The
// ordered tree keeps the table up to date wherever it changes (the reset,
// the rebuild, the exchange), for the decoder and the encoder alike.
#include <cstdint>

#include "huf/code.h"

// 5 bits, from instructions per decoded byte on stores of one entry per
// item, items of 10 KB and one item: 136/78/72 with 5 bits, 148/79/71 with
// 6, 136/81/77 without the table. The upkeep on exchanges in the top levels
// grows with 2^bits, and short items, whose young trees exchange there most,
// pay for it.
inline constexpr int hufLookupBits = 5;
// A walk from a full word reads the whole table's prefix.
static_assert(hufLookupBits <= hufDepthMax);

// Entry of each prefix, first code bit highest: the position reached times
// 16, plus the count of bits used (1 to hufLookupBits).
extern std::uint16_t lookupEntry[1 << hufLookupBits];
// hufLookupBits minus the depth of each position that lies less than
// hufLookupBits levels below the root (the root's is hufLookupBits), 0 for
// the positions further down: the exchange's one test for upkeep.
extern std::uint8_t lookupRise[hufNodeMax + 1];

// Brings the table up to date after the contents of positions a and b were
// exchanged; hufOrderedExchange calls it. Returns at once when neither
// position lies in the top levels, where nothing the table says changed.
void hufLookupExchanged(std::intptr_t a, std::intptr_t b);
