#include "huf/check.h"
#include "textio/textio.h"
#include "traced_internal.h"

namespace {

// A parent that does not list its child means the links are inconsistent.
// The exchange cannot stop there: the message goes out at the point of the
// miss, among the traces of the same exchange, the rest of the exchange is
// carried out anyway and the item decodes on. Returning -1 instead would
// end the item and change what the user sees, so the tree prints it itself.
[[gnu::cold, gnu::noinline]] void reportSlotMiss() {
    txtErrPrintf("Internal error in hufDecode()\n");
}

// Points the slot of parent that holds child from at child to instead.
void relink(int parent, int from, int to) {
    HufNode &p = nodeTable[parent];
    if (p.child0 == from) {
        p.child0 = to;
    } else if (p.child1 == from) {
        p.child1 = to;
    } else {
        reportSlotMiss();
    }
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
    relink(pf, f, b);
    relink(pb, b, f);
    nf.parent = pb;
    nb.parent = pf;
    const std::int32_t orderF = nf.order;
    nf.order = nb.order;
    nb.order = orderF;
    orderTable[nf.order] = f;
    orderTable[nb.order] = b;
}

} // namespace

void hufUpdate(int leaf, int verbose) {
    if (nodeTable[0].weight == hufWeightFull) {
        if (verbose >= 1) txtPrintf("\nWEIGHT FULL\n");
        const int symbol = tracedSymbolOf(nodeTable[leaf]);
        hufRebuildTree();
        if constexpr (hufChecking) hufCheckTraced("rebuild");
        // The same symbol's leaf in the new tree, which keeps every leaf.
        leaf = hufLeafOf(symbol);
    }
    for (int b = leaf;;) {
        HufNode &node = nodeTable[b];
        const std::int32_t w = node.weight;
        // top: the highest order number of weight w, which b holds once it
        // has been exchanged with its partner (or already held).
        const int top = tracedRunTop[w];
        const int f = orderTable[top];
        if (f != b) {
            if (verbose >= 2) traceExchange(b, f);
            exchange(b, f);
            hufMarkSubtree(f);
            hufMarkSubtree(b);
        }
        // Counting b shortens the run of weight w by its top and starts the
        // run of w + 1 at b, unless a node above already weighs w + 1.
        node.weight = w + 1;
        tracedOrderWeight[top] = w + 1;
        tracedRunTop[w] = static_cast<std::int16_t>(top - 1);
        if (tracedOrderWeight[top + 1] != w + 1)
            tracedRunTop[w + 1] = static_cast<std::int16_t>(top);
        if (b == 0) break; // the root is counted last
        b = node.parent;
    }
    // The whole tree after every count: its check costs about what a count
    // with its exchange marks does.
    if constexpr (hufChecking) hufCheckTraced("count");
}

void hufMarkSubtree(int node) {
    nodeTable[node].moved = 1;
    if (nodeTable[node].child0 != -1) hufMarkSubtree(nodeTable[node].child0);
    if (nodeTable[node].child1 != -1) hufMarkSubtree(nodeTable[node].child1);
}
