// Long symbol sequences through several rebuilds, counted in the literal
// model, in nodeTable and in the tree laid out by order number side by side.
// After every symbol nodeTable must be consistent and be the model's tree
// node for node (the partner search chose what the full scan chooses), and
// the ordered tree must keep its rules and be the model's tree order number
// for order number.
// Both rebuilds must give what the literal one gives, also on trees between
// the rebuilds the update makes.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <random>
#include <string>

#include "huf/ordered.h"
#include "model.h"
#include "tree_check.h"

namespace {

using hufcheck::restoreTree;
using hufcheck::saveTree;
using hufcheck::TreeState;

struct SequenceCase {
    const char *name;
    std::uint32_t seed;
    int updates;
    std::function<int(std::mt19937 &, int)> next; // symbol (0 to 313) of update u
};

double unit(std::mt19937 &rng) {
    return std::uniform_real_distribution<double>(0.0, 1.0)(rng);
}

const SequenceCase sequenceCases[] = {
    {"uniform", 1, 100000,
     [](std::mt19937 &rng, int) { return static_cast<int>(rng() % hufSymbolCount); }},
    // A few symbols dominate, the rest stay rare: a deep, lopsided tree.
    {"skewed", 2, 100000,
     [](std::mt19937 &rng, int) {
         return static_cast<int>(std::pow(unit(rng), 4.0) * (hufSymbolCount - 1));
     }},
    // Text-like: markup bytes and spaces most of the time, short lengths
    // now and then, everything else rarely.
    {"text_like", 3, 100000,
     [](std::mt19937 &rng, int) {
         const double u = unit(rng);
         if (u < 0.6) return static_cast<int>(0x20 + rng() % 0x5F);
         if (u < 0.9) return 256 + static_cast<int>(rng() % 8);
         return static_cast<int>(rng() % hufSymbolCount);
     }},
    // One symbol after another in long bursts: many exchanges per update
    // and the largest weights.
    {"bursts", 4, 100000, [](std::mt19937 &rng, int u) {
         // Bursts of 1500 of one symbol, one stray symbol in 50.
         const int stray = static_cast<int>(rng() % 50);
         return stray == 0 ? static_cast<int>(rng() % hufSymbolCount)
                           : static_cast<int>((u / 1500 * 97) % hufSymbolCount);
     }}};

void PrintTo(const SequenceCase &c, std::ostream *os) {
    *os << c.name;
}

class HufRandomSequences : public testing::TestWithParam<SequenceCase> {};

TEST_P(HufRandomSequences, UpdatesAndRebuildsFollowTheModel) {
    const SequenceCase &c = GetParam();
    std::mt19937 rng(c.seed);
    hufInitTree();
    hufOrderedInit();
    static MdlTree model, product, rebuilt;
    static TreeState before;
    static HufOrdered orderedBefore;
    mdlInitTree(model);
    long fullRebuilds = 0, otherRebuilds = 0;
    for (int u = 0; u < c.updates; u++) {
        const int symbol = c.next(rng, u);
        SCOPED_TRACE("update " + std::to_string(u) + ", symbol " + std::to_string(symbol));

        // The rebuild on its own, on trees between the rebuilds the update
        // makes; the tree is put back afterwards.
        const bool full = model.nodes[0].weight == 0x8000;
        if (!full && u % 211 == 0) {
            saveTree(before);
            mdlCopyNodeTable(rebuilt);
            mdlRebuild(rebuilt);
            hufRebuildTree();
            mdlCopyNodeTable(product);
            ASSERT_EQ(mdlTreeDiff(rebuilt, product), "") << "rebuild";
            ASSERT_STREQ(hufTracedFault(), nullptr) << "after the rebuild";
            restoreTree(before);
            orderedBefore = hufOrderedTree;
            const int leaf = hufOrderedRebuild(symbol);
            ASSERT_EQ(mdlShapeDiff(mdlShapeOf(rebuilt), mdlShapeOfFast()), "") << "ordered rebuild";
            ASSERT_STREQ(hufOrderedFault(), nullptr) << "after the ordered rebuild";
            ASSERT_EQ(leaf, rebuilt.nodes[mdlLeafOf(rebuilt, symbol)].order);
            hufOrderedTree = orderedBefore;
            otherRebuilds++;
        }
        fullRebuilds += full;

        hufUpdate(hufLeafOf(symbol), 0);
        mdlUpdate(model, mdlLeafOf(model, symbol));
        mdlCopyNodeTable(product);
        ASSERT_EQ(mdlTreeDiff(model, product), "") << "update";
        ASSERT_STREQ(hufTracedFault(), nullptr);
        hufOrderedUpdate(hufOrderedLeaf(symbol));
        ASSERT_EQ(mdlShapeDiff(mdlShapeOf(model), mdlShapeOfFast()), "") << "ordered count";
        // The whole partner table after the counts that rebuilt, the entries
        // a count can change after the others.
        ASSERT_STREQ(full ? hufOrderedFault() : hufOrderedUpdateFault(), nullptr)
            << "after the ordered count";
    }
    EXPECT_GE(fullRebuilds, 3) << "the sequence is meant to pass through several rebuilds";
    std::printf("[ %s ] updates %d, rebuilds at 0x8000 %ld, rebuilds between %ld\n", c.name,
                c.updates, fullRebuilds, otherRebuilds);
}

INSTANTIATE_TEST_SUITE_P(Sequences, HufRandomSequences, testing::ValuesIn(sequenceCases),
                         [](const testing::TestParamInfo<SequenceCase> &p) {
                             return p.param.name;
                         });

} // namespace
