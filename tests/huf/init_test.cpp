// The starting shape of the code tree.
#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "huf/ordered.h"
#include "model.h"
#include "tree_check.h"

namespace {

using hufcheck::nodeAtPath;
using hufcheck::pathOfNode;

std::string bitsOf(int code, int n) {
    std::string s;
    for (int bit = n - 1; bit >= 0; bit--) s += (code >> bit & 1) ? '1' : '0';
    return s;
}

TEST(HufInitTree, ReturnsTheNodeCountAndAConsistentTree) {
    EXPECT_EQ(hufInitTree(), 627);
    EXPECT_EQ(nodeCount, 627);
    EXPECT_STREQ(hufTracedFault(), nullptr);
    EXPECT_EQ(orderTable[0], 0);
}

// Every symbol's code, derived again from the three code ranges: bytes
// 0x74-0xFF at 8-bit codes 0x00-0x8B, lengths 3-60 at 0x8C-0xC5, bytes
// 0x00-0x73 at 9-bit codes 0x18C-0x1FF.
TEST(HufInitTree, EverySymbolSitsAtItsStartingCode) {
    hufInitTree();
    struct Row {
        int firstCode, bits, firstSymbol, count;
    };
    const Row rows[] = {{0x000, 8, 0x74, 140}, {0x08C, 8, 256, 58}, {0x18C, 9, 0x00, 116}};
    int covered = 0;
    for (const Row &r : rows) {
        for (int i = 0; i < r.count; i++) {
            const int symbol = r.firstSymbol + i;
            const int leaf = hufLeafOf(symbol);
            SCOPED_TRACE("symbol " + std::to_string(symbol));
            EXPECT_EQ(pathOfNode(leaf), bitsOf(r.firstCode + i, r.bits));
            EXPECT_EQ(nodeTable[leaf].weight, 1);
            EXPECT_EQ(nodeTable[leaf].type, symbol < 256 ? hufLiteral : hufLength);
            EXPECT_EQ(nodeTable[leaf].value, symbol < 256 ? symbol : symbol - 256 + 3);
            covered++;
        }
    }
    EXPECT_EQ(covered, hufSymbolCount);
}

// Order numbers run deepest level first and left to right (by code value)
// within a level; derived here from the paths alone.
TEST(HufInitTree, OrderNumbersRunDeepestFirstThenLeftToRight) {
    hufInitTree();
    struct Entry {
        std::size_t depth;
        std::string path;
        int node;
    };
    std::vector<Entry> all;
    for (int i = 0; i < nodeCount; i++) all.push_back({pathOfNode(i).size(), pathOfNode(i), i});
    std::sort(all.begin(), all.end(), [](const Entry &a, const Entry &b) {
        return a.depth != b.depth ? a.depth > b.depth : a.path < b.path;
    });
    for (std::size_t k = 0; k < all.size(); k++) {
        ASSERT_EQ(nodeTable[all[k].node].order, static_cast<int>(k + 1)) << "path " << all[k].path;
    }
}

// Spot checks of the shape by path: weight (leaves below), order, kind.
TEST(HufInitTree, KnownNodes) {
    hufInitTree();
    struct Case {
        const char *path;
        int weight, order, type, value;
    };
    const Case cases[] = {
        {"", 314, 627, hufInternal, 0},
        {"0", 128, 625, hufInternal, 0},
        {"1", 186, 626, hufInternal, 0},
        {"00000000", 1, 117, hufLiteral, 0x74},  // first 8-bit code
        {"10001011", 1, 256, hufLiteral, 0xFF},  // last byte of the 8-bit row
        {"10001100", 1, 257, hufLength, 3},      // first length
        {"11000101", 1, 314, hufLength, 60},     // last 8-bit code
        {"110001100", 1, 1, hufLiteral, 0x00},   // first 9-bit code
        {"110101100", 1, 33, hufLiteral, 0x20},  // 0x1AC
        {"111111111", 1, 116, hufLiteral, 0x73}, // last 9-bit code
        {"11000110", 2, 315, hufInternal, 0},    // first internal node at depth 8
        {"11111111", 2, 372, hufInternal, 0},    // last internal node at depth 8
        {"0000000", 2, 373, hufInternal, 0},     // first node at depth 7
        {"1100010", 2, 471, hufInternal, 0},     // lengths 59 and 60
        {"1100011", 4, 472, hufInternal, 0},     // the first four 9-bit codes
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("path '") + c.path + "'");
        const int n = nodeAtPath(c.path);
        ASSERT_GE(n, 0);
        EXPECT_EQ(nodeTable[n].weight, c.weight);
        EXPECT_EQ(nodeTable[n].order, c.order);
        EXPECT_EQ(nodeTable[n].type, c.type);
        EXPECT_EQ(nodeTable[n].value, c.value);
        EXPECT_EQ(orderTable[c.order], n);
    }
}

// A reset after updates and a rebuild gives back the identical starting tree
// with every exchange mark cleared.
TEST(HufInitTree, ResetAfterUpdatesGivesTheSameTree) {
    hufInitTree();
    hufcheck::TreeState first;
    hufcheck::saveTree(first);
    for (int i = 0; i < 200; i++) hufUpdate(hufLeafOf((i * 37) % hufSymbolCount), 0);
    hufRebuildTree();
    hufUpdate(hufLeafOf(0x65), 0);
    hufUpdate(hufLeafOf(0x00), 0);
    bool anyMoved = false;
    for (int i = 0; i < nodeCount; i++) anyMoved |= nodeTable[i].moved != 0;
    ASSERT_TRUE(anyMoved) << "the updates should have left exchange marks";

    EXPECT_EQ(hufInitTree(), 627);
    hufcheck::TreeState second;
    hufcheck::saveTree(second);
    EXPECT_EQ(hufcheck::treeDiff(first, second), "");
    EXPECT_EQ(orderTable[0], 0);
}

// The tree of plain decoding and the encoder starts from its own prepared
// copy, laid out from the code ranges directly: it is the starting tree of
// nodeTable, position for position, and a reset brings it back, with every
// partner entry and the lookup table, after the tree has adapted to weights in the thousands
// and been rebuilt.
TEST(HufInitTree, BothFormsStartFromTheSameTree) {
    static MdlTree nodes;
    hufInitTree();
    mdlCopyNodeTable(nodes);
    const MdlShape start = mdlShapeOf(nodes);
    hufOrderedInit();
    EXPECT_EQ(mdlShapeDiff(start, mdlShapeOfFast()), "");
    EXPECT_STREQ(hufOrderedFault(), nullptr);
    for (int i = 0; i < 40000; i++) hufOrderedUpdate(hufOrderedLeaf((i * i + 7 * i) % 97));
    ASSERT_NE(mdlShapeDiff(start, mdlShapeOfFast()), "");
    ASSERT_GT(hufOrderedTree.rootWeight, 5000) << "the counts should pass a rebuild and go on";
    hufOrderedInit();
    EXPECT_EQ(mdlShapeDiff(start, mdlShapeOfFast()), "");
    EXPECT_STREQ(hufOrderedFault(), nullptr);
}

} // namespace
