#include "huf/traced.h"
#include "textio/textio.h"

void hufDumpNode(int node) {
    // The path is written right to left while climbing to the root. A
    // consistent tree is at most 313 levels deep, so it always fits whole;
    // the bound only stops a climb through broken links.
    char path[hufNodeMax + 1];
    int start = hufNodeMax;
    path[start] = '\0';
    for (int n = node; nodeTable[n].parent != -1 && start > 0; n = nodeTable[n].parent) {
        path[--start] = nodeTable[nodeTable[n].parent].child0 == n ? '0' : '1';
    }
    // One formatted print per line: the tree dump prints 627 lines per
    // decoded symbol.
    const HufNode &n = nodeTable[node];
    const char *p = path + start;
    const long weight = n.weight;
    const char *mark = n.moved ? " *" : "";
    switch (n.type) {
    case hufInternal:
        txtPrintf("%s: weight=%ld, order=%d, (intermediate)%s\n", p, weight, n.order, mark);
        break;
    case hufLiteral:
        txtPrintf("%s: weight=%ld, order=%d, ch=0x%02x%s\n", p, weight, n.order, n.value, mark);
        break;
    case hufLength:
        txtPrintf("%s: weight=%ld, order=%d, len=%d%s\n", p, weight, n.order, n.value, mark);
        break;
    default:
        txtPrintf("%s: weight=%ld, order=%d%s\n", p, weight, n.order, mark);
        break;
    }
}

void hufDumpTree() {
    for (int k = 1; k <= nodeCount; k++) hufDumpNode(orderTable[k]);
}
