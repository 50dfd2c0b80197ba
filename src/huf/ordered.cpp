#include "huf/ordered.h"

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

inline int leafMarkOf(int symbol) {
    return hufLeafMark + 2 * symbol;
}

// Places a leaf at position k.
void placeLeaf(int k, int symbol, int weight) {
    orderedWeight[k] = static_cast<std::uint16_t>(weight);
    orderedChild[k] = static_cast<std::int16_t>(leafMarkOf(symbol));
    orderedParent[leafMarkOf(symbol)] = static_cast<std::int16_t>(k);
}

// Places an internal node at position k over the children at c and c + 1.
void placeInternal(int k, int c, int weight) {
    orderedWeight[k] = static_cast<std::uint16_t>(weight);
    orderedChild[k] = static_cast<std::int16_t>(c);
    orderedParent[c] = static_cast<std::int16_t>(k);
    orderedParent[c + 1] = static_cast<std::int16_t>(k);
}

// The root's weight goes apart, a sentinel takes its place, and the partner
// table follows from the sorted weights.
void finishLayout() {
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
}

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
                placeLeaf(k, node, 1);
            } else {
                const int c = below[2 * prefix];
                placeInternal(k, c, orderedWeight[c] + orderedWeight[c + 1]);
            }
            here[prefix] = static_cast<std::int16_t>(k++);
        }
        std::memcpy(below, here, sizeof below);
    }
    finishLayout();
    std::memcpy(startWeight, orderedWeight, sizeof startWeight);
    startRootWeight = orderedRootWeight;
    std::memcpy(startChild, orderedChild, sizeof startChild);
    std::memcpy(startParent, orderedParent, sizeof startParent);
    std::memcpy(startRunTop, orderedRunTop, sizeof startRunTop);
    startReady = true;
}

// --- Rebuild ------------------------------------------------------------
// Nodes of the new tree are named by a reference: the leaves 0 to 313 in the
// order of their old positions, then the internal nodes in the order they
// are made (the root last). That is the order of the node indices the
// rebuild of nodeTable gives them, and every tie below is decided by it.
constexpr int innerCount = hufLeafCount - 1;
constexpr int rootRef = hufNodeMax - 1;
std::uint16_t refWeight[hufNodeMax];
std::int16_t leafSymbol[hufLeafCount];
std::int16_t leafQueue[hufLeafCount]; // leaf references by weight, ties by reference
std::int16_t innerChild0[innerCount];
std::int16_t innerChild1[innerCount];
std::uint8_t refDepth[hufNodeMax];
std::int16_t refPosition[hufNodeMax];

// Stable insertion sort of the leaves by weight: they come in the order of
// their old positions, sorted already (halving keeps the order), so this is
// one pass; it stays right for any order.
void sortLeaves() {
    for (int j = 0; j < hufLeafCount; j++) {
        const std::uint16_t w = refWeight[j];
        int k = j;
        while (k > 0 && refWeight[leafQueue[k - 1]] > w) {
            leafQueue[k] = leafQueue[k - 1];
            k--;
        }
        leafQueue[k] = static_cast<std::int16_t>(j);
    }
}

// Pairs the two lightest free nodes, again and again, into internal nodes.
// Made nodes never get lighter, so the lightest free node heads either the
// leaf queue or the made nodes; on equal weights the leaf goes first. The
// nodes are thus taken in rising (weight, leaf before internal, reference).
void pairNodes() {
    int nextLeaf = 0;
    int nextInner = 0;
    for (int made = 0; made < innerCount; made++) {
        int pair[2];
        for (int &taken : pair) {
            if (nextLeaf < hufLeafCount &&
                (nextInner >= made ||
                 refWeight[leafQueue[nextLeaf]] <= refWeight[hufLeafCount + nextInner])) {
                taken = leafQueue[nextLeaf++];
            } else {
                taken = hufLeafCount + nextInner++;
            }
        }
        innerChild0[made] = static_cast<std::int16_t>(pair[0]);
        innerChild1[made] = static_cast<std::int16_t>(pair[1]);
        refWeight[hufLeafCount + made] =
            static_cast<std::uint16_t>(refWeight[pair[0]] + refWeight[pair[1]]);
    }
}

// Depths from the root down: a node is made after its children, so going
// through the made nodes from the last reaches every parent first. The
// deepest depth reached.
int setDepths() {
    refDepth[rootRef] = 0;
    int deepest = 0;
    for (int m = innerCount - 1; m >= 0; m--) {
        const int d = refDepth[hufLeafCount + m] + 1;
        refDepth[innerChild0[m]] = static_cast<std::uint8_t>(d);
        refDepth[innerChild1[m]] = static_cast<std::uint8_t>(d);
        if (d > deepest) deepest = d;
    }
    return deepest;
}

// Positions deepest level first, within a level by rising weight, a leaf
// before an internal node of equal weight, then by reference: the leaves
// in queue order and the internal nodes in the order made are each sorted
// by weight already, and one merge per level orders them. The pairing took
// nodes in this same order, so no node of a level falls between two
// siblings: child 1 lands right after child 0.
void setPositions(int deepest) {
    int k = 1;
    for (int d = deepest; d >= 0; d--) {
        int leaf = 0;
        int inner = 0;
        for (;;) {
            while (leaf < hufLeafCount && refDepth[leafQueue[leaf]] != d) leaf++;
            while (inner < innerCount && refDepth[hufLeafCount + inner] != d) inner++;
            int ref;
            if (leaf < hufLeafCount &&
                (inner == innerCount ||
                 refWeight[leafQueue[leaf]] <= refWeight[hufLeafCount + inner])) {
                ref = leafQueue[leaf++];
            } else if (inner < innerCount) {
                ref = hufLeafCount + inner++;
            } else {
                break;
            }
            refPosition[ref] = static_cast<std::int16_t>(k++);
        }
    }
}

} // namespace

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
}

int hufOrderedRebuild(int symbol) {
    // The leaves in the order of their positions, halved; a weight of 1
    // stays 1. Internal weights are summed again by the pairing.
    int leaves = 0;
    for (int k = 1; k < hufRootOrder; k++) {
        const int child = orderedChild[k];
        if (child < hufLeafMark) continue;
        leafSymbol[leaves] = static_cast<std::int16_t>((child - hufLeafMark) >> 1);
        refWeight[leaves] = static_cast<std::uint16_t>((orderedWeight[k] + 1) / 2);
        leaves++;
    }
    sortLeaves();
    pairNodes();
    setPositions(setDepths());
    for (int r = 0; r < hufLeafCount; r++) placeLeaf(refPosition[r], leafSymbol[r], refWeight[r]);
    for (int m = 0; m < innerCount; m++) {
        const int ref = hufLeafCount + m;
        placeInternal(refPosition[ref], refPosition[innerChild0[m]], refWeight[ref]);
    }
    finishLayout();
    return hufOrderedLeaf(symbol);
}
