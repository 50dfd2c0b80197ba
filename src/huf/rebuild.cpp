#include <cstring>

#include "huf/tree_internal.h"

namespace {

// Selection bound of the pairing and the renumbering: only weights strictly
// below it are taken, so ties go to the lowest index.
constexpr std::int32_t selectBound = 0x8000;

HufNode scratchTable[hufNodeMax + 1];

// Index of the lightest node in scratch[1 .. end-1] without a parent, other
// than skip; ties go to the lowest index.
int lightestFree(int end, int skip) {
    std::int32_t bound = selectBound;
    int found = -1;
    for (int i = 1; i < end; i++) {
        if (i != skip && scratchTable[i].parent == -1 && scratchTable[i].weight < bound) {
            bound = scratchTable[i].weight;
            found = i;
        }
    }
    return found;
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
    int count = 1;
    for (int k = 0; k < nodeCount; k++) {
        const HufNode &old = nodeTable[orderTable[k]];
        if (old.type == hufInternal) continue;
        scratchTable[count++] = HufNode{old.weight, -1, -1, -1, -1, old.type, old.value, 0};
    }

    // Huffman pairing of the two lightest free nodes, the new node last.
    for (int i = count; i <= nodeCount; i++) {
        const int a = lightestFree(i, -1);
        const int b = lightestFree(i, a);
        scratchTable[i] = HufNode{scratchTable[a].weight + scratchTable[b].weight, -1, -1, a, b,
                                  hufInternal, 0, 0};
        scratchTable[a].parent = i;
        scratchTable[b].parent = i;
    }

    // The last node made is the root; it moves to index 0.
    scratchTable[0] = scratchTable[nodeCount];
    scratchTable[scratchTable[0].child0].parent = 0;
    scratchTable[scratchTable[0].child1].parent = 0;
    std::memcpy(nodeTable, scratchTable, sizeof nodeTable);

    // Number deepest level first, lighter nodes first within a level.
    const int levels = hufSetLevels(0, 0);
    int k = 1;
    for (int d = levels; d >= 0; d--) {
        int onLevel = 0;
        for (int i = 0; i < nodeCount; i++) onLevel += nodeTable[i].order == -d;
        for (; onLevel > 0; onLevel--) {
            std::int32_t bound = selectBound;
            int found = -1;
            for (int i = 0; i < nodeCount; i++) {
                if (nodeTable[i].order == -d && nodeTable[i].weight < bound) {
                    bound = nodeTable[i].weight;
                    found = i;
                }
            }
            nodeTable[found].order = k;
            orderTable[k] = found;
            orderWeight[k] = nodeTable[found].weight;
            k++;
        }
    }

    for (int i = 0; i < nodeCount; i++) {
        if (nodeTable[i].type != hufInternal) {
            leafOfSymbol[hufSymbolOf(nodeTable[i])] = static_cast<std::int16_t>(i);
        }
    }
}
