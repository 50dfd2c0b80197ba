#pragma once
// The adaptive code tree as the traces show it: nodeTable and orderTable,
// reset, updated and rebuilt node by node, with the exchange trace and the
// tree dump. Plain decoding and the encoder use the same tree in the form
// of huf/ordered.h.
#include <cstdint>

#include "huf/code.h"

struct HufNode {
    // weight and order first: the update compares both at every level climbed.
    std::int32_t weight; // leaf: symbol count; internal: sum of the children
    std::int32_t order;  // 1 to 627, unique; weights never decrease along it
    std::int32_t parent; // -1 for the root
    std::int32_t child0; // child reached with bit 0; -1 in a leaf
    std::int32_t child1; // child reached with bit 1; -1 in a leaf
    std::uint8_t type;   // hufInternal, hufLiteral or hufLength
    std::uint8_t value;  // the byte value or the match length; 0 when internal
    std::uint8_t moved;  // took part in an exchange since the last reset or rebuild
};

extern HufNode nodeTable[hufNodeMax];
// Order number -> node index; entry 0 is never written and names the root.
extern std::int32_t orderTable[hufNodeMax + 1];
extern std::int32_t nodeCount;

// Resets nodeTable to the fixed starting shape; the node count (627).
int hufInitTree();

// Counts one occurrence of the symbol at the leaf, exchanging nodes so that
// frequent symbols move towards the root; rebuilds the tree from halved
// weights first when the root weight has reached 0x8000. verbose >= 1 prints
// the rebuild notice, verbose >= 2 every exchange.
void hufUpdate(int leaf, int verbose);

// Node index of a symbol's leaf (0-255 the byte values, 256 + n the match
// length n + 3): the lowest node index holding it. Leaves keep their index
// across exchanges; only a rebuild moves them.
int hufLeafOf(int symbol);

// The line of one node (code path, weight, order, kind, exchange mark), and
// all nodes in order-number order, root last.
void hufDumpNode(int node);
void hufDumpTree();
