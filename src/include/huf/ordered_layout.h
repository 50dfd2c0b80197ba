#pragma once
// The layout of the ordered tree, behind the inline walk and count of
// huf/ordered.h: those two run once per symbol and must compile into the
// decoder's loop, so their tables are visible here. Only the tree's own
// sources and their tests read or write them; every other module goes
// through huf/ordered.h.
//
// Position k holds the node whose order number is k. An exchange moves the
// two nodes' contents between their positions instead of relinking them, so
// the weights stay sorted in place, the two children of a node sit at
// positions c and c + 1, and walking or counting a symbol touches a few
// small arrays.
#include <cstdint>

#include "huf/code.h"

// The root's position, and the mark above every position: child entries
// from hufLeafMark up name leaves, as hufLeafMark + 2 * symbol.
inline constexpr int hufRootOrder = hufNodeMax;
inline constexpr int hufLeafMark = hufNodeMax + 1;

// The first hufLookupBits code bits of a walk are taken in one lookup: every
// bit of the walk is a load that waits for the one before, and most symbols
// end within a few levels of the root. 5 bits, from instructions per decoded
// byte on stores of one entry per item, items of 10 KB and one item:
// 136/78/72 with 5 bits, 148/79/71 with 6, 136/81/77 without the table. The
// upkeep on exchanges in the top levels grows with 2^bits, and short items,
// whose young trees exchange there most, pay for it.
inline constexpr int hufLookupBits = 5;
static_assert(hufLookupBits <= hufDepthMax);

// Positions and leaf marks are stored unsigned: the walk and the climb are
// chains of loads of them, each waiting for the one before, and here a
// zero-extending 16-bit load returns a cycle sooner than a sign-extending one
// (4.85 cycles against 5.94 in a chain of them).
struct HufOrdered {
    // Weight at each position below the root (less than 0x8000, the root
    // weight at which the tree is rebuilt). The root's entry is a sentinel
    // heavier than any node, so that no node finds the root as its partner;
    // the root's weight is kept apart: every symbol counts it, and nothing
    // compares it.
    std::uint16_t weight[hufNodeMax + 1];
    int rootWeight;
    // Position of the 0 child of the node at each position, or its leaf mark.
    std::uint16_t child[hufNodeMax + 1];
    // Position of the parent of each position (the root's is 0). The slots
    // from hufLeafMark on are the leaves': hufLeafMark + 2 * symbol holds
    // the symbol's position, the slot after it is written and never read, so
    // that moving a node fixes "both children" without asking whether it has
    // any.
    std::uint16_t parent[hufLeafMark + 2 * hufSymbolCount];
    // The lookup table of the walk: for each prefix of hufLookupBits code
    // bits, first bit highest, the position the walk reaches after it (a
    // leaf of a shorter code, or the node hufLookupBits levels down) times
    // 16, plus the count of bits that took. Entries name positions, not
    // symbols, so an exchange of two leaves leaves the table exact; only an
    // exchange that moves an internal node into or out of the top levels
    // changes it, and only under the two exchanged positions.
    std::uint16_t lookupEntry[1 << hufLookupBits];
    // hufLookupBits minus the depth of each position that lies less than
    // hufLookupBits levels below the root (the root's is hufLookupBits), 0
    // for the positions further down: the exchange's one test for upkeep.
    std::uint8_t lookupRise[hufNodeMax + 1];
    // The last position below the root whose weight is w or less, for every
    // weight w a node below the root can have (less than the root's, so less
    // than 0x8000): the exchange partner of a node of weight w. Counting the
    // node at that position lowers the entry of its old weight by one and
    // changes no other, as weights stay sorted. Last, so that the reset
    // copies everything before it whole and of it only what the item changed.
    std::uint16_t partner[hufWeightFull];
};

// The live tree.
extern HufOrdered hufOrderedTree;

// Brings the lookup table up to date after the contents of positions a and
// b were exchanged. Returns at once when neither position lies in the top
// levels, where nothing the table says changed.
void hufLookupExchanged(std::intptr_t a, std::intptr_t b);

// Exchanges the contents of positions a and b (equal weights, neither above
// the other, or a position with itself, which changes nothing), the lookup
// table kept up to date with it.
[[gnu::always_inline]] inline void hufOrderedExchange(std::intptr_t a, std::intptr_t b) {
    HufOrdered &t = hufOrderedTree;
    const std::intptr_t childA = t.child[a];
    const std::intptr_t childB = t.child[b];
    t.child[a] = static_cast<std::uint16_t>(childB);
    t.child[b] = static_cast<std::uint16_t>(childA);
    t.parent[childA] = static_cast<std::uint16_t>(b);
    t.parent[childA + 1] = static_cast<std::uint16_t>(b);
    t.parent[childB] = static_cast<std::uint16_t>(a);
    t.parent[childB + 1] = static_cast<std::uint16_t>(a);
    // Most exchanges lie below the top levels, where the table has nothing
    // to follow, and a position exchanged with itself leaves it as it is:
    // the test here spares them the call.
    if (((t.lookupRise[a] | t.lookupRise[b]) != 0) & (a != b)) hufLookupExchanged(a, b);
}
