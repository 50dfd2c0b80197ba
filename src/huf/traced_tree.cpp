#include <cstdint>
#include <cstring>

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
    HufNode *n = initialNodes;
    n[0] = HufNode{0, 0, -1, -1, -1, hufInternal, 0, 0};
    int next = 1;
    for (const CodeRange &row : codeRangeTable) {
        int value = row.firstValue;
        for (int code = row.firstCode; code <= row.lastCode; code++, value++) {
            int node = 0;
            for (int bit = row.codeBits - 1, depth = 1; bit >= 0; bit--, depth++) {
                std::int32_t &slot = (code >> bit & 1) ? n[node].child1 : n[node].child0;
                if (slot == -1) {
                    // A negative order holds the depth until the numbering pass.
                    n[next] = HufNode{0, -depth, node, -1, -1, hufInternal, 0, 0};
                    slot = next++;
                }
                n[node].weight++;
                node = slot;
            }
            n[node].weight = 1;
            n[node].type = row.symbolType;
            n[node].value = static_cast<std::uint8_t>(value);
        }
    }
    // Deepest level first, left to right within a level (indices rise from
    // the 0 side to the 1 side because codes were laid down in order); the
    // root, at depth 0, is numbered last.
    int k = 1;
    for (int depth = hufStartDepth; depth >= 0; depth--) {
        for (int i = 0; i < next; i++) {
            if (n[i].order == -depth) {
                n[i].order = k;
                initialOrder[k] = i;
                k++;
            }
        }
    }
    // The side tables follow from the nodes and the numbering.
    std::memcpy(nodeTable, initialNodes, sizeof nodeTable);
    std::memcpy(orderTable + 1, initialOrder + 1, sizeof(std::int32_t) * hufNodeMax);
    nodeCount = next;
    hufSyncSideTables();
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
    return nodeCount;
}

void hufSyncSideTables() {
    for (int k = 1; k <= nodeCount; k++) {
        const std::int32_t w = nodeTable[orderTable[k]].weight;
        tracedOrderWeight[k] = w;
        tracedRunTop[w] = static_cast<std::int16_t>(k); // the last k of each weight stays
    }
    tracedOrderWeight[nodeCount + 1] = INT32_MAX;
}

int hufLeafOf(int symbol) {
    const bool literal = symbol < fmtLiteralCount;
    const std::uint8_t type = literal ? hufLiteral : hufLength;
    const int value = literal ? symbol : symbol - fmtLiteralCount + fmtMinMatch;
    for (int i = 0; i < nodeCount; i++) {
        if (nodeTable[i].type == type && nodeTable[i].value == value) return i;
    }
    return -1;
}
