#include "huf/ordered.h"

#include <cstdint>
#include <cstring>

std::uint16_t orderedWeight[hufNodeMax + 2];
int orderedRootWeight;
std::int16_t orderedChild[hufNodeMax + 1];
std::int16_t orderedParent[hufLeafMark + 2 * hufSymbolCount];
std::int16_t orderedNode[hufNodeMax + 1];
std::int16_t orderedRunTop[hufWeightFull + 2];

TreeHolder hufTreeHolder = TreeHolder::nodes;

namespace {

// The starting tree in the ordered form, copied before every item.
std::uint16_t initialWeight[hufNodeMax + 2];
int initialRootWeight;
std::int16_t initialChild[hufNodeMax + 1];
std::int16_t initialParent[hufLeafMark + 2 * hufSymbolCount];
std::int16_t initialNode[hufNodeMax + 1];
std::int16_t initialRunTop[hufWeightFull + 2];
bool initialReady = false;

// orderedRunTop entries above this weight still hold the starting tree's
// values; an item changes entries only below its root weight.
int runTopWritten = hufWeightFull + 1;

bool isNode(int n) {
    return n >= 0 && n < hufNodeMax;
}

// Whether nodeTable is a tree the ordered form can hold: the order table and
// order fields inverse, the root last, weights from 1 up, sorted along the
// order numbers and within the bound of the partner table, every node's
// children at the two order numbers just below each other and below their
// parent, links that agree both ways, every symbol in exactly one leaf. A
// node of weight 0 could find an ancestor as its partner; with weights from
// 1 the tree is a Huffman tree of its leaf weights, at most 21 levels deep
// under a root of 0x8000, which the walk relies on.
bool nodesFitOrderedForm() {
    if (nodeCount != hufNodeMax || orderTable[hufRootOrder] != 0) return false;
    bool symbolSeen[hufSymbolCount] = {};
    std::int32_t lastWeight = 1;
    for (int k = 1; k <= hufRootOrder; k++) {
        const int n = orderTable[k];
        if (!isNode(n)) return false;
        const HufNode &x = nodeTable[n];
        if (x.order != k || x.weight < lastWeight || x.weight > hufWeightFull) return false;
        lastWeight = x.weight;
        if (k == hufRootOrder) {
            if (x.parent != -1) return false;
        } else if (!isNode(x.parent) || nodeTable[x.parent].order <= k ||
                   (nodeTable[x.parent].child0 != n && nodeTable[x.parent].child1 != n)) {
            return false;
        }
        if (x.type == hufInternal) {
            if (!isNode(x.child0) || !isNode(x.child1)) return false;
            const HufNode &c0 = nodeTable[x.child0];
            const HufNode &c1 = nodeTable[x.child1];
            if (c1.order != c0.order + 1 || c1.order >= k || c0.parent != n || c1.parent != n)
                return false;
        } else {
            if (x.type != hufLiteral && (x.type != hufLength || x.value < 3 || x.value > 60))
                return false;
            if (x.child0 != -1 || x.child1 != -1) return false;
            const int symbol = hufSymbolOf(x);
            if (symbolSeen[symbol]) return false;
            symbolSeen[symbol] = true;
        }
    }
    return true;
}

// Converts nodeTable (which fits the form) into the ordered tables.
void loadFromNodes() {
    for (int k = 1; k <= hufRootOrder; k++) {
        const int n = orderTable[k];
        const HufNode &x = nodeTable[n];
        orderedWeight[k] = static_cast<std::uint16_t>(x.weight);
        orderedNode[k] = static_cast<std::int16_t>(n);
        orderedParent[k] =
            static_cast<std::int16_t>(k == hufRootOrder ? 0 : nodeTable[x.parent].order);
        if (x.type == hufInternal) {
            orderedChild[k] = static_cast<std::int16_t>(nodeTable[x.child0].order);
        } else {
            const int mark = hufLeafMark + 2 * hufSymbolOf(x);
            orderedChild[k] = static_cast<std::int16_t>(mark);
            orderedParent[mark] = static_cast<std::int16_t>(k);
        }
    }
    orderedRootWeight = orderedWeight[hufRootOrder];
    orderedWeight[hufRootOrder] = UINT16_MAX;
    orderedWeight[hufRootOrder + 1] = UINT16_MAX;
    orderedWeight[0] = 0;
    orderedParent[0] = 0;
    orderedChild[0] = 0;
    orderedNode[0] = 0;
    // The last position below the root weighing w or less, for every weight.
    int k = 0;
    for (int w = 0; w <= hufWeightFull + 1; w++) {
        while (k < hufRootOrder - 1 && orderedWeight[k + 1] <= w) k++;
        orderedRunTop[w] = static_cast<std::int16_t>(k);
    }
    runTopWritten = hufWeightFull + 1;
}

void takeInitial() {
    if (!initialReady) {
        // hufInitTree has just laid nodeTable down in its starting shape.
        loadFromNodes();
        std::memcpy(initialWeight, orderedWeight, sizeof initialWeight);
        initialRootWeight = orderedRootWeight;
        std::memcpy(initialChild, orderedChild, sizeof initialChild);
        std::memcpy(initialParent, orderedParent, sizeof initialParent);
        std::memcpy(initialNode, orderedNode, sizeof initialNode);
        std::memcpy(initialRunTop, orderedRunTop, sizeof initialRunTop);
        initialReady = true;
        runTopWritten = 0;
        return;
    }
    // The last item moved the entries of weights below its root weight.
    int written = orderedRootWeight + 1;
    if (written < runTopWritten) written = runTopWritten;
    if (written > hufWeightFull + 1) written = hufWeightFull + 1;
    std::memcpy(orderedRunTop, initialRunTop,
                sizeof(std::int16_t) * static_cast<std::size_t>(written + 1));
    runTopWritten = 0;
    std::memcpy(orderedWeight, initialWeight, sizeof orderedWeight);
    orderedRootWeight = initialRootWeight;
    std::memcpy(orderedChild, initialChild, sizeof orderedChild);
    std::memcpy(orderedParent, initialParent, sizeof initialParent);
    std::memcpy(orderedNode, initialNode, sizeof orderedNode);
}

} // namespace

