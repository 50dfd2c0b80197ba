#pragma once
// Shared by the code-tree sources and their tests only.
#include "huf/huf.h"

// Weight of the node holding each order number, kept beside orderTable so
// that the partner search reads one array. Exchanges never change it (the two
// nodes have equal weights); only a weight increment or a rebuild does.
extern std::int32_t orderWeight[hufNodeMax + 1];

// Symbol number (0-255 bytes, 256 + n length n + 3) -> leaf node index.
extern std::int16_t leafOfSymbol[hufSymbolCount];

inline int hufSymbolOf(const HufNode &leaf) {
    return leaf.type == hufLiteral ? leaf.value : 256 + leaf.value - 3;
}

// The partner of node b for the exchange rule: the node of b's weight with
// the highest order number (b itself when none ranks above it). The fast
// search walks the run of equal weights through orderTable; the full scan
// of every node is the literal rule, kept to check the fast one against.
int hufPartnerFast(int b);
int hufPartnerFullScan(int b);

// The update with a chosen partner search; markMoved = false skips the
// exchange marks, which only the traces read.
template <bool FullScan, bool MarkMoved> void hufUpdateWith(int leaf, int verbose);

// The rebuild from halved weights, and its passes.
void hufRebuildTree();
std::int32_t hufHalveWeights(int node);
int hufSetLevels(int node, int depth);
void hufMarkSubtree(int node);
