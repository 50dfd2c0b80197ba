// The rebuild from halved weights: a small tree worked out by hand, and the
// production rebuild against the literal one on crafted trees.
#include <functional>
#include <gtest/gtest.h>
#include <string>

#include "model.h"
#include "tree_check.h"

namespace {

// A four-leaf tree, node count 7:
//
//   root(12) -> D(6), x(6);  x -> C(3), y(3);  y -> A(1), B(2)
//
// orders A 1, B 2, C 3, y 4, D 5, x 6, root 7. Halved, the leaves weigh
// A 1, B 1, C 2, D 3.
void layFourLeafTree() {
    hufInitTree();
    //                      weight order parent c0 c1 type value moved
    nodeTable[0] = HufNode{12, 7, -1, 1, 2, hufInternal, 0, 1};
    nodeTable[1] = HufNode{6, 5, 0, -1, -1, hufLiteral, 'D', 0};
    nodeTable[2] = HufNode{6, 6, 0, 3, 4, hufInternal, 0, 1};
    nodeTable[3] = HufNode{3, 3, 2, -1, -1, hufLiteral, 'C', 1};
    nodeTable[4] = HufNode{3, 4, 2, 5, 6, hufInternal, 0, 0};
    nodeTable[5] = HufNode{1, 1, 4, -1, -1, hufLiteral, 'A', 0};
    nodeTable[6] = HufNode{2, 2, 4, -1, -1, hufLiteral, 'B', 1};
    const int byOrder[] = {0, 5, 6, 3, 4, 1, 2, 0};
    for (int k = 0; k <= 7; k++) orderTable[k] = byOrder[k];
    nodeCount = 7;
}

// Pairing: A+B -> 5 (weight 2); then C (weight 2, index 3) ties with node 5
// and wins by its lower index -> 6 = C+5 (4); then D+6 -> the root (7).
// Levels: D, 6 at depth 1; C, 5 at 2; A, B at 3.
TEST(HufRebuildTree, FourLeafTreeWorkedByHand) {
    layFourLeafTree();
    hufRebuildTree();
    struct Expected {
        std::int32_t weight, order, parent, child0, child1;
        std::uint8_t type, value;
    };
    const Expected expected[] = {
        {7, 7, -1, 4, 6, hufInternal, 0},   {1, 1, 5, -1, -1, hufLiteral, 'A'},
        {1, 2, 5, -1, -1, hufLiteral, 'B'}, {2, 3, 6, -1, -1, hufLiteral, 'C'},
        {3, 5, 0, -1, -1, hufLiteral, 'D'}, {2, 4, 6, 1, 2, hufInternal, 0},
        {4, 6, 0, 3, 5, hufInternal, 0},
    };
    for (int i = 0; i < 7; i++) {
        const HufNode &n = nodeTable[i];
        const Expected &e = expected[i];
        SCOPED_TRACE("node " + std::to_string(i) + " " + hufcheck::nodeText(n));
        EXPECT_EQ(n.weight, e.weight);
        EXPECT_EQ(n.order, e.order);
        EXPECT_EQ(n.parent, e.parent);
        EXPECT_EQ(n.child0, e.child0);
        EXPECT_EQ(n.child1, e.child1);
        EXPECT_EQ(n.type, e.type);
        EXPECT_EQ(n.value, e.value);
        EXPECT_EQ(n.moved, 0);
        EXPECT_EQ(orderTable[n.order], i);
        EXPECT_EQ(tracedOrderWeight[n.order], n.weight);
    }
    EXPECT_EQ(orderTable[0], 0);
    EXPECT_EQ(hufLeafOf('A'), 1);
    EXPECT_EQ(hufLeafOf('D'), 4);
    hufInitTree();
}

// Runs the literal and the production rebuild on the current tree and
// returns their first difference ("" when identical); leaves the production
// result in place.
std::string compareRebuilds() {
    static MdlTree literal, fast;
    mdlCopyNodeTable(literal);
    mdlRebuild(literal);
    hufRebuildTree();
    mdlCopyNodeTable(fast);
    return mdlTreeDiff(literal, fast);
}

std::int32_t sumWeights(int node) {
    HufNode &n = nodeTable[node];
    if (n.type != hufInternal) return n.weight;
    n.weight = sumWeights(n.child0) + sumWeights(n.child1);
    return n.weight;
}

TEST(HufRebuildTree, FourLeafTreeMatchesTheLiteralRebuild) {
    layFourLeafTree();
    EXPECT_EQ(compareRebuilds(), "");
    hufInitTree();
}

// Leaf weights laid on the starting shape (order number k of the leaf, k =
// 1 to 314, gives its weight); the internal weights are summed again. Many
// of these break the order of weights along order numbers on purpose: the
// rebuild must still choose exactly as the literal scans do.
struct WeightCase {
    const char *name;
    std::function<std::int32_t(int)> weightOf;
};

class HufRebuildAgainstLiteral : public testing::TestWithParam<WeightCase> {};

TEST_P(HufRebuildAgainstLiteral, IdenticalTree) {
    SCOPED_TRACE(GetParam().name);
    hufInitTree();
    int k = 0;
    std::int32_t halvedSum = 0;
    for (int order = 1; order <= nodeCount; order++) {
        HufNode &n = nodeTable[orderTable[order]];
        if (n.type != hufInternal) {
            n.weight = GetParam().weightOf(++k);
            halvedSum += (n.weight + 1) / 2;
        }
    }
    sumWeights(0);
    // As in real use, every weight after halving stays below 0x8000.
    ASSERT_LT(halvedSum, 0x8000);
    EXPECT_EQ(compareRebuilds(), "");
    EXPECT_STREQ(hufTracedFault(), nullptr);
    hufInitTree();
}

const WeightCase weightCases[] = {
    {"all 1 (the starting weights)", [](int) { return 1; }},
    {"all 2", [](int) { return 2; }},
    {"3 and 4 alternating: all halve to 2", [](int k) { return 3 + k % 2; }},
    {"five values repeating", [](int k) { return 1 + (k * 7) % 5; }},
    {"rising", [](int k) { return k; }},
    {"falling", [](int k) { return 315 - k; }},
    {"one heavy leaf", [](int k) { return k == 200 ? 20000 : 1; }},
    {"powers of two", [](int k) { return 1 << (k % 7); }},
    {"two levels of ties", [](int k) { return k < 157 ? 2 : 4; }},
    {"halves tie with sums of two", [](int k) { return k % 3 == 0 ? 4 : 1; }},
    {"long runs", [](int k) { return 1 + (k / 40) * 9; }},
};

INSTANTIATE_TEST_SUITE_P(CraftedWeights, HufRebuildAgainstLiteral, testing::ValuesIn(weightCases));

// After a rebuild of an adapted tree every mark is cleared and the tree is
// consistent again.
TEST(HufRebuildTree, ClearsMarksAndLeavesAConsistentTree) {
    hufInitTree();
    for (int i = 0; i < 3000; i++) hufUpdate(hufLeafOf((i * i + 3 * i) % hufSymbolCount), 0);
    bool anyMoved = false;
    for (int i = 0; i < nodeCount; i++) anyMoved |= nodeTable[i].moved != 0;
    ASSERT_TRUE(anyMoved);
    hufRebuildTree();
    for (int i = 0; i < nodeCount; i++) EXPECT_EQ(nodeTable[i].moved, 0) << "node " << i;
    EXPECT_STREQ(hufTracedFault(), nullptr);
}

} // namespace
