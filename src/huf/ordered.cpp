// The ordered tree's arrays, its starting tree, and the reset before every
// item.
#include "ordered_internal.h"
#include "ordered_lookup_internal.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

std::uint16_t orderedWeight[hufNodeMax + 1];
int orderedRootWeight;
std::int16_t orderedChild[hufNodeMax + 1];
std::int16_t orderedParent[hufLeafMark + 2 * hufSymbolCount];
std::int16_t orderedRunTop[hufWeightFull];

namespace {

// The starting tree, copied at the start of every item.
std::uint16_t startWeight[hufNodeMax + 1];
int startRootWeight;
std::int16_t startChild[hufNodeMax + 1];
std::int16_t startParent[hufLeafMark + 2 * hufSymbolCount];
std::int16_t startRunTop[hufWeightFull];
bool startReady = false;

// What the starting code holds at a code prefix of a given depth: the
// symbol of the leaf there, -1 for an internal node, -2 for nothing.
int startNodeAt(int depth, int prefix) {
    int found = -2;
    for (const CodeRange &row : codeRangeTable) {
        const int shift = row.codeBits - depth;
        if (shift < 0 || prefix < row.firstCode >> shift || prefix > row.lastCode >> shift)
            continue;
        if (shift > 0) {
            found = -1;
            continue;
        }
        const int value = row.firstValue + prefix - row.firstCode;
        return row.symbolType == hufLiteral ? value : fmtLengthSymbol(value);
    }
    return found;
}

// Lays the starting tree out by order number straight from the code ranges:
// deepest level first, left to right (by code prefix) within a level, which
// puts the two children of a node, prefixes 2p and 2p + 1 one level down,
// at adjacent positions.
void prepareStart() {
    std::int16_t below[1 << hufStartDepth] = {}; // position of each prefix one level down
    std::int16_t here[1 << hufStartDepth] = {};
    int k = 1;
    for (int depth = hufStartDepth; depth >= 0; depth--) {
        for (int prefix = 0; prefix < 1 << depth; prefix++) {
            const int node = startNodeAt(depth, prefix);
            if (node == -2) continue;
            if (node >= 0) {
                hufOrderedPlaceLeaf(k, node, 1);
            } else {
                const int c = below[2 * prefix];
                hufOrderedPlaceInternal(k, c, orderedWeight[c] + orderedWeight[c + 1]);
            }
            here[prefix] = static_cast<std::int16_t>(k++);
        }
        std::memcpy(below, here, sizeof below);
    }
    hufOrderedFinish();
    std::memcpy(startWeight, orderedWeight, sizeof startWeight);
    startRootWeight = orderedRootWeight;
    std::memcpy(startChild, orderedChild, sizeof startChild);
    std::memcpy(startParent, orderedParent, sizeof startParent);
    std::memcpy(startRunTop, orderedRunTop, sizeof startRunTop);
    hufLookupKeep();
    startReady = true;
}

} // namespace

void hufOrderedPlaceLeaf(int k, int symbol, int weight) {
    const int mark = hufLeafMark + 2 * symbol;
    orderedWeight[k] = static_cast<std::uint16_t>(weight);
    orderedChild[k] = static_cast<std::int16_t>(mark);
    orderedParent[mark] = static_cast<std::int16_t>(k);
}

void hufOrderedPlaceInternal(int k, int c, int weight) {
    orderedWeight[k] = static_cast<std::uint16_t>(weight);
    orderedChild[k] = static_cast<std::int16_t>(c);
    orderedParent[c] = static_cast<std::int16_t>(k);
    orderedParent[c + 1] = static_cast<std::int16_t>(k);
}

void hufOrderedFinish() {
    orderedRootWeight = orderedWeight[hufRootOrder];
    orderedWeight[hufRootOrder] = UINT16_MAX;
    orderedWeight[0] = 0;
    orderedChild[0] = 0;
    orderedParent[0] = 0;
    orderedParent[hufRootOrder] = 0;
    // From the heaviest weight below the root on, every entry names the last
    // position below the root.
    const int heaviest = orderedWeight[hufRootOrder - 1];
    int k = 0;
    for (int w = 0; w < heaviest; w++) {
        while (orderedWeight[k + 1] <= w) k++;
        orderedRunTop[w] = static_cast<std::int16_t>(k);
    }
    std::fill(orderedRunTop + heaviest, orderedRunTop + hufWeightFull,
              static_cast<std::int16_t>(hufRootOrder - 1));
    hufLookupBuild();
}

void hufOrderedReset() {
    if (!startReady) prepareStart();
    // The last item changed the partner entries only below its root weight:
    // counting touches the weights of nodes below the root, and a rebuild
    // leaves the entries from its root weight on as the starting tree has
    // them (the last position below the root).
    const int changed = orderedRootWeight < hufWeightFull ? orderedRootWeight : hufWeightFull;
    std::memcpy(orderedRunTop, startRunTop,
                sizeof(std::int16_t) * static_cast<std::size_t>(changed));
    std::memcpy(orderedWeight, startWeight, sizeof orderedWeight);
    orderedRootWeight = startRootWeight;
    std::memcpy(orderedChild, startChild, sizeof orderedChild);
    std::memcpy(orderedParent, startParent, sizeof orderedParent);
    hufLookupRestore();
}
