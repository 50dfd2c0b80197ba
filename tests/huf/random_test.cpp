// Long symbol sequences through several rebuilds. After every update the tree
// must be consistent; the fast partner search must choose what the full scan
// chooses, and the production rebuild must give what the literal one gives.
#include <cmath>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <string>

#include "rebuild_oracle.h"
#include "tree_check.h"

namespace {

using hufcheck::restoreTree;
using hufcheck::saveTree;
using hufcheck::treeDiff;
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
    {"text-like", 3, 100000,
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

class HufRandomSequences : public testing::TestWithParam<SequenceCase> {};

TEST_P(HufRandomSequences, FastPathsMatchTheirOraclesAndTheTreeStaysConsistent) {
    const SequenceCase &c = GetParam();
    std::mt19937 rng(c.seed);
    hufInitTree();
    static TreeState before, fast, oracle;
    long partnerChecks = 0, fullRebuilds = 0, otherRebuilds = 0;
    for (int u = 0; u < c.updates; u++) {
        const int symbol = c.next(rng, u);
        const int leaf = hufLeafOf(symbol);
        SCOPED_TRACE("update " + std::to_string(u) + ", symbol " + std::to_string(symbol));
        saveTree(before);

        // The rebuilds compared where the update makes one, and on trees
        // between rebuilds.
        const bool full = nodeTable[0].weight == 0x8000;
        if (full || u % 211 == 0) {
            hufcheck::rebuildLiteral();
            saveTree(oracle);
            restoreTree(before);
            hufRebuildTree();
            saveTree(fast);
            ASSERT_EQ(treeDiff(oracle, fast), "") << "rebuild";
            ASSERT_EQ(hufcheck::treeFault(), "") << "after the rebuild";
            (full ? fullRebuilds : otherRebuilds)++;
            restoreTree(before);
        }

        // Both partner searches at every node on the leaf's path.
        if (!full) {
            for (int n = leaf; n != 0; n = nodeTable[n].parent, partnerChecks++) {
                ASSERT_EQ(hufPartnerFast(n), hufPartnerFullScan(n)) << "node " << n;
            }
        }

        // The whole update both ways: every partner chosen while climbing,
        // with the tree changing under it, must agree.
        hufUpdateWith<true, true>(leaf, 0);
        saveTree(oracle);
        restoreTree(before);
        hufUpdate(leaf, 0);
        saveTree(fast);
        ASSERT_EQ(treeDiff(oracle, fast), "") << "update";
        ASSERT_EQ(hufcheck::treeFault(), "");
    }
    EXPECT_GE(fullRebuilds, 3) << "the sequence is meant to pass through several rebuilds";
    std::printf("[ %s ] updates %d, partner checks on paths %ld, rebuilds at 0x8000 %ld, "
                "rebuilds between %ld\n",
                c.name, c.updates, partnerChecks, fullRebuilds, otherRebuilds);
}

INSTANTIATE_TEST_SUITE_P(Sequences, HufRandomSequences, testing::ValuesIn(sequenceCases));

} // namespace
