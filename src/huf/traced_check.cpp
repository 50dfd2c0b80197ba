// The rules of nodeTable's tree, checked on the live tree.
#include <cstdint>
#include <cstdio>

#include "check_internal.h"
#include "huf/check.h"
#include "traced_internal.h"

namespace {

const char *nodeFault(int i, const char *what) {
    const HufNode &x = nodeTable[i];
    return hufFaultText("node %d {w=%d o=%d p=%d c0=%d c1=%d t=%d v=%d}: %s", i, x.weight, x.order,
                        x.parent, x.child0, x.child1, x.type, x.value, what);
}

// The links of node i both ways, its weight, kind and order number.
const char *nodeLinksFault(int i) {
    const int n = nodeCount;
    const HufNode &x = nodeTable[i];
    if (x.weight < 1) return nodeFault(i, "weight below 1");
    if (x.order < 1 || x.order > n || orderTable[x.order] != i)
        return nodeFault(i, "order not in orderTable");
    if (tracedOrderWeight[x.order] != x.weight) return nodeFault(i, "tracedOrderWeight differs");
    if (i != 0 && (x.parent < 0 || x.parent >= n ||
                   (nodeTable[x.parent].child0 != i && nodeTable[x.parent].child1 != i))) {
        return nodeFault(i, "parent does not hold it");
    }
    if (x.type == hufInternal) {
        if (x.child0 < 0 || x.child0 >= n || x.child1 < 0 || x.child1 >= n)
            return nodeFault(i, "missing child");
        const HufNode &c0 = nodeTable[x.child0];
        const HufNode &c1 = nodeTable[x.child1];
        if (c0.parent != i || c1.parent != i) return nodeFault(i, "child's parent differs");
        if (c0.weight + c1.weight != x.weight)
            return nodeFault(i, "weight is not the children's sum");
        if (c1.order != c0.order + 1)
            return nodeFault(i, "children's orders not adjacent, child0 lower");
        return nullptr;
    }
    if (x.child0 != -1 || x.child1 != -1) return nodeFault(i, "leaf with children");
    if (x.type != hufLiteral && x.type != hufLength) return nodeFault(i, "unknown type");
    if (x.type == hufLength && (x.value < fmtMinMatch || x.value > fmtMaxMatch))
        return nodeFault(i, "length out of range");
    return nullptr;
}

// Weights along order numbers, and the partner search's side tables: the
// last order number of every weight's run is where tracedRunTop points, and
// the entry after the last order number is heavier than any root.
const char *orderFault() {
    const int n = nodeCount;
    for (int k = 1; k < n; k++) {
        if (tracedOrderWeight[k] > tracedOrderWeight[k + 1])
            return hufFaultText("weight decreases at order %d", k);
    }
    for (int k = 1; k <= n; k++) {
        const std::int32_t w = tracedOrderWeight[k];
        if ((k == n || tracedOrderWeight[k + 1] != w) && tracedRunTop[w] != k)
            return hufFaultText("tracedRunTop of weight %d is %d, not %d", w, tracedRunTop[w], k);
    }
    if (tracedOrderWeight[n + 1] <= hufWeightFull)
        return hufFaultText("tracedOrderWeight after the root is %d, no sentinel",
                            tracedOrderWeight[n + 1]);
    return nullptr;
}

} // namespace

const char *hufTracedFault() {
    const int n = nodeCount;
    if (n != hufNodeMax) return hufFaultText("nodeCount %d", n);
    if (orderTable[0] != 0) return hufFaultText("orderTable[0] = %d", orderTable[0]);
    if (nodeTable[0].parent != -1) return "root has a parent";
    if (nodeTable[0].order != n) return hufFaultText("root order %d", nodeTable[0].order);
    if (nodeTable[0].weight > hufWeightFull)
        return hufFaultText("root weight %d above 0x8000", nodeTable[0].weight);
    bool seen[hufSymbolCount] = {};
    int leaves = 0;
    for (int i = 0; i < n; i++) {
        if (const char *f = nodeLinksFault(i)) return f;
        if (nodeTable[i].type == hufInternal) continue;
        const int symbol = tracedSymbolOf(nodeTable[i]);
        if (seen[symbol]) return nodeFault(i, "symbol twice");
        seen[symbol] = true;
        leaves++;
    }
    if (leaves != hufLeafCount) return hufFaultText("%d leaves", leaves);
    return orderFault();
}
