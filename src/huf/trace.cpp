#include "textio/textio.h"
#include "huf/huf.h"

void hufDumpNode(int node) {
    // The path is written right to left while climbing to the root. A
    // consistent tree is at most 313 levels deep, so it always fits whole.
    char path[hufNodeMax + 1];
    int start = hufNodeMax;
    path[start] = '\0';
    for (int n = node; nodeTable[n].parent != -1 && start > 0; n = nodeTable[n].parent) {
        path[--start] = nodeTable[nodeTable[n].parent].child0 == n ? '0' : '1';
    }
    const HufNode &n = nodeTable[node];
    txtPrintf("%s: weight=%ld", path + start, static_cast<long>(n.weight));
    txtPrintf(", order=%d", n.order);
    switch (n.type) {
    case hufInternal:
        txtPrintf(", (intermediate)");
        break;
    case hufLiteral:
        txtPrintf(", ch=0x%02x", n.value);
        break;
    case hufLength:
        txtPrintf(", len=%d", n.value);
        break;
    default:
        break;
    }
    if (n.moved) txtPrintf(" *");
    txtPrintf("\n");
}

void hufDumpTree() {
    for (int k = 1; k <= nodeCount; k++) hufDumpNode(orderTable[k]);
}
