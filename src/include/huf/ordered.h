#pragma once
// The code tree in the form plain decoding and the encoder use: laid out by
// order number (huf/ordered_layout.h, the tree's own business), reached
// through the procedures below. Code for code and weight for weight it is
// the tree nodeTable holds after the same symbols; it is kept on its own,
// from its own copy of the starting tree, and never reads nodeTable.
#include <cstdint>

#include "huf/check.h"
#include "huf/code.h"
#include "huf/ordered_layout.h"

// Starts an item: the tree becomes the starting tree, in one copy.
void hufOrderedInit();

// Rebuilds the tree from halved weights (the full root), as the rebuild of
// nodeTable does, and returns the new position of the symbol's leaf.
int hufOrderedRebuild(int symbol);

// The rebuilds made since the program started, for the fuzz targets'
// reports of how far their inputs reached.
long hufOrderedRebuildCount();

// The position of a symbol's leaf (0-255 bytes, 256 + n length n + 3).
inline std::intptr_t hufOrderedLeaf(int symbol) {
    return hufOrderedTree.parent[hufLeafMark + 2 * symbol];
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
    const HufOrdered &t = hufOrderedTree;
    HufCode code{0, 0};
    for (; pos != hufRootOrder; pos = t.parent[pos], code.length++) {
        const std::intptr_t parent = t.parent[pos];
        code.bits |= static_cast<std::uint32_t>(pos - t.child[parent]) << code.length;
    }
    return code;
}

// A leaf the walk reached: its symbol (0-255 bytes, 256 + n length n + 3;
// -1 when the bits ran out) and its position, which counting starts from.
struct HufLeaf {
    int symbol;
    std::intptr_t pos;
};

// Reads one code from the top of word, first bit highest, shifting the bits
// it takes out, and returns its leaf. With lookup set the word holds at
// least hufLookupBits bits, and they are taken in one step. Before each
// later bit more(word) is asked for it: true when word holds one, false when
// the bits ran out, and the walk then returns symbol -1. The position comes
// with the symbol so that the count need not look it up again: the lookup
// would be one more load for the count to wait for.
template <class More>
[[gnu::always_inline]] inline HufLeaf hufOrderedWalk(std::uint64_t &word, bool lookup, More more) {
    const HufOrdered &t = hufOrderedTree;
    std::intptr_t pos = hufRootOrder;
    if (lookup) {
        const unsigned entry = t.lookupEntry[word >> (64 - hufLookupBits)];
        word <<= entry & 15;
        pos = entry >> 4;
    }
    std::intptr_t child = t.child[pos];
    while (child < hufLeafMark) {
        if (!more(word)) return {-1, 0};
        // Doubling word carries its first bit out: one add with carry steps
        // to the chosen child.
        std::uint64_t shifted;
        const bool bit = __builtin_add_overflow(word, word, &shifted);
        pos = child + bit;
        child = t.child[pos];
        word = shifted;
    }
    return {static_cast<int>((child - hufLeafMark) >> 1), pos};
}

// The walk for a word that holds at least hufDepthMax bits, as many as any
// code takes.
[[gnu::always_inline]] inline HufLeaf hufOrderedWalk(std::uint64_t &word) {
    return hufOrderedWalk(word, true, [](std::uint64_t &) { return true; });
}

// Counts one occurrence of the symbol whose leaf is at position pos, as
// hufUpdate does without traces: before counting a node, exchange it with
// the last node of its weight, which is then counted in its place; climb to
// the root. When the root is full the tree is rebuilt first. The update comes
// in two halves, the lowest levels and the climb above them, so that a
// caller can start the first and do other work before the second; the tree
// is whole again only after both.

// A root weight below which a tree counts as young: its lowest levels
// exchange more often than a branch could guess.
inline constexpr int hufYoungBelow = 8192;

// One level of the update without a branch: the node at pos is exchanged
// with the last node of its weight, which is the node itself when it is the
// last, and counted there. Returns the parent of its new position.
[[gnu::always_inline]] inline std::intptr_t hufOrderedStep(std::intptr_t pos) {
    HufOrdered &t = hufOrderedTree;
    const std::uint16_t w = t.weight[pos];
    const std::intptr_t top = t.partner[w];
    hufOrderedExchange(pos, top);
    t.weight[top] = static_cast<std::uint16_t>(w + 1);
    t.partner[w] = static_cast<std::uint16_t>(top - 1);
    return t.parent[top];
}

// The lowest levels of the update (after the rebuild, if due). Returns the
// position the climb goes on from.
[[gnu::always_inline]] inline std::intptr_t hufOrderedUpdateLow(std::intptr_t pos) {
    HufOrdered &t = hufOrderedTree;
    if (t.rootWeight == hufWeightFull) {
        pos = hufOrderedRebuild((t.child[pos] - hufLeafMark) >> 1);
    }
    // On stores of one entry per item, of 10 KB items and of one item, 84 %,
    // 65 % and 30 % of the leaf levels exchange, against 61 %, 37 % and 9 %
    // one level up and a quarter or less above: in young trees most nodes of
    // the lowest levels share their weight with others. So the leaf's level
    // is always stepped without a branch, and in a young tree the two levels
    // above it too. A fourth such level, or the two in an old tree, cost
    // more than the branches they spare.
    pos = hufOrderedStep(pos);
    if (pos == hufRootOrder || t.rootWeight >= hufYoungBelow) return pos;
    pos = hufOrderedStep(pos);
    if (pos == hufRootOrder) return pos;
    return hufOrderedStep(pos);
}

// The rest of the update, from the position hufOrderedUpdateLow returned.
[[gnu::always_inline]] inline void hufOrderedUpdateAbove(std::intptr_t pos) {
    HufOrdered &t = hufOrderedTree;
    // Higher up the branch is guessed right and spares the partner's load,
    // which the step would otherwise wait for.
    while (pos != hufRootOrder) {
        const std::uint16_t w = t.weight[pos];
        if (t.weight[pos + 1] != w) {
            t.weight[pos] = static_cast<std::uint16_t>(w + 1);
            t.partner[w] = static_cast<std::uint16_t>(pos - 1);
            pos = t.parent[pos];
            continue;
        }
        pos = hufOrderedStep(pos);
    }
    t.rootWeight++;
    // The checks build checks after every count what a count can break
    // (some 2 us, the time of a hundred counts and more); the complete check
    // reads all 32768 partner entries and takes 15 times as long, so only
    // the reset and the rebuild run it.
    if constexpr (hufChecking) hufCheckOrderedUpdate();
}

[[gnu::always_inline]] inline void hufOrderedUpdate(std::intptr_t pos) {
    hufOrderedUpdateAbove(hufOrderedUpdateLow(pos));
}
