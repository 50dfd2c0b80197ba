// The rebuild of the ordered tree from halved weights, in place.
#include <cstdint>

#include "ordered_internal.h"

namespace {

// Nodes of the new tree are named by a reference: the leaves 0 to 313 in the
// order of their old positions, then the internal nodes in the order they
// are made (the root last). That is the order of the node indices the
// rebuild of nodeTable gives them (but for the root, alone on its level),
// and every tie below is decided by it.
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
    for (int r = 0; r < hufLeafCount; r++)
        hufOrderedPlaceLeaf(refPosition[r], leafSymbol[r], refWeight[r]);
    for (int m = 0; m < innerCount; m++) {
        const int ref = hufLeafCount + m;
        hufOrderedPlaceInternal(refPosition[ref], refPosition[innerChild0[m]], refWeight[ref]);
    }
    hufOrderedFinish();
    return hufOrderedLeaf(symbol);
}
