// Node lines and whole-tree dumps.
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "capture.h"
#include "tree_check.h"

namespace {

using hufcheck::captureStdout;
using hufcheck::nodeAtPath;

std::string lineOf(int node) {
    return captureStdout([&] { hufDumpNode(node); });
}

std::vector<std::string> linesOf(const std::string &text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    if (start != text.size()) lines.push_back(text.substr(start)); // unterminated rest
    return lines;
}

TEST(HufDumpTree, StartingTreeHasOneLinePerNodeRootLast) {
    hufInitTree();
    const std::string dump = captureStdout([] { hufDumpTree(); });
    const std::vector<std::string> lines = linesOf(dump);
    ASSERT_EQ(lines.size(), 627u);
    EXPECT_EQ(dump.substr(dump.size() - 2), "\r\n");
    EXPECT_EQ(lines.front(), "110001100: weight=1, order=1, ch=0x00");
    EXPECT_EQ(lines.back(), ": weight=314, order=627, (intermediate)");
}

// The dump lists every node by order number, root last. The expectation is
// built apart from the trace code: paths come from a walk down the child
// links, each line is formatted here, and the lines are put in order by the
// nodes' own order numbers, not through orderTable. After exchanges the
// order must still be the one the update keeps: weights never decrease
// along it, and the two children of a node hold adjacent numbers.
TEST(HufDumpTree, FollowsOrderNumbersAfterExchanges) {
    hufInitTree();
    for (int s : {0x65, 0x65, 0x00, 256, 0x20, 0x65}) hufUpdate(hufLeafOf(s), 0);

    std::vector<std::string> expected(628);
    std::vector<int> weightAt(628, -1);
    struct Step {
        int node;
        std::string path;
    };
    std::vector<Step> todo = {{0, ""}};
    int visited = 0;
    while (!todo.empty()) {
        const Step s = todo.back();
        todo.pop_back();
        const HufNode &n = nodeTable[s.node];
        ASSERT_GE(n.order, 1);
        ASSERT_LE(n.order, 627);
        const auto k = static_cast<std::size_t>(n.order);
        ASSERT_EQ(expected[k], "") << "order " << n.order << " given twice";
        char kind[24];
        if (n.type == hufLiteral) {
            std::snprintf(kind, sizeof kind, ", ch=0x%02x", n.value);
        } else if (n.type == hufLength) {
            std::snprintf(kind, sizeof kind, ", len=%d", n.value);
        } else {
            std::snprintf(kind, sizeof kind, ", (intermediate)");
        }
        expected[k] = s.path + ": weight=" + std::to_string(n.weight) +
                      ", order=" + std::to_string(n.order) + kind + (n.moved ? " *" : "");
        weightAt[k] = n.weight;
        visited++;
        if (n.type == hufInternal) {
            EXPECT_EQ(std::abs(nodeTable[n.child0].order - nodeTable[n.child1].order), 1)
                << "children of order " << n.order;
            todo.push_back({n.child0, s.path + "0"});
            todo.push_back({n.child1, s.path + "1"});
        }
    }
    ASSERT_EQ(visited, 627);
    for (std::size_t k = 2; k <= 627; k++) EXPECT_LE(weightAt[k - 1], weightAt[k]) << "order " << k;

    const std::vector<std::string> lines = linesOf(captureStdout([] { hufDumpTree(); }));
    ASSERT_EQ(lines.size(), 627u);
    for (std::size_t k = 1; k <= 627; k++) ASSERT_EQ(lines[k - 1], expected[k]) << "order " << k;
}

TEST(HufDumpNode, LinesAfterTwoUpdates) {
    hufInitTree();
    hufUpdate(hufLeafOf(0x65), 0);
    hufUpdate(hufLeafOf(0x65), 0);
    struct Case {
        const char *path;
        const char *line;
    };
    const Case cases[] = {
        {"", ": weight=316, order=627, (intermediate)\r\n"},
        {"1100001", "1100001: weight=3, order=470, ch=0x65 *\r\n"},
        {"111110001", "111110001: weight=1, order=102, len=60 *\r\n"},
        {"11000101", "11000101: weight=2, order=314, (intermediate) *\r\n"},
        {"110001011", "110001011: weight=1, order=312, len=58 *\r\n"},
        {"00000000", "00000000: weight=1, order=117, ch=0x74\r\n"},
        {"10001100", "10001100: weight=1, order=257, len=3\r\n"},
        {"110001110", "110001110: weight=1, order=3, ch=0x02\r\n"},
    };
    for (const Case &c : cases) {
        const int n = nodeAtPath(c.path);
        ASSERT_GE(n, 0) << c.path;
        EXPECT_EQ(lineOf(n), c.line);
    }
}

// Kinds and field widths: the byte in two lower-case hex digits, the length
// in decimal, nothing for a kind the tree never holds; large weights whole.
TEST(HufDumpNode, KindsAndWidths) {
    struct Case {
        std::uint8_t type, value, moved;
        std::int32_t weight;
        const char *line;
    };
    const Case cases[] = {
        {hufLiteral, 0x0A, 0, 1, "110001100: weight=1, order=1, ch=0x0a\r\n"},
        {hufLiteral, 0xFF, 1, 0x7FFF, "110001100: weight=32767, order=1, ch=0xff *\r\n"},
        {hufLength, 60, 0, 12, "110001100: weight=12, order=1, len=60\r\n"},
        {hufInternal, 0, 1, 2, "110001100: weight=2, order=1, (intermediate) *\r\n"},
        {7, 9, 0, 1, "110001100: weight=1, order=1\r\n"},
        {7, 9, 1, 1, "110001100: weight=1, order=1 *\r\n"},
    };
    for (const Case &c : cases) {
        hufInitTree();
        const int leaf = hufLeafOf(0x00);
        HufNode &n = nodeTable[leaf];
        n.type = c.type;
        n.value = c.value;
        n.moved = c.moved;
        n.weight = c.weight;
        EXPECT_EQ(lineOf(leaf), c.line);
    }
    hufInitTree();
}

// A chain far deeper than any consistent tree reaches still prints its
// whole path.
TEST(HufDumpNode, DeepPathIsPrintedWhole) {
    hufInitTree();
    constexpr int depth = 100;
    std::string path;
    for (int i = 1; i <= depth; i++) {
        const bool one = i % 3 == 0;
        HufNode &parent = nodeTable[i - 1];
        parent.type = hufInternal;
        parent.child0 = one ? 500 : i;
        parent.child1 = one ? i : 500;
        nodeTable[i] = HufNode{1, i, i - 1, -1, -1, hufLiteral, 0x41, 0};
        path += one ? '1' : '0';
    }
    EXPECT_EQ(lineOf(depth), path + ": weight=1, order=100, ch=0x41\r\n");
    hufInitTree();
}

} // namespace
