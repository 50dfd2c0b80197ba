#pragma once
// Shared by the code-tree sources and their tests only.
#include "huf/huf.h"

// Weight of the node holding each order number, kept beside orderTable.
// Exchanges never change it (the two nodes have equal weights); only a weight
// increment or a rebuild does. The entry after the last order number is a
// sentinel heavier than any node.
extern std::int32_t orderWeight[hufNodeMax + 2];

// Which form holds the current tree: nodeTable as hufInitTree left it (the
// ordered form then starts from its prepared copy); the starting tree not yet
// laid down in nodeTable (hufInitTreeLazy); nodeTable changed since; or the
// ordered form of the plain decoder (nodeTable is then behind).
enum class TreeHolder : std::uint8_t { initial, initialPending, nodes, ordered };
extern TreeHolder hufTreeHolder;

// Largest weight a node can reach: the root's, at which the tree is rebuilt.
inline constexpr int hufWeightFull = 0x8000;

// runTop[w]: the highest order number whose node weighs w. Weights never
// decrease along order numbers, so the nodes of one weight are one run of
// order numbers and runTop[w] names the exchange partner of every node of
// weight w. Only entries of weights that some node has are kept right; the
// others are stale and never read.
extern std::int16_t runTop[hufWeightFull + 2];

// Recomputes orderWeight, runTop and leafOfSymbol from nodeTable and
// orderTable (after a rebuild, or after a test sets the tree by hand), and
// makes nodeTable the tree of record.
void hufSyncSideTables();

// Symbol number (0-255 bytes, 256 + n length n + 3) -> leaf node index.
extern std::int16_t leafOfSymbol[hufSymbolCount];

inline int hufSymbolOf(const HufNode &leaf) {
    return leaf.type == hufLiteral ? leaf.value : 256 + leaf.value - 3;
}

// The update; markMoved = false skips the exchange marks, which only the
// traces read.
template <bool MarkMoved> void hufUpdateWith(int leaf, int verbose);

// The rebuild from halved weights, and its passes.
void hufRebuildTree();
std::int32_t hufHalveWeights(int node);
int hufSetLevels(int node, int depth);
void hufMarkSubtree(int node);
