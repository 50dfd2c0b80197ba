#include <cstdint>
#include <cstring>

#include "huf/check.h"
#include "plan_internal.h"
#include "traced_internal.h"

HufNode nodeTable[hufNodeMax];
std::int32_t orderTable[hufNodeMax + 1];
std::int32_t nodeCount;
std::int32_t tracedOrderWeight[hufNodeMax + 2];
std::int16_t tracedRunTop[hufWeightFull + 2];

namespace {

// The starting tree is laid down once; every later reset copies it.
HufNode initialNodes[hufNodeMax];
std::int32_t initialOrder[hufNodeMax + 1];
std::int32_t initialOrderWeight[hufNodeMax + 2];
// No node of the starting tree weighs more than the 314 leaves together;
// entries of heavier weights are never read before an update sets them.
constexpr int initialWeightMax = hufLeafCount;
std::int16_t initialRunTop[initialWeightMax + 1];
bool initialReady = false;

void layDownInitialTree() {
    hufPlanStart();
    hufWritePlan();
    std::memcpy(initialNodes, nodeTable, sizeof initialNodes);
    std::memcpy(initialOrder, orderTable, sizeof initialOrder);
    std::memcpy(initialOrderWeight, tracedOrderWeight, sizeof initialOrderWeight);
    std::memcpy(initialRunTop, tracedRunTop, sizeof initialRunTop);
    initialReady = true;
}

} // namespace

int hufInitTree() {
    if (!initialReady) layDownInitialTree();
    std::memcpy(nodeTable, initialNodes, sizeof nodeTable);
    // Entry 0 of orderTable is never written: it keeps naming the root.
    std::memcpy(orderTable + 1, initialOrder + 1, sizeof(std::int32_t) * hufNodeMax);
    std::memcpy(tracedOrderWeight, initialOrderWeight, sizeof tracedOrderWeight);
    std::memcpy(tracedRunTop, initialRunTop, sizeof initialRunTop);
    nodeCount = hufNodeMax;
    if constexpr (hufChecking) hufCheckTraced("reset");
    return nodeCount;
}

void hufWritePlan() {
    for (int i = 0; i < planCount; i++) {
        const HufPlanNode &n = planTable[i];
        HufNode &node = nodeTable[i];
        node = HufNode{n.weight, n.order, -1, n.child0, n.child1, hufInternal, 0, 0};
        if (n.symbol >= 0) tracedSetSymbol(node, n.symbol);
        orderTable[n.order] = i;
    }
    for (int i = 0; i < planCount; i++) {
        if (planTable[i].symbol >= 0) continue;
        nodeTable[planTable[i].child0].parent = i;
        nodeTable[planTable[i].child1].parent = i;
    }
    nodeCount = planCount;
    hufSyncSideTables();
}

void hufSyncSideTables() {
    for (int k = 1; k <= nodeCount; k++) {
        const std::int32_t w = nodeTable[orderTable[k]].weight;
        tracedOrderWeight[k] = w;
        tracedRunTop[w] = static_cast<std::int16_t>(k); // the last k of each weight stays
    }
    tracedOrderWeight[nodeCount + 1] = INT32_MAX;
}

int tracedSymbolOf(const HufNode &leaf) {
    return leaf.type == hufLiteral ? leaf.value : fmtLengthSymbol(leaf.value);
}

void tracedSetSymbol(HufNode &leaf, int symbol) {
    const bool literal = symbol < fmtLiteralCount;
    leaf.type = literal ? hufLiteral : hufLength;
    leaf.value =
        static_cast<std::uint8_t>(literal ? symbol : symbol - fmtLiteralCount + fmtMinMatch);
}

int hufLeafOf(int symbol) {
    HufNode want{};
    tracedSetSymbol(want, symbol);
    for (int i = 0; i < nodeCount; i++) {
        if (nodeTable[i].type == want.type && nodeTable[i].value == want.value) return i;
    }
    return -1;
}
