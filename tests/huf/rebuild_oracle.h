#pragma once
// The rebuild done literally: full selection scans for the pairing and for
// each order number. Slow (about n^2 node visits) and obviously faithful to
// the rule; the production rebuild must give the identical tree.
#include <cstring>

#include "huf/tree_internal.h"

namespace hufcheck {

// Only weights strictly below it are selected, so ties go to the lowest index.
inline constexpr std::int32_t literalBound = 0x8000;

inline HufNode literalScratch[hufNodeMax + 1];

inline std::int32_t literalHalve(int node) {
    HufNode &n = nodeTable[node];
    if (n.type != hufInternal) {
        n.weight = (n.weight + 1) / 2;
    } else {
        std::int32_t sum = 0;
        if (n.child0 != -1) sum += literalHalve(n.child0);
        if (n.child1 != -1) sum += literalHalve(n.child1);
        n.weight = sum;
    }
    return n.weight;
}

inline int literalLevels(int node, int depth) {
    HufNode &n = nodeTable[node];
    n.order = -(depth + 1);
    int levels = depth + 1;
    for (int c : {n.child0, n.child1}) {
        if (c == -1) continue;
        const int below = literalLevels(c, depth + 1);
        if (below > levels) levels = below;
    }
    return levels;
}

inline int literalLightest(int end, int skip) {
    std::int32_t bound = literalBound;
    int found = -1;
    for (int i = 1; i < end; i++) {
        if (i != skip && literalScratch[i].parent == -1 && literalScratch[i].weight < bound) {
            bound = literalScratch[i].weight;
            found = i;
        }
    }
    return found;
}

inline void rebuildLiteral() {
    literalHalve(0);
    int next = 1;
    for (int k = 0; k < nodeCount; k++) {
        const HufNode &old = nodeTable[orderTable[k]];
        if (old.type == hufInternal) continue;
        literalScratch[next++] = HufNode{old.weight, -1, -1, -1, -1, old.type, old.value, 0};
    }
    for (int i = next; i <= nodeCount; i++) {
        const int a = literalLightest(i, -1);
        const int b = literalLightest(i, a);
        literalScratch[i] = HufNode{
            literalScratch[a].weight + literalScratch[b].weight, -1, -1, a, b, hufInternal, 0, 0};
        literalScratch[a].parent = i;
        literalScratch[b].parent = i;
    }
    literalScratch[0] = literalScratch[nodeCount];
    literalScratch[literalScratch[0].child0].parent = 0;
    literalScratch[literalScratch[0].child1].parent = 0;
    std::memcpy(nodeTable, literalScratch, sizeof(HufNode) * static_cast<std::size_t>(nodeCount));

    const int levels = literalLevels(0, 0);
    int k = 1;
    for (int d = levels; d >= 0; d--) {
        int onLevel = 0;
        for (int i = 0; i < nodeCount; i++) onLevel += nodeTable[i].order == -d;
        for (; onLevel > 0; onLevel--) {
            std::int32_t bound = literalBound;
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
    hufSyncSideTables();
}

} // namespace hufcheck
