#include "huf/tree_internal.h"
#include "textio/textio.h"

namespace {

void reportSlotMiss() {
    txtErrPrintf("Internal error in hufDecode()\n");
}

void traceExchange(int b, int f) {
    txtPrintf("swap: current: ");
    hufDumpNode(b);
    txtPrintf("       target: ");
    hufDumpNode(f);
}

// Exchanges b with the node f of equal weight and higher order: their parent
// slots, parents and order numbers. The slot of f is fixed first and the slot
// of b is then looked up afresh, which also swaps two siblings correctly.
void exchange(int b, int f) {
    HufNode &nb = nodeTable[b];
    HufNode &nf = nodeTable[f];
    const int pf = nf.parent;
    const int pb = nb.parent;
    HufNode &parentF = nodeTable[pf];
    if (parentF.child0 == f) {
        parentF.child0 = b;
    } else if (parentF.child1 == f) {
        parentF.child1 = b;
    } else {
        reportSlotMiss();
    }
    HufNode &parentB = nodeTable[pb];
    if (parentB.child0 == b) {
        parentB.child0 = f;
    } else if (parentB.child1 == b) {
        parentB.child1 = f;
    } else {
        reportSlotMiss();
    }
    nf.parent = pb;
    nb.parent = pf;
    const std::int32_t orderF = nf.order;
    nf.order = nb.order;
    nb.order = orderF;
    orderTable[nf.order] = f;
    orderTable[nb.order] = b;
}

// Adds 1 to the weight of node b, which holds the highest order number of
// its weight w (it is its own partner, or has just taken its partner's
// place). Its run of weight w therefore ends one order number lower, and b
// becomes the first node of weight w + 1, the new top of that run when no
// node above it already weighs w + 1.
inline void countAtTop(int b) {
    HufNode &node = nodeTable[b];
    const std::int32_t w = node.weight;
    const int o = node.order;
    node.weight = w + 1;
    orderWeight[o] = w + 1;
    runTop[w] = static_cast<std::int16_t>(o - 1);
    if (orderWeight[o + 1] != w + 1) runTop[w + 1] = static_cast<std::int16_t>(o);
}

} // namespace

int hufPartnerFast(int b) {
    return orderTable[runTop[nodeTable[b].weight]];
}

int hufPartnerFullScan(int b) {
    const std::int32_t w = nodeTable[b].weight;
    std::int32_t best = nodeTable[b].order;
    int f = b;
    for (int i = 0; i < nodeCount; i++) {
        if (nodeTable[i].weight == w && nodeTable[i].order > best) {
            f = i;
            best = nodeTable[i].order;
        }
    }
    return f;
}

template <bool FullScan, bool MarkMoved> void hufUpdateWith(int leaf, int verbose) {
    if (nodeTable[0].weight == hufWeightFull) {
        if (verbose >= 1) txtPrintf("\nWEIGHT FULL\n");
        const int symbol = hufSymbolOf(nodeTable[leaf]);
        hufRebuildTree();
        leaf = leafOfSymbol[symbol];
    }
    int b = leaf;
    while (b != 0) {
        const int f = FullScan ? hufPartnerFullScan(b) : hufPartnerFast(b);
        if (f != b) {
            if (verbose >= 2) traceExchange(b, f);
            exchange(b, f);
            if (MarkMoved) {
                hufMarkSubtree(f);
                hufMarkSubtree(b);
            }
        }
        countAtTop(b);
        b = nodeTable[b].parent;
    }
    countAtTop(0);
}

template void hufUpdateWith<false, false>(int, int);
template void hufUpdateWith<false, true>(int, int);
template void hufUpdateWith<true, true>(int, int);

void hufUpdate(int leaf, int verbose) {
    hufUpdateWith<false, true>(leaf, verbose);
}

void hufMarkSubtree(int node) {
    nodeTable[node].moved = 1;
    if (nodeTable[node].child0 != -1) hufMarkSubtree(nodeTable[node].child0);
    if (nodeTable[node].child1 != -1) hufMarkSubtree(nodeTable[node].child1);
}
