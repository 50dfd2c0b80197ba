#pragma once
// The code tree laid out by order number: the form plain decoding and the
// encoder use.
//
// Position k holds the node whose order number is k. An exchange moves the
// two nodes' contents between their positions instead of relinking them, so
// the weights stay sorted in place, the two children of a node sit at
// positions c and c + 1, and walking or counting a symbol touches a few
// small arrays. Code for code and weight for weight it is the tree nodeTable
// holds after the same symbols; it is kept on its own, from its own copy of
// the starting tree, and never reads nodeTable.
#include <cstdint>

#include "huf/code.h"
#include "huf/ordered_lookup.h"

// The root's position, and the mark above every position: child entries
// from hufLeafMark up name leaves, as hufLeafMark + 2 * symbol.
inline constexpr int hufRootOrder = hufNodeMax;
inline constexpr int hufLeafMark = hufNodeMax + 1;

// Weight at each position below the root (less than 0x8000, the root weight
// at which the tree is rebuilt). The root's entry is a sentinel heavier than
// any node, so that no node finds the root as its partner; the root's weight
// is kept apart: every symbol counts it, and nothing compares it.
extern std::uint16_t orderedWeight[hufNodeMax + 1];
extern int orderedRootWeight;
// Position of the 0 child of the node at each position, or its leaf mark.
extern std::int16_t orderedChild[hufNodeMax + 1];
// Position of the parent of each position (the root's is 0). The slots from
// hufLeafMark on are the leaves': hufLeafMark + 2 * symbol holds the
// symbol's position, the slot after it is written and never read, so that
// moving a node fixes "both children" without asking whether it has any.
extern std::int16_t orderedParent[hufLeafMark + 2 * hufSymbolCount];
// The last position below the root whose weight is w or less, for every
// weight w a node below the root can have (less than the root's, so less
// than 0x8000): the exchange partner of a node of weight w. Counting the
// node at that position lowers the entry of its old weight by one and
// changes no other, as weights stay sorted.
extern std::int16_t orderedRunTop[hufWeightFull];

// Starts an item: the tree and its walk's lookup table become the starting
// tree's, copied from a prepared one (made from the code ranges the first
// time).
void hufOrderedReset();

// Rebuilds the tree from halved weights (the full root), exactly as the
// rebuild of nodeTable orders it, and returns the new position of the
// symbol's leaf.
int hufOrderedRebuild(int symbol);

// The position of a symbol's leaf (0-255 bytes, 256 + n length n + 3).
inline int hufOrderedLeaf(int symbol) {
    return orderedParent[hufLeafMark + 2 * symbol];
}

// The code of the node at a position: its path from the root, first bit
// highest, and its length. The path is read leaf to root: at each level the
// node is its parent's child 1 if it sits after the parent's child 0. No
// leaf is deeper than hufDepthMax, so the path fits 32 bits.
struct HufCode {
    std::uint32_t bits;
    int length;
};
static_assert(hufDepthMax <= 32);

inline HufCode hufOrderedCode(std::intptr_t pos) {
    HufCode code{0, 0};
    for (; pos != hufRootOrder; pos = orderedParent[pos], code.length++) {
        const std::intptr_t parent = orderedParent[pos];
        code.bits |= static_cast<std::uint32_t>(pos - orderedChild[parent]) << code.length;
    }
    return code;
}

// Exchanges the contents of positions a and b (equal weights, neither
// above the other), and keeps the walk's lookup table up to date with it.
[[gnu::always_inline]] inline void hufOrderedExchange(std::intptr_t a, std::intptr_t b) {
    const std::intptr_t childA = orderedChild[a];
    const std::intptr_t childB = orderedChild[b];
    orderedChild[a] = static_cast<std::int16_t>(childB);
    orderedChild[b] = static_cast<std::int16_t>(childA);
    orderedParent[childA] = static_cast<std::int16_t>(b);
    orderedParent[childA + 1] = static_cast<std::int16_t>(b);
    orderedParent[childB] = static_cast<std::int16_t>(a);
    orderedParent[childB + 1] = static_cast<std::int16_t>(a);
    // Most exchanges lie below the top levels, where the table has nothing
    // to follow: the test here spares them the call.
    if ((lookupRise[a] | lookupRise[b]) != 0) hufLookupExchanged(a, b);
}

// hufUpdate without traces for the leaf at position pos: before counting a
// node, exchange it with the last node of its weight, which is then counted
// in its place; climb to the root.
[[gnu::always_inline]] inline void hufOrderedCount(std::intptr_t pos) {
    std::uint16_t *const weight = orderedWeight;
    const std::int16_t *const parent = orderedParent;
    if (orderedRootWeight == hufWeightFull) {
        pos = hufOrderedRebuild((orderedChild[pos] - hufLeafMark) >> 1);
    }
    std::int16_t *const partner = orderedRunTop;
    do {
        const std::uint16_t w = weight[pos];
        if (weight[pos + 1] != w) {
            weight[pos] = static_cast<std::uint16_t>(w + 1);
            partner[w] = static_cast<std::int16_t>(pos - 1);
            pos = parent[pos];
            continue;
        }
        const std::intptr_t top = partner[w];
        hufOrderedExchange(pos, top);
        weight[top] = static_cast<std::uint16_t>(w + 1);
        partner[w] = static_cast<std::int16_t>(top - 1);
        pos = parent[top];
    } while (pos != hufRootOrder);
    orderedRootWeight++;
}
