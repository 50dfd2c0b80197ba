#include "textio/textio.h"
#include "huf/tree_internal.h"

namespace {

// The root weight at which the tree is rebuilt from halved counts, before the
// symbol is counted: it keeps every weight well inside 16 bits.
constexpr std::int32_t weightFull = 0x8000;

void reportSlotMiss() { txtErrPrintf("Internal error in hufDecode()\n"); }

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

} // namespace

int hufPartnerFast(int b) {
    // Weights never decrease along order numbers, so the nodes of b's weight
    // are one run of order numbers and the partner is its last node. The run
    // is usually one or two nodes long, but right after a reset it holds all
    // 314 leaves: gallop, then halve.
    const std::int32_t w = nodeTable[b].weight;
    int lo = nodeTable[b].order; // known to hold weight w
    int step = 1;
    int hi = lo + 1;             // first order number not known to hold w
    while (hi <= nodeCount && orderWeight[hi] == w) {
        lo = hi;
        step *= 2;
        hi = lo + step;
    }
    if (hi > nodeCount + 1) hi = nodeCount + 1;
    while (hi - lo > 1) {
        int mid = (lo + hi) / 2;
        if (orderWeight[mid] == w) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    return orderTable[lo];
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
    if (nodeTable[0].weight == weightFull) {
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
        HufNode &node = nodeTable[b];
        node.weight++;
        orderWeight[node.order]++;
        b = node.parent;
    }
    nodeTable[0].weight++;
    orderWeight[nodeTable[0].order]++;
}

template void hufUpdateWith<false, false>(int, int);
template void hufUpdateWith<false, true>(int, int);
template void hufUpdateWith<true, true>(int, int);

void hufUpdate(int leaf, int verbose) { hufUpdateWith<false, true>(leaf, verbose); }

void hufMarkSubtree(int node) {
    nodeTable[node].moved = 1;
    if (nodeTable[node].child0 != -1) hufMarkSubtree(nodeTable[node].child0);
    if (nodeTable[node].child1 != -1) hufMarkSubtree(nodeTable[node].child1);
}
