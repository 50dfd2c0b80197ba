#include <cstring>

#include "traced_internal.h"

// The rebuild makes the Huffman tree of the halved leaf weights. Every choice
// is fixed: the two lightest free nodes are paired (ties to the lowest index,
// the leaves holding indices 1 to 314 in the order of their old order
// numbers, the new nodes the indices after them in creation order), and
// order numbers run deepest level first, lightest first within a level (ties
// to the lowest node index). Both are done here with queues and buckets in
// time linear in the node count, instead of a scan of all nodes per choice;
// the result is identical node for node.

namespace {

HufNode scratchTable[hufNodeMax + 1];

// Scratch indices of the leaves sorted by weight, ties by index.
std::int16_t leafQueue[hufNodeMax];

// Node indices grouped by level (1 = the root's), each group holding its
// leaves in leafQueue order, then its internal nodes in index order.
std::int16_t levelNodes[hufNodeMax];
std::int32_t levelStart[hufNodeMax + 2];
std::int32_t levelLeaves[hufNodeMax + 2];
std::int32_t leafCursor[hufNodeMax + 2];
std::int32_t innerCursor[hufNodeMax + 2];

// Stable insertion sort of scratch leaves 1..leaves by weight. The leaves
// arrive in the order of their old order numbers, whose weights never
// decrease and still do not after halving, so this is one pass in practice;
// it stays correct for any order.
void sortLeaves(int leaves) {
    for (int j = 0; j < leaves; j++) {
        const std::int16_t node = static_cast<std::int16_t>(j + 1);
        const std::int32_t w = scratchTable[node].weight;
        int k = j;
        while (k > 0 && scratchTable[leafQueue[k - 1]].weight > w) {
            leafQueue[k] = leafQueue[k - 1];
            k--;
        }
        leafQueue[k] = node;
    }
}

// Pairs the free nodes Huffman-fashion into scratch indices first..last. The
// new nodes never get lighter (each is the sum of the two lightest), so the
// lightest free node is always at the head of the leaf queue or of the new
// nodes; on equal weights the leaf wins, its index being the lower. No weight
// reaches 0x8000 here (the halved total is at most (0x8000 + 314) / 2), so
// that selection bound never excludes a node.
void pairNodes(int leaves, int first, int last) {
    int nextLeaf = 0;
    int nextInner = first;
    auto takeLightest = [&](int made) {
        if (nextLeaf < leaves && (nextInner >= made || scratchTable[leafQueue[nextLeaf]].weight <=
                                                           scratchTable[nextInner].weight)) {
            return static_cast<int>(leafQueue[nextLeaf++]);
        }
        return nextInner++;
    };
    for (int i = first; i <= last; i++) {
        const int a = takeLightest(i);
        const int b = takeLightest(i);
        scratchTable[i] = HufNode{
            scratchTable[a].weight + scratchTable[b].weight, -1, -1, a, b, hufInternal, 0, 0};
        scratchTable[a].parent = i;
        scratchTable[b].parent = i;
    }
}

// Gives order numbers 1 up, deepest level first and lightest first within a
// level, ties to the lowest index. nodeTable holds levels as negative orders
// (hufSetLevels). Within a level the leaves (in leafQueue order) and the
// internal nodes (in index order, which is creation order) are each already
// sorted by weight; one merge per level orders them, the leaf first on equal
// weights since every leaf index is below every internal one.
void renumber(int levels, int leaves) {
    for (int d = 0; d <= levels + 1; d++) levelStart[d] = levelLeaves[d] = 0;
    for (int i = 0; i < nodeCount; i++) {
        const int d = -nodeTable[i].order;
        levelStart[d + 1]++;
        if (nodeTable[i].type != hufInternal) levelLeaves[d]++;
    }
    for (int d = 1; d <= levels + 1; d++) levelStart[d] += levelStart[d - 1];
    for (int d = 0; d <= levels; d++) {
        leafCursor[d] = levelStart[d];
        innerCursor[d] = levelStart[d] + levelLeaves[d];
    }
    for (int j = 0; j < leaves; j++) {
        const std::int16_t node = leafQueue[j];
        levelNodes[leafCursor[-nodeTable[node].order]++] = node;
    }
    for (int i = 0; i < nodeCount; i++) {
        if (nodeTable[i].type == hufInternal) {
            levelNodes[innerCursor[-nodeTable[i].order]++] = static_cast<std::int16_t>(i);
        }
    }

    int k = 1;
    for (int d = levels; d >= 1; d--) {
        int leaf = levelStart[d];
        const int leafEnd = leaf + levelLeaves[d];
        int inner = leafEnd;
        const int innerEnd = levelStart[d + 1];
        while (leaf < leafEnd || inner < innerEnd) {
            int node;
            if (inner >= innerEnd || (leaf < leafEnd && nodeTable[levelNodes[leaf]].weight <=
                                                            nodeTable[levelNodes[inner]].weight)) {
                node = levelNodes[leaf++];
            } else {
                node = levelNodes[inner++];
            }
            nodeTable[node].order = k;
            orderTable[k] = node;
            k++;
        }
    }
}

} // namespace

std::int32_t hufHalveWeights(int node) {
    HufNode &n = nodeTable[node];
    if (n.type != hufInternal) {
        n.weight = (n.weight + 1) / 2;
    } else {
        std::int32_t sum = 0;
        if (n.child0 != -1) sum += hufHalveWeights(n.child0);
        if (n.child1 != -1) sum += hufHalveWeights(n.child1);
        n.weight = sum;
    }
    return n.weight;
}

int hufSetLevels(int node, int depth) {
    HufNode &n = nodeTable[node];
    n.order = -(depth + 1);
    int levels = depth + 1;
    if (n.child0 != -1) {
        int below = hufSetLevels(n.child0, depth + 1);
        if (below > levels) levels = below;
    }
    if (n.child1 != -1) {
        int below = hufSetLevels(n.child1, depth + 1);
        if (below > levels) levels = below;
    }
    return levels;
}

void hufRebuildTree() {
    hufHalveWeights(0);

    // Leaves in the order of their old order numbers; entry 0 names the root,
    // which is internal and skipped like every internal node.
    int leaves = 0;
    for (int k = 0; k < nodeCount; k++) {
        const HufNode &old = nodeTable[orderTable[k]];
        if (old.type == hufInternal) continue;
        leaves++;
        scratchTable[leaves] = HufNode{old.weight, -1, -1, -1, -1, old.type, old.value, 0};
    }

    sortLeaves(leaves);
    pairNodes(leaves, leaves + 1, nodeCount);

    // The last node made is the root; it moves to index 0.
    scratchTable[0] = scratchTable[nodeCount];
    scratchTable[scratchTable[0].child0].parent = 0;
    scratchTable[scratchTable[0].child1].parent = 0;
    std::memcpy(nodeTable, scratchTable, sizeof(HufNode) * static_cast<std::size_t>(nodeCount));

    renumber(hufSetLevels(0, 0), leaves);
    hufSyncSideTables();
}
