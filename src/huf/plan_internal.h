#pragma once
// One whole tree as the reset and the rebuild lay it down, shared by both
// forms of the tree: each form writes the plan out in its own
// representation (nodeTable and orderTable; the tree by order number), so
// that the starting tree and the rebuilt one are defined once.
#include <cstdint>

#include "huf/code.h"

// Node i of the plan is node i of nodeTable (0 the root).
struct HufPlanNode {
    std::int32_t weight;
    std::int16_t child0; // -1 in a leaf
    std::int16_t child1; // -1 in a leaf
    std::int16_t symbol; // 0-255 bytes, 256 + n length n + 3; -1 when internal
    std::int16_t order;  // 1 to the node count; the root's is the highest
};

extern HufPlanNode planTable[hufNodeMax];
extern int planCount;

// The starting tree, laid down path by path from the code ranges: nodes are
// made in the order the codes first reach them, and order numbers run
// deepest level first, left to right within a level.
void hufPlanStart();

// The tree a rebuild makes from the leaves in planTable[1] to
// planTable[leaves] (their weights halved, in the order of their old order
// numbers): the two lightest free nodes are paired again and again, ties to
// the lower index, the made nodes taking the indices after the leaves and the
// last made, the root, index 0; order numbers run deepest level first,
// lightest first within a level, ties to the lower index.
void hufPlanRebuild(int leaves);
