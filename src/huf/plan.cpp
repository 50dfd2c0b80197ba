// The plans of the starting tree and of a rebuild.
#include "plan_internal.h"

HufPlanNode planTable[hufNodeMax];
int planCount;

namespace {

// The made nodes of a rebuild are numbered as the pairing makes them, from
// leaves + 1 on; the last one, the root, lands at index 0.
int madeIndex(int made, int last) {
    return made == last ? 0 : made;
}

// Leaf indices by weight, ties by index; the depth of each node.
std::int16_t leafQueue[hufLeafCount];
std::uint8_t depthOf[hufNodeMax];

// Stable insertion sort of the leaves by weight. They come in the order of
// their old order numbers, whose weights never decrease and still do not
// after halving, so this is one pass in practice; it stays right for any
// order.
void sortLeaves(int leaves) {
    for (int j = 0; j < leaves; j++) {
        const auto node = static_cast<std::int16_t>(j + 1);
        const std::int32_t w = planTable[node].weight;
        int k = j;
        while (k > 0 && planTable[leafQueue[k - 1]].weight > w) {
            leafQueue[k] = leafQueue[k - 1];
            k--;
        }
        leafQueue[k] = node;
    }
}

// Pairs the two lightest free nodes into each made node. Made nodes never
// get lighter (each is the sum of the two lightest), so the lightest free
// node heads either the leaf queue or the made nodes; on equal weights the
// leaf goes first, its index being the lower.
void pairNodes(int leaves, int last) {
    int nextLeaf = 0;
    int nextMade = leaves + 1;
    for (int made = leaves + 1; made <= last; made++) {
        int pair[2];
        for (int &taken : pair) {
            if (nextLeaf < leaves &&
                (nextMade >= made || planTable[leafQueue[nextLeaf]].weight <=
                                         planTable[madeIndex(nextMade, last)].weight)) {
                taken = leafQueue[nextLeaf++];
            } else {
                taken = madeIndex(nextMade++, last);
            }
        }
        HufPlanNode &n = planTable[madeIndex(made, last)];
        n.weight = planTable[pair[0]].weight + planTable[pair[1]].weight;
        n.child0 = static_cast<std::int16_t>(pair[0]);
        n.child1 = static_cast<std::int16_t>(pair[1]);
        n.symbol = -1;
    }
}

// Depths from the root down: a node is made after its children, so going
// through the made nodes from the last reaches every parent first. Returns
// the deepest depth.
int setDepths(int leaves, int last) {
    depthOf[0] = 0;
    int deepest = 0;
    for (int made = last; made > leaves; made--) {
        const HufPlanNode &n = planTable[madeIndex(made, last)];
        const int d = depthOf[madeIndex(made, last)] + 1;
        depthOf[n.child0] = static_cast<std::uint8_t>(d);
        depthOf[n.child1] = static_cast<std::uint8_t>(d);
        if (d > deepest) deepest = d;
    }
    return deepest;
}

// Order numbers deepest level first, within a level by rising weight, a
// leaf before a made node of equal weight: the leaves in queue order and the
// made nodes in the order made are each sorted by weight already, so sorting
// each by depth, keeping that order, and merging the two of every level
// orders them. The pairing took nodes in this same order, so no node of a
// level falls between two siblings: child 1's order number is the one after
// child 0's.
std::int16_t leafByDepth[hufLeafCount];
std::int16_t madeByDepth[hufLeafCount];
// Where each depth's nodes start in those lists; a node is deeper than the
// root by less than the leaf count.
int leafFirst[hufLeafCount + 1];
int madeFirst[hufLeafCount + 1];

// Sorts the n nodes given by nodeAt(i) by depth, keeping their order within
// a depth, into sorted, and the start of each depth into first.
template <class NodeAt>
void byDepth(int n, int deepest, NodeAt nodeAt, std::int16_t *sorted, int *first) {
    for (int d = 0; d <= deepest + 1; d++) first[d] = 0;
    for (int i = 0; i < n; i++) first[depthOf[nodeAt(i)] + 1]++;
    for (int d = 1; d <= deepest + 1; d++) first[d] += first[d - 1];
    for (int i = 0; i < n; i++) {
        const int node = nodeAt(i);
        sorted[first[depthOf[node]]++] = static_cast<std::int16_t>(node);
    }
    // Each start moved to the next depth's: move them back.
    for (int d = deepest + 1; d > 0; d--) first[d] = first[d - 1];
    first[0] = 0;
}

void setOrders(int leaves, int last, int deepest) {
    const auto leafAt = [](int i) { return int{leafQueue[i]}; };
    const auto madeAt = [&](int i) { return madeIndex(leaves + 1 + i, last); };
    byDepth(leaves, deepest, leafAt, leafByDepth, leafFirst);
    byDepth(last - leaves, deepest, madeAt, madeByDepth, madeFirst);
    int k = 1;
    for (int d = deepest; d >= 0; d--) {
        int leaf = leafFirst[d];
        int made = madeFirst[d];
        const int leafEnd = leafFirst[d + 1];
        const int madeEnd = madeFirst[d + 1];
        while (leaf < leafEnd || made < madeEnd) {
            int node;
            if (leaf < leafEnd && (made == madeEnd || planTable[leafByDepth[leaf]].weight <=
                                                          planTable[madeByDepth[made]].weight)) {
                node = leafByDepth[leaf++];
            } else {
                node = madeByDepth[made++];
            }
            planTable[node].order = static_cast<std::int16_t>(k++);
        }
    }
}

} // namespace

void hufPlanStart() {
    std::int8_t depth[hufNodeMax];
    planTable[0] = HufPlanNode{0, -1, -1, -1, 0};
    depth[0] = 0;
    int next = 1;
    for (const CodeRange &row : codeRangeTable) {
        int value = row.firstValue;
        for (int code = row.firstCode; code <= row.lastCode; code++, value++) {
            int node = 0;
            for (int bit = row.codeBits - 1; bit >= 0; bit--) {
                std::int16_t &slot =
                    (code >> bit & 1) ? planTable[node].child1 : planTable[node].child0;
                if (slot == -1) {
                    planTable[next] = HufPlanNode{0, -1, -1, -1, 0};
                    depth[next] = static_cast<std::int8_t>(depth[node] + 1);
                    slot = static_cast<std::int16_t>(next++);
                }
                planTable[node].weight++;
                node = slot;
            }
            planTable[node].weight = 1;
            planTable[node].symbol = static_cast<std::int16_t>(
                row.symbolType == hufLiteral ? value : fmtLengthSymbol(value));
        }
    }
    // Nodes of one depth were made left to right, as codes were laid down
    // in rising order; the root, at depth 0, is numbered last.
    int k = 1;
    for (int d = hufStartDepth; d >= 0; d--) {
        for (int i = 0; i < next; i++) {
            if (depth[i] == d) planTable[i].order = static_cast<std::int16_t>(k++);
        }
    }
    planCount = next;
}

void hufPlanRebuild(int leaves) {
    const int last = 2 * leaves - 1;
    sortLeaves(leaves);
    pairNodes(leaves, last);
    setOrders(leaves, last, setDepths(leaves, last));
    planCount = last;
}