bool hufOrderedTake() {
    switch (hufTreeHolder) {
    case TreeHolder::ordered:
        return true;
    case TreeHolder::initialPending:
        // The prepared copy is made from nodeTable the first time.
        if (!initialReady) hufInitTree();
        takeInitial();
        break;
    case TreeHolder::initial:
        takeInitial();
        break;
    case TreeHolder::nodes:
        if (!nodesFitOrderedForm()) return false;
        loadFromNodes();
        break;
    }
    hufTreeHolder = TreeHolder::ordered;
    return true;
}

void hufSettleTree() {
    if (hufTreeHolder == TreeHolder::initialPending) {
        hufInitTree();
        return;
    }
    if (hufTreeHolder != TreeHolder::ordered) return;
    for (int k = 1; k <= hufRootOrder; k++) {
        const int n = orderedNode[k];
        HufNode &x = nodeTable[n];
        x.weight = k == hufRootOrder ? orderedRootWeight : orderedWeight[k];
        x.order = k;
        orderTable[k] = n;
        const int child = orderedChild[k];
        if (child < hufLeafMark) {
            x.child0 = orderedNode[child];
            x.child1 = orderedNode[child + 1];
        }
        x.parent = k == hufRootOrder ? -1 : orderedNode[orderedParent[k]];
    }
    hufSyncSideTables();
}

int hufOrderedRebuild(int symbol) {
    hufSettleTree();
    hufRebuildTree();
    loadFromNodes();
    hufTreeHolder = TreeHolder::ordered;
    return orderedParent[hufLeafMark + 2 * symbol];
}
