// The walk's lookup table of the ordered tree against the literal model's
// tree, after every symbol counted: on long items through several rebuilds,
// and on many short items each starting from the starting tree, some of them
// after an item that passed a rebuild. Then against a walk of the ordered
// tree itself after exchanges of arbitrary subtrees, and of subtrees sent
// out of the top levels and back.
#include <cmath>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <random>
#include <string>

#include "huf/ordered.h"
#include "model.h"
#include "ordered_internal.h"

namespace {

double unit(std::mt19937 &rng) {
    return std::uniform_real_distribution<double>(0.0, 1.0)(rng);
}

int textLike(std::mt19937 &rng) {
    const double u = unit(rng);
    if (u < 0.6) return static_cast<int>(0x20 + rng() % 0x5F);
    if (u < 0.9) return 256 + static_cast<int>(rng() % 8);
    return static_cast<int>(rng() % hufSymbolCount);
}

// Markup: a few bytes most of the time, a few letters, short lengths now
// and then. Within a few hundred symbols the heavy symbols climb from the
// starting tree's deep levels into the top ones, and internal nodes of the
// top levels trade places with deeper ones on the way: the exchanges the
// table has to follow. Text-like symbols, spread over a hundred bytes,
// rarely get there in a short item.
int markupLike(std::mt19937 &rng) {
    static const char heavy[] = "<>/= ";
    const double u = unit(rng);
    if (u < 0.5) return static_cast<unsigned char>(heavy[rng() % (sizeof heavy - 1)]);
    if (u < 0.8) return static_cast<int>('a' + rng() % 8);
    if (u < 0.9) return 256 + static_cast<int>(rng() % 4);
    return static_cast<int>(rng() % hufSymbolCount);
}

// The same with the weight spread over more bytes: fewer, later climbs.
int markupWideLike(std::mt19937 &rng) {
    static const char heavy[] = "<>/=\" etaoins";
    const double u = unit(rng);
    if (u < 0.75) return static_cast<unsigned char>(heavy[rng() % (sizeof heavy - 1)]);
    if (u < 0.9) return 256 + static_cast<int>(rng() % 4);
    return static_cast<int>(rng() % hufSymbolCount);
}

struct LookupCase {
    const char *name;
    std::uint32_t seed;
    int itemSymbols; // symbols per item; each item starts from the starting tree
    int symbols;
    std::function<int(std::mt19937 &)> next;
    int minUpkeeps; // counts that changed the table without a rebuild
    int minRebuilds;
};

void PrintTo(const LookupCase &c, std::ostream *os) {
    *os << c.name;
}

const LookupCase lookupCases[] = {
    // Short items of a skewed alphabet: every item climbs from the starting
    // tree again, and the table changes along the way.
    {"short_markup_items", 1, 300, 30000, markupLike, 600, 0},
    {"short_wide_markup_items", 2, 1000, 30000, markupWideLike, 300, 0},
    // Long items through rebuilds (the first at about 32 000 symbols, then
    // every 16 000 or so), and items after them.
    {"long_skewed_items", 3, 70000, 100000,
     [](std::mt19937 &rng) {
         return static_cast<int>(std::pow(unit(rng), 4.0) * (hufSymbolCount - 1));
     },
     40, 2},
    {"long_text_like_items", 4, 50000, 80000, textLike, 0, 2},
};

struct LookupTable {
    std::uint16_t entry[1 << hufLookupBits];
    std::uint8_t rise[hufNodeMax + 1];
};

LookupTable lookupTable() {
    LookupTable t;
    std::memcpy(t.entry, hufOrderedTree.lookupEntry, sizeof t.entry);
    std::memcpy(t.rise, hufOrderedTree.lookupRise, sizeof t.rise);
    return t;
}

bool operator==(const LookupTable &a, const LookupTable &b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class HufLookupTable : public testing::TestWithParam<LookupCase> {};

// Only through the public count: the table is kept up to date by the tree
// itself, whatever counting does to it.
TEST_P(HufLookupTable, MatchesTheModelAfterEverySymbol) {
    const LookupCase &c = GetParam();
    std::mt19937 rng(c.seed);
    static MdlTree model;
    int rebuilds = 0;
    int upkeeps = 0;
    for (int i = 0; i < c.symbols; i++) {
        if (i % c.itemSymbols == 0) {
            mdlInitTree(model);
            hufOrderedInit();
            ASSERT_STREQ(hufLookupFault(), nullptr) << "at the item starting at symbol " << i;
        }
        const int symbol = c.next(rng);
        const bool rebuild = model.nodes[0].weight == hufWeightFull;
        rebuilds += rebuild;
        const LookupTable before = lookupTable();
        mdlUpdate(model, mdlLeafOf(model, symbol));
        hufOrderedUpdate(hufOrderedLeaf(symbol));
        upkeeps += !rebuild && !(lookupTable() == before);
        // The table against a walk of the ordered tree, and the ordered tree
        // against the model: so the table says what a walk of the model does.
        ASSERT_STREQ(hufLookupFault(), nullptr) << "after symbol " << i << " (" << symbol << ")";
        ASSERT_EQ(mdlShapeDiff(mdlShapeOf(model), mdlShapeOfFast()), "")
            << "after symbol " << i << " (" << symbol << ")";
    }
    EXPECT_GE(upkeeps, c.minUpkeeps) << "counts that changed the table";
    EXPECT_GE(rebuilds, c.minRebuilds);
    hufOrderedInit();
}

INSTANTIATE_TEST_SUITE_P(Sequences, HufLookupTable, testing::ValuesIn(lookupCases),
                         [](const testing::TestParamInfo<LookupCase> &p) { return p.param.name; });

bool isAncestor(int upper, int pos) {
    for (; pos != hufRootOrder; pos = hufOrderedTree.parent[pos]) {
        if (pos == upper) return true;
    }
    return pos == upper;
}

// The upkeep does not lean on which of the two positions is the higher or
// the deeper, which the partner rule happens to fix: any two positions not
// on one path, in either order, shallow subtrees sent deep and back.
TEST(HufLookupTable, FollowsExchangesOfAnyTwoSubtrees) {
    std::mt19937 rng(5);
    hufOrderedInit();
    int reachingTop = 0;
    for (int i = 0; i < 20000; i++) {
        // Half the time one of the two lies in the top levels.
        int a = 1 + static_cast<int>(rng() % (hufRootOrder - 1));
        if (i % 2 == 0) a = hufRootOrder - 1 - static_cast<int>(rng() % 30);
        const int b = 1 + static_cast<int>(rng() % (hufRootOrder - 1));
        if (isAncestor(a, b) || isAncestor(b, a)) continue;
        reachingTop += (hufOrderedTree.lookupRise[a] | hufOrderedTree.lookupRise[b]) != 0;
        hufOrderedExchange(a, b);
        ASSERT_STREQ(hufLookupFault(), nullptr) << "after exchanging " << a << " and " << b;
    }
    EXPECT_GT(reachingTop, 500) << "the exchanges are meant to reach the top levels";
    // The next user of the ordered tree starts from the starting tree.
    hufOrderedInit();
}

// The highest internal position with the given rise, and the highest
// internal position below the top levels that is not under it.
int internalWithRise(int rise) {
    for (int k = hufRootOrder - 1; k > 0; k--) {
        if (hufOrderedTree.child[k] < hufLeafMark && hufOrderedTree.lookupRise[k] == rise) return k;
    }
    return 0;
}

int deepInternalApartFrom(int top) {
    for (int k = hufRootOrder - 1; k > 0; k--) {
        if (hufOrderedTree.child[k] < hufLeafMark && hufOrderedTree.lookupRise[k] == 0 &&
            !isAncestor(top, k))
            return k;
    }
    return 0;
}

// A subtree of the top levels sent below them takes its rises with it
// unless they are cleared, and a deep subtree brought up gets new ones; sent
// back, the table is the starting tree's again. Every rise from 1 to the
// table's depth less one, on the starting tree.
TEST(HufLookupTable, SendsATopSubtreeDeepAndBack) {
    hufOrderedInit();
    const LookupTable start = lookupTable();
    for (int rise = 1; rise < hufLookupBits; rise++) {
        const int top = internalWithRise(rise);
        const int deep = deepInternalApartFrom(top);
        ASSERT_NE(top, 0) << "rise " << rise;
        ASSERT_NE(deep, 0) << "rise " << rise;
        hufOrderedExchange(top, deep);
        ASSERT_STREQ(hufLookupFault(), nullptr) << "rise " << rise << ", sent deep";
        hufOrderedExchange(top, deep);
        ASSERT_STREQ(hufLookupFault(), nullptr) << "rise " << rise << ", back";
        EXPECT_TRUE(lookupTable() == start) << "rise " << rise;
    }
}

// Called for two positions below the top levels, whatever they hold, the
// upkeep changes nothing: no prefix reaches them.
TEST(HufLookupTable, UpkeepBelowTheTopLevelsChangesNothing) {
    hufOrderedInit();
    const LookupTable start = lookupTable();
    int calls = 0;
    for (int a = 1; a < hufRootOrder; a += 7) {
        for (int b = a + 1; b < hufRootOrder; b += 11) {
            if ((hufOrderedTree.lookupRise[a] | hufOrderedTree.lookupRise[b]) != 0) continue;
            hufLookupExchanged(a, b);
            calls++;
            ASSERT_TRUE(lookupTable() == start) << "positions " << a << " and " << b;
        }
    }
    EXPECT_GT(calls, 1000);
}

} // namespace
