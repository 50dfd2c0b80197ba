// The ordered tree laid out from a plan: the starting tree, copied by the
// reset before every item, and the rebuild from halved weights.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ordered_internal.h"
#include "plan_internal.h"

HufOrdered hufOrderedTree;

namespace {

HufOrdered startTree;
bool startReady = false;
long rebuilds = 0;

// The reset copies every member before partner whole, and of partner only
// the entries the last item may have changed: partner must stay the last
// member, with everything else before it.
static_assert(offsetof(HufOrdered, weight) < offsetof(HufOrdered, partner));
static_assert(offsetof(HufOrdered, rootWeight) < offsetof(HufOrdered, partner));
static_assert(offsetof(HufOrdered, child) < offsetof(HufOrdered, partner));
static_assert(offsetof(HufOrdered, parent) < offsetof(HufOrdered, partner));
static_assert(offsetof(HufOrdered, lookupEntry) < offsetof(HufOrdered, partner));
static_assert(offsetof(HufOrdered, lookupRise) < offsetof(HufOrdered, partner));
static_assert(sizeof(HufOrdered) == offsetof(HufOrdered, partner) + sizeof(HufOrdered::partner),
              "partner is the last member, with no other member after it");

// Writes planTable out as the live tree: each node at the position of its
// order number, a leaf as its leaf mark, an internal node as the position of
// its child 0 (child 1's is the next, as the plans lay them); then the root's
// weight set apart (a sentinel takes its place), the partner entries filled
// from the sorted weights and the lookup table laid down.
void writePlan() {
    HufOrdered &t = hufOrderedTree;
    for (int i = 0; i < planCount; i++) {
        const HufPlanNode &n = planTable[i];
        t.weight[n.order] = static_cast<std::uint16_t>(n.weight);
        if (n.symbol >= 0) {
            const int mark = hufLeafMark + 2 * n.symbol;
            t.child[n.order] = static_cast<std::uint16_t>(mark);
            t.parent[mark] = static_cast<std::uint16_t>(n.order);
        } else {
            const auto c = static_cast<std::uint16_t>(planTable[n.child0].order);
            t.child[n.order] = c;
            t.parent[c] = static_cast<std::uint16_t>(n.order);
            t.parent[c + 1] = static_cast<std::uint16_t>(n.order);
        }
    }
    t.rootWeight = t.weight[hufRootOrder];
    t.weight[hufRootOrder] = UINT16_MAX;
    t.weight[0] = 0;
    t.child[0] = 0;
    t.parent[0] = 0;
    t.parent[hufRootOrder] = 0;
    // Each position below the root names the weights from its own up to the
    // next position's; from the heaviest weight below the root on, every
    // entry names the last position below the root.
    const int heaviest = t.weight[hufRootOrder - 1];
    for (int k = 0; k < hufRootOrder - 1; k++) {
        std::fill(t.partner + t.weight[k], t.partner + t.weight[k + 1],
                  static_cast<std::uint16_t>(k));
    }
    std::fill(t.partner + heaviest, t.partner + hufWeightFull,
              static_cast<std::uint16_t>(hufRootOrder - 1));
    hufLookupBuild();
}

} // namespace

void hufOrderedInit() {
    if (!startReady) {
        hufPlanStart();
        writePlan();
        startTree = hufOrderedTree;
        startReady = true;
    }
    // The last item changed the partner entries only below its root weight:
    // counting touches the weights of nodes below the root, and a rebuild
    // leaves the entries from its root weight on as the starting tree has
    // them (the last position below the root).
    const int changed = std::min(hufOrderedTree.rootWeight, hufWeightFull);
    std::memcpy(&hufOrderedTree, &startTree, offsetof(HufOrdered, partner));
    std::memcpy(hufOrderedTree.partner, startTree.partner,
                sizeof(std::uint16_t) * static_cast<std::size_t>(changed));
    if constexpr (hufChecking) hufCheckOrdered("reset");
}

int hufOrderedRebuild(int symbol) {
    // The leaves in the order of their positions, halved; a weight of 1
    // stays 1.
    int leaves = 0;
    for (int k = 1; k < hufRootOrder; k++) {
        const int child = hufOrderedTree.child[k];
        if (child < hufLeafMark) continue;
        planTable[++leaves] = HufPlanNode{(hufOrderedTree.weight[k] + 1) / 2, -1, -1,
                                          static_cast<std::int16_t>((child - hufLeafMark) >> 1), 0};
    }
    hufPlanRebuild(leaves);
    writePlan();
    rebuilds++;
    if constexpr (hufChecking) hufCheckOrdered("rebuild");
    return static_cast<int>(hufOrderedLeaf(symbol));
}

long hufOrderedRebuildCount() {
    return rebuilds;
}
