#pragma once
// Shared by the sources of nodeTable's tree and their tests only.
#include "huf/traced.h"

// Weight of the node holding each order number, kept beside orderTable.
// Exchanges never change it (the two nodes have equal weights); only a weight
// increment or a rebuild does. The entry after the last order number is a
// sentinel heavier than any node.
extern std::int32_t tracedOrderWeight[hufNodeMax + 2];

// tracedRunTop[w]: the highest order number whose node weighs w. Weights never
// decrease along order numbers, so the nodes of one weight are one run of
// order numbers and tracedRunTop[w] names the exchange partner of every node of
// weight w. Only entries of weights that some node has are kept right; the
// others are stale and never read. Weights run up to hufWeightFull, and the
// update looks one weight above the node it counts.
extern std::int16_t tracedRunTop[hufWeightFull + 2];

// Recomputes tracedOrderWeight and tracedRunTop from nodeTable and orderTable.
void hufSyncSideTables();

// A leaf's symbol (0-255 bytes, 256 + n length n + 3), and the kind and
// value that make a node the leaf of a symbol.
int tracedSymbolOf(const HufNode &leaf);
void tracedSetSymbol(HufNode &leaf, int symbol);

// Lays planTable down as nodeTable, orderTable and the side tables.
void hufWritePlan();

// The rebuild from halved weights.
void hufRebuildTree();

// Sets the exchange mark of every node of a subtree.
void hufMarkSubtree(int node);
