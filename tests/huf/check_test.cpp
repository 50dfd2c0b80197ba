// The trees' rules (huf/check.h): each check holds on trees the update and
// the rebuild make, and names the rule a single broken entry breaks.
#include <cctype>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <regex>
#include <string>
#include <utility>

#include "huf/check.h"
#include "huf/ordered.h"
#include "ordered_internal.h"
#include "tree_check.h"

namespace {

// A tree some way into an item, in both forms: a few heavy symbols and
// many light ones, so that there are runs of equal weights, exchanges
// behind them and weights no node has.
void adaptBoth() {
    hufInitTree();
    hufOrderedInit();
    for (int i = 0; i < 3000; i++) {
        const int symbol = i % 3 == 0 ? 'e' : i % 7 == 0 ? 256 : (i * 37) % hufSymbolCount;
        hufUpdate(hufLeafOf(symbol), 0);
        hufOrderedUpdate(hufOrderedLeaf(symbol));
    }
}

// The fault text, or "" when the check passed, and whether it matches a
// regular expression.
std::string text(const char *fault) {
    return fault == nullptr ? "" : fault;
}

bool names(const char *fault, const char *pattern) {
    return std::regex_search(text(fault), std::regex(pattern));
}

// Test names from the cases' own.
template <class Case> std::string caseName(const testing::TestParamInfo<Case> &p) {
    std::string name = p.param.name;
    for (char &c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

// The first internal node of nodeTable after node 0 (the root), and the
// first leaf.
int internalNode() {
    for (int i = 1;; i++) {
        if (nodeTable[i].type == hufInternal) return i;
    }
}

int leafNode() {
    for (int i = 1;; i++) {
        if (nodeTable[i].type != hufInternal) return i;
    }
}

struct TracedCase {
    const char *name;
    std::function<void()> breakIt;
    const char *fault; // a regular expression the fault must match
};

const TracedCase tracedCases[] = {
    {"a parent link", [] { nodeTable[leafNode()].parent = 0; },
     "parent does not hold it|child's parent differs"},
    {"a child link", [] { nodeTable[internalNode()].child1 = -1; },
     "missing child|parent does not hold it"},
    {"a weight off its children's sum",
     [] {
         const int n = internalNode();
         nodeTable[n].weight++;
         tracedOrderWeight[nodeTable[n].order]++;
     },
     "weight is not the children's sum"},
    // The leaf and every node above it heavier by as much: sums hold, the
    // leaf now outweighs the order numbers above its own.
    {"weights out of order",
     [] {
         for (int n = hufLeafOf(0x01); n != -1; n = nodeTable[n].parent) {
             nodeTable[n].weight += 1000;
             tracedOrderWeight[nodeTable[n].order] = nodeTable[n].weight;
         }
     },
     "weight decreases at order"},
    {"orderTable not the inverse", [] { std::swap(orderTable[1], orderTable[2]); },
     "order not in orderTable"},
    {"siblings' order numbers exchanged",
     [] {
         HufNode &p = nodeTable[internalNode()];
         HufNode &c0 = nodeTable[p.child0];
         HufNode &c1 = nodeTable[p.child1];
         std::swap(c0.order, c1.order);
         std::swap(orderTable[c0.order], orderTable[c1.order]);
         std::swap(tracedOrderWeight[c0.order], tracedOrderWeight[c1.order]);
     },
     "children's orders not adjacent"},
    {"a symbol twice", [] { nodeTable[hufLeafOf(0x02)].value = 0x03; }, "symbol twice"},
    {"a length out of range", [] { nodeTable[hufLeafOf(fmtLengthSymbol(60))].value = 61; },
     "length out of range"},
    {"tracedOrderWeight stale", [] { tracedOrderWeight[1]++; }, "tracedOrderWeight differs"},
    {"tracedRunTop stale", [] { tracedRunTop[nodeTable[hufLeafOf('e')].weight]--; },
     "tracedRunTop of weight"},
    {"no sentinel after the root", [] { tracedOrderWeight[hufNodeMax + 1] = 1; }, "no sentinel"},
};

void PrintTo(const TracedCase &c, std::ostream *os) {
    *os << c.name;
}

class HufTracedFault : public testing::TestWithParam<TracedCase> {};

TEST_P(HufTracedFault, NamesTheBrokenRule) {
    adaptBoth();
    ASSERT_STREQ(hufTracedFault(), nullptr);
    GetParam().breakIt();
    const char *fault = hufTracedFault();
    EXPECT_TRUE(names(fault, GetParam().fault)) << text(fault);
    hufInitTree();
}

INSTANTIATE_TEST_SUITE_P(OneBrokenEntry, HufTracedFault, testing::ValuesIn(tracedCases),
                         caseName<TracedCase>);

// Positions of the ordered tree: the first internal one, the first leaf (or
// the first after a position), the first whose weight is below the next
// one's, and the first whose weight is more than one above the one before.
int internalPos() {
    for (int k = 1;; k++) {
        if (hufOrderedTree.child[k] < hufLeafMark) return k;
    }
}

int leafPos(int after = 0) {
    for (int k = after + 1;; k++) {
        if (hufOrderedTree.child[k] >= hufLeafMark) return k;
    }
}

int stepPos() {
    for (int k = 1;; k++) {
        if (hufOrderedTree.weight[k] < hufOrderedTree.weight[k + 1]) return k;
    }
}

int gapPos() {
    for (int k = 2;; k++) {
        if (hufOrderedTree.weight[k - 1] + 1 < hufOrderedTree.weight[k]) return k;
    }
}

struct OrderedCase {
    const char *name;
    std::function<void()> breakIt;
    const char *fault;
    // Whether what a count can break includes it: entries of weights no
    // node has are checked whole only.
    bool countSeesIt;
};

const OrderedCase orderedCases[] = {
    {"a parent link", [] { hufOrderedTree.parent[leafPos()] = hufRootOrder; },
     "parent [0-9]+ does not hold it", true},
    {"a child link", [] { hufOrderedTree.child[internalPos()] += 2; }, "does not hold it", true},
    {"a leaf slot", [] { hufOrderedTree.parent[hufLeafMark + 2 * 'e'] = 1; },
     "symbol 101: leaf slot 1", true},
    {"an odd leaf mark", [] { hufOrderedTree.child[leafPos()] += 1; }, "leaf mark", true},
    {"a symbol twice",
     [] { hufOrderedTree.child[leafPos(leafPos())] = hufOrderedTree.child[leafPos()]; },
     "symbol [0-9]+ twice", true},
    {"a weight out of order",
     [] {
         const int k = stepPos();
         hufOrderedTree.weight[k] = static_cast<std::uint16_t>(hufOrderedTree.weight[k + 1] + 1);
     },
     "above the next one's", true},
    {"the root's weight off its children's sum", [] { hufOrderedTree.rootWeight++; },
     "position 627: weight", true},
    {"the root's sentinel", [] { hufOrderedTree.weight[hufRootOrder] = hufWeightFull; },
     "not the sentinel", true},
    {"the root's parent", [] { hufOrderedTree.parent[hufRootOrder] = 1; }, "root's parent", true},
    {"the partner of a weight some node has",
     [] { hufOrderedTree.partner[hufOrderedTree.weight[leafPos()]]--; }, "partner of weight", true},
    // A count that moves the last node of weight w to w + 1 must lower
    // partner[w], though no node is left with weight w.
    {"the partner of the weight below one some node has",
     [] { hufOrderedTree.partner[hufOrderedTree.weight[gapPos()] - 1]++; }, "partner of weight",
     true},
    {"the partner of a weight far from every node's",
     [] { hufOrderedTree.partner[hufWeightFull - 1]--; }, "partner of weight 32767", false},
    {"a lookup entry", [] { hufOrderedTree.lookupEntry[7] ^= 16; }, "prefix 7: entry", true},
    {"a rise", [] { hufOrderedTree.lookupRise[1] = 1; }, "position 1: rise 1, not 0", true},
};

void PrintTo(const OrderedCase &c, std::ostream *os) {
    *os << c.name;
}

class HufOrderedFault : public testing::TestWithParam<OrderedCase> {};

TEST_P(HufOrderedFault, NamesTheBrokenRule) {
    adaptBoth();
    ASSERT_STREQ(hufOrderedFault(), nullptr);
    ASSERT_STREQ(hufOrderedUpdateFault(), nullptr);
    // Put back whole afterwards: the reset copies only the partner entries
    // an item can have changed.
    static HufOrdered sound;
    sound = hufOrderedTree;
    GetParam().breakIt();
    const char *whole = hufOrderedFault();
    EXPECT_TRUE(names(whole, GetParam().fault)) << text(whole);
    if (GetParam().countSeesIt) {
        const char *count = hufOrderedUpdateFault();
        EXPECT_TRUE(names(count, GetParam().fault)) << text(count);
    }
    hufOrderedTree = sound;
    hufOrderedInit();
}

INSTANTIATE_TEST_SUITE_P(OneBrokenEntry, HufOrderedFault, testing::ValuesIn(orderedCases),
                         caseName<OrderedCase>);

// The checks build stops at the count that finds the tree broken, and says
// which rule on standard error.
TEST(HufChecksBuild, StopsAtTheCountAfterABrokenEntry) {
    if constexpr (!hufChecking) GTEST_SKIP() << "not a checks build";
    adaptBoth();
    const int w = hufOrderedTree.weight[hufOrderedLeaf('e')];
    hufOrderedTree.partner[w]--;
    EXPECT_DEATH(hufOrderedUpdate(hufOrderedLeaf(0x20)),
                 "the ordered tree broke a rule at a count: partner of weight");
    hufOrderedTree.partner[w]++;
    hufOrderedInit();
}

} // namespace
