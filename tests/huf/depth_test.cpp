// The deepest code the adaptive tree reaches, against hufDepthMax: the
// bound that no tree the update or the rebuild makes has a leaf 21 levels
// down (huf/code.h), and a symbol sequence built to drive one leaf deep,
// counted in both forms of the product and in the literal model, with the
// trusting walk on the deepest code it makes.
#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "huf/check.h"
#include "huf/ordered.h"
#include "model.h"
#include "tree_check.h"

namespace {

// The least root weight of a tree of the given number of leaves (each
// weighing 1 or more) with a leaf at the given depth, as far as these bounds
// tell, or -1 when none is at most cap. The trees the update and the rebuild
// make have the sibling property, so they are Huffman trees of their leaf
// weights, and no node weighs more than a shallower one (exchanging the two
// would shorten the weighted code). Levels count from the deepest (level 0,
// all leaves) up to the root; for each, lower bounds on its total S, its
// heaviest node M and its lightest m:
// - every node of a level weighs at least M of the level below, and when the
//   level has no leaves, at least twice m below (each is a sum of two);
// - M is at least M below plus m below (the parent of the heaviest below),
//   and at least the level's average;
// - S is S below plus the level's leaves, each at least M below.
// All three grow along the levels with each other, so for each count of
// nodes and of leaves placed only triples that no other beats in all three
// are kept.
struct Bound {
    long S, M, m;
};

long leastRoot(int depth, int leaves, long cap) {
    const auto beats = [](const Bound &a, const Bound &b) {
        return a.S <= b.S && a.M <= b.M && a.m <= b.m;
    };
    using Level = std::vector<std::vector<std::vector<Bound>>>; // [nodes][leaves placed]
    const auto size = static_cast<std::size_t>(leaves + 1);
    const auto empty = [&] { return Level(size, std::vector<std::vector<Bound>>(size)); };
    const auto cell = [](Level &l, int n, int placed) -> std::vector<Bound> & {
        return l[static_cast<std::size_t>(n)][static_cast<std::size_t>(placed)];
    };
    Level cur = empty();
    for (int n = 2; n <= leaves; n += 2) cell(cur, n, n).push_back({n, 1, 1});
    for (int level = 1; level <= depth; level++) {
        Level next = empty();
        for (int n = 2; n <= leaves; n += 2) {
            for (int placed = n; placed <= leaves; placed++) {
                for (const Bound &b : cell(cur, n, placed)) {
                    for (int t = 0; placed + t <= leaves; t++) {
                        const int nodes = n / 2 + t;
                        if (level == depth ? nodes != 1 : nodes % 2 != 0) continue;
                        Bound x;
                        x.S = b.S + t * b.M;
                        x.m = t > 0 ? b.M : std::max(b.M, 2 * b.m);
                        x.M = std::max({b.M + b.m, (x.S + nodes - 1) / nodes, x.m});
                        // The leaves still to place weigh x.M or more each.
                        if (x.S + (leaves - placed - t) * x.M > cap) continue;
                        std::vector<Bound> &kept = cell(next, nodes, placed + t);
                        if (std::any_of(kept.begin(), kept.end(),
                                        [&](const Bound &k) { return beats(k, x); }))
                            continue;
                        std::erase_if(kept, [&](const Bound &k) { return beats(x, k); });
                        kept.push_back(x);
                    }
                }
            }
        }
        cur.swap(next);
    }
    long least = -1;
    for (const Bound &b : cell(cur, 1, leaves)) {
        if (least < 0 || b.S < least) least = b.S;
    }
    return least;
}

struct BoundCase {
    int depth, leaves;
    long least; // -1: none up to 0x8000
};

// A chain of depth + 1 leaves needs the Fibonacci weights, F(depth + 2);
// 16 leaves 4 levels deep are a full tree of weight 16; 314 leaves allow no
// leaf 21 levels down under 0x8000, while the Fibonacci argument alone
// would allow one (F(23) = 28,657).
TEST(HufDepth, NoTreeOf314LeavesUnder0x8000Has21Levels) {
    const BoundCase cases[] = {
        {9, 10, 89}, {21, 22, 28657}, {4, 16, 16}, {20, 314, 22070}, {21, 314, -1}};
    for (const BoundCase &c : cases) {
        EXPECT_EQ(leastRoot(c.depth, c.leaves, hufWeightFull), c.least)
            << c.leaves << " leaves, depth " << c.depth;
    }
}

// Leaf weights of a tree 18 levels deep (root 23,847): a Fibonacci chain
// 1, 1, 1, 2, ..., 34 (symbols 0 to 9) under 97 leaves of 55 and 207 of 89
// (symbols 10 to 313). Counted from the starting tree (every weight 1), each
// symbol in one burst, heaviest first, no rebuild on the way, the update
// builds a tree whose deepest leaf is 17 levels down: the heavy leaves settle
// near the root first, and each lighter one then climbs only as far as the
// chain under them lets it.
int targetWeight(int symbol) {
    static const int chain[] = {1, 1, 1, 2, 3, 5, 8, 13, 21, 34};
    if (symbol < 10) return chain[symbol];
    return symbol < 107 ? 55 : 89;
}

std::vector<int> deepSequence() {
    std::vector<int> symbols;
    for (int s = hufSymbolCount - 1; s >= 0; s--) {
        for (int i = 1; i < targetWeight(s); i++) symbols.push_back(s);
    }
    return symbols;
}

TEST(HufDepth, TheDeepestLeafOfABuiltSequenceFitsTheTrustingWalk) {
    const std::vector<int> symbols = deepSequence();
    static MdlTree model;
    mdlInitTree(model);
    hufInitTree();
    hufOrderedInit();
    for (int s : symbols) {
        mdlUpdate(model, mdlLeafOf(model, s));
        hufUpdate(hufLeafOf(s), 0);
        hufOrderedUpdate(hufOrderedLeaf(s));
    }
    ASSERT_LT(model.nodes[0].weight, hufWeightFull) << "the sequence is meant to pass no rebuild";
    ASSERT_STREQ(hufTracedFault(), nullptr);
    ASSERT_STREQ(hufOrderedFault(), nullptr);

    // The deepest leaf by the model's own paths, and its code in the product.
    int deepSymbol = -1;
    std::size_t deepest = 0;
    for (int s = 0; s < hufSymbolCount; s++) {
        const std::size_t depth = mdlPathOf(model, mdlLeafOf(model, s)).size();
        if (depth > deepest) {
            deepest = depth;
            deepSymbol = s;
        }
    }
    EXPECT_GE(deepest, 17u) << "the sequence is meant to build a tree this deep";
    // No tree the update or the rebuild makes is deeper than 20 (huf/code.h).
    EXPECT_LE(deepest, 20u);
    EXPECT_LE(deepest, static_cast<std::size_t>(hufDepthMax));

    const std::intptr_t pos = hufOrderedLeaf(deepSymbol);
    const HufCode code = hufOrderedCode(pos);
    ASSERT_EQ(static_cast<std::size_t>(code.length), deepest);
    std::string bits;
    for (int i = code.length - 1; i >= 0; i--) bits += (code.bits >> i & 1) ? '1' : '0';
    EXPECT_EQ(bits, mdlPathOf(model, mdlLeafOf(model, deepSymbol)));

    // The trusting walk takes the code from the top of a word, the bits of
    // the next code below it, and stops after exactly the code's bits.
    const std::uint64_t rest = 0x5555555555555555u;
    std::uint64_t word =
        static_cast<std::uint64_t>(code.bits) << (64 - code.length) | rest >> code.length;
    const HufLeaf leaf = hufOrderedWalk(word);
    EXPECT_EQ(leaf.symbol, deepSymbol);
    EXPECT_EQ(leaf.pos, pos);
    EXPECT_EQ(word, rest >> code.length << code.length);
    hufOrderedInit();
    hufInitTree();
}

} // namespace
