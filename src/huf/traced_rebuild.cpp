// The rebuild of nodeTable from halved weights, laid down from the plan
// both forms of the tree share.
#include "plan_internal.h"
#include "traced_internal.h"

void hufRebuildTree() {
    // Leaves in the order of their old order numbers, halved (a weight of 1
    // stays 1); entry 0 names the root, which is internal and skipped like
    // every internal node.
    int leaves = 0;
    for (int k = 0; k < nodeCount; k++) {
        const HufNode &old = nodeTable[orderTable[k]];
        if (old.type == hufInternal) continue;
        planTable[++leaves] = HufPlanNode{(old.weight + 1) / 2, -1, -1,
                                          static_cast<std::int16_t>(tracedSymbolOf(old)), 0};
    }
    hufPlanRebuild(leaves);
    hufWritePlan();
}
