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

void hufUpdate(int leaf, int verbose) {
    if (nodeTable[0].weight == hufWeightFull) {
        if (verbose >= 1) txtPrintf("\nWEIGHT FULL\n");
        const std::uint8_t type = nodeTable[leaf].type;
        const std::uint8_t value = nodeTable[leaf].value;
        hufRebuildTree();
        // The same symbol's leaf in the new tree: the lowest node index of
        // its kind and value.
        for (int i = 0; i < nodeCount; i++) {
            if (nodeTable[i].type == type && nodeTable[i].value == value) {
                leaf = i;
                break;
            }
        }
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
}

void hufMarkSubtree(int node) {
    nodeTable[node].moved = 1;
    if (nodeTable[node].child0 != -1) hufMarkSubtree(nodeTable[node].child0);
    if (nodeTable[node].child1 != -1) hufMarkSubtree(nodeTable[node].child1);
}
