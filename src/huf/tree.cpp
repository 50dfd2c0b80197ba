#include <cstdint>
#include <cstring>

#include "huf/tree_internal.h"

HufNode nodeTable[hufNodeMax];
std::int32_t orderTable[hufNodeMax + 1];
std::int32_t nodeCount;
std::int32_t orderWeight[hufNodeMax + 2];
std::int16_t runTop[hufWeightFull + 2];
std::int16_t leafOfSymbol[hufSymbolCount];

namespace {

struct CodeRange {
    std::int32_t firstCode;
    std::int32_t lastCode;
    std::int32_t codeBits;
    std::uint8_t symbolType;
    std::uint8_t firstValue;
};

// The starting code: 198 eight-bit codes, then 116 nine-bit codes beginning
// exactly where the eight-bit ones end (0xC6 * 2 = 0x18C), so the code space
// is full.
constexpr CodeRange codeRangeTable[3] = {
    {0x000, 0x08B, 8, hufLiteral, 0x74}, // bytes 0x74-0xFF
    {0x08C, 0x0C5, 8, hufLength, 3},     // lengths 3-60
    {0x18C, 0x1FF, 9, hufLiteral, 0x00}, // bytes 0x00-0x73
};

// The deepest level the starting code reaches.
constexpr int initialDepth = 9;

// The starting tree is laid down once; every later reset copies it.
HufNode initialNodes[hufNodeMax];
std::int32_t initialOrder[hufNodeMax + 1];
std::int32_t initialOrderWeight[hufNodeMax + 2];
std::int16_t initialLeafOf[hufSymbolCount];
// No node of the starting tree weighs more than the 314 leaves together.
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
    for (int depth = initialDepth; depth >= 0; depth--) {
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
    std::memcpy(initialOrderWeight, orderWeight, sizeof initialOrderWeight);
    std::memcpy(initialLeafOf, leafOfSymbol, sizeof initialLeafOf);
    std::memcpy(initialRunTop, runTop, sizeof initialRunTop);
    initialReady = true;
}

// Copies the 15 KB of the starting tree in 64-byte blocks, which compile to
// a short vector loop: cheaper per item than a general copy of that size.
void copyBlocks(void *to, const void *from, std::size_t size) {
    auto *dst = static_cast<unsigned char *>(to);
    const auto *src = static_cast<const unsigned char *>(from);
    std::size_t i = 0;
    for (; i + 64 <= size; i += 64) std::memcpy(dst + i, src + i, 64);
    std::memcpy(dst + i, src + i, size - i);
}

} // namespace

int hufInitTree() {
    if (!initialReady) layDownInitialTree();
    copyBlocks(nodeTable, initialNodes, sizeof nodeTable);
    // Entry 0 of orderTable is never written: it keeps naming the root.
    std::memcpy(orderTable + 1, initialOrder + 1, sizeof(std::int32_t) * hufNodeMax);
    std::memcpy(orderWeight, initialOrderWeight, sizeof orderWeight);
    std::memcpy(leafOfSymbol, initialLeafOf, sizeof leafOfSymbol);
    // Entries of heavier weights may be stale from the last item: no node
    // has those weights now, so they are not read before being set again.
    std::memcpy(runTop, initialRunTop, sizeof initialRunTop);
    nodeCount = hufNodeMax;
    hufTreeHolder = TreeHolder::initial;
    return nodeCount;
}

int hufInitTreeLazy() {
    hufTreeHolder = TreeHolder::initialPending;
    nodeCount = hufNodeMax;
    return nodeCount;
}

void hufSyncSideTables() {
    for (int k = 1; k <= nodeCount; k++) {
        const std::int32_t w = nodeTable[orderTable[k]].weight;
        orderWeight[k] = w;
        // The last k of each weight stays. Only trees set by hand (tests of
        // the rebuild) weigh more than the full mark; they are never updated.
        if (w <= hufWeightFull + 1) runTop[w] = static_cast<std::int16_t>(k);
    }
    orderWeight[nodeCount + 1] = INT32_MAX;
    hufTreeHolder = TreeHolder::nodes;
    for (int i = 0; i < nodeCount; i++) {
        if (nodeTable[i].type == hufInternal) continue;
        // A leaf set by hand may name no symbol of the alphabet.
        const int symbol = hufSymbolOf(nodeTable[i]);
        if (symbol >= 0 && symbol < hufSymbolCount) {
            leafOfSymbol[symbol] = static_cast<std::int16_t>(i);
        }
    }
}

int hufLeafOf(int symbol) {
    hufSettleTree();
    return leafOfSymbol[symbol];
}
