// The walk's lookup table of the ordered tree: laid down for a whole tree
// and kept up to date across exchanges (the reset copies it with the rest of
// the tree).
#include <cstring>

#include "ordered_internal.h"

namespace {

// Lays down the subtree at position pos, rise levels above the table's
// depth, whose code is code: its entries, and the rises of its positions
// within the top levels.
void fill(std::intptr_t pos, int rise, unsigned code) {
    const int child = hufOrderedTree.child[pos];
    if (rise == 0 || child >= hufLeafMark) {
        const auto entry = static_cast<std::uint16_t>(pos * 16 + hufLookupBits - rise);
        const unsigned first = code << rise;
        for (unsigned v = first; v < first + (1u << rise); v++)
            hufOrderedTree.lookupEntry[v] = entry;
        if (rise == 0) return;
    }
    hufOrderedTree.lookupRise[pos] = static_cast<std::uint8_t>(rise);
    if (child >= hufLeafMark) return;
    fill(child, rise - 1, code * 2);
    fill(child + 1, rise - 1, code * 2 + 1);
}

// Sets the rises below position pos to 0: after an exchange they describe
// the depths the subtree had at its old place.
void clearBelow(std::intptr_t pos) {
    const int child = hufOrderedTree.child[pos];
    if (child >= hufLeafMark) return;
    for (std::intptr_t c = child; c <= child + 1; c++) {
        if (hufOrderedTree.lookupRise[c] == 0) continue;
        hufOrderedTree.lookupRise[c] = 0;
        clearBelow(c);
    }
}

} // namespace

void hufLookupBuild() {
    std::memset(hufOrderedTree.lookupRise, 0, sizeof hufOrderedTree.lookupRise);
    fill(hufRootOrder, hufLookupBits, 0);
}

void hufLookupExchanged(std::intptr_t a, std::intptr_t b) {
    const int riseA = hufOrderedTree.lookupRise[a];
    const int riseB = hufOrderedTree.lookupRise[b];
    // Both below the top levels: no prefix reaches either position or
    // anything under them, and their rises are 0 already.
    if ((riseA | riseB) == 0) return;
    // Two leaves changed places: the same positions end the same prefixes.
    const bool leafA = hufOrderedTree.child[a] >= hufLeafMark;
    const bool leafB = hufOrderedTree.child[b] >= hufLeafMark;
    if (leafA && leafB) return;
    if (riseA == riseB) {
        // One depth, the common case in young, flat trees: every position
        // below keeps its depth, so the two prefix ranges trade their
        // entries, and a leaf's range then names the leaf's new position.
        const std::size_t n = std::size_t{1} << riseA;
        std::uint16_t *const rangeA =
            hufOrderedTree.lookupEntry + (hufOrderedCode(a).bits << riseA);
        std::uint16_t *const rangeB =
            hufOrderedTree.lookupEntry + (hufOrderedCode(b).bits << riseB);
        const auto depthBits = static_cast<std::uint16_t>(hufLookupBits - riseA);
        for (std::size_t i = 0; i < n; i++) {
            const std::uint16_t e = rangeA[i];
            rangeA[i] = leafA ? static_cast<std::uint16_t>(a * 16 + depthBits) : rangeB[i];
            rangeB[i] = leafB ? static_cast<std::uint16_t>(b * 16 + depthBits) : e;
        }
        return;
    }
    // The two positions stay where they are; their subtrees moved. A
    // subtree that came up from below the top levels has no rises to clear;
    // one that went down keeps those of its old place until cleared, also
    // under a position below the top levels itself.
    clearBelow(a);
    clearBelow(b);
    if (riseA != 0) fill(a, riseA, hufOrderedCode(a).bits);
    if (riseB != 0) fill(b, riseB, hufOrderedCode(b).bits);
}
