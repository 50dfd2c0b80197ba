#pragma once
// Test helpers for the code tree: whole-tree snapshots and code paths of
// nodes. The rules every update and rebuild must keep are the tree's own
// (huf/check.h).
#include <cstdint>
#include <cstring>
#include <string>

#include "huf/check.h"
#include "traced_internal.h"

namespace hufcheck {

// Everything the update and the rebuild may change.
struct TreeState {
    HufNode nodes[hufNodeMax];
    std::int32_t order[hufNodeMax + 1];
    std::int32_t weightAt[hufNodeMax + 2];
    std::int32_t count;
};

inline void saveTree(TreeState &s) {
    std::memcpy(s.nodes, nodeTable, sizeof s.nodes);
    std::memcpy(s.order, orderTable, sizeof s.order);
    std::memcpy(s.weightAt, tracedOrderWeight, sizeof s.weightAt);
    s.count = nodeCount;
}

inline void restoreTree(const TreeState &s) {
    std::memcpy(nodeTable, s.nodes, sizeof s.nodes);
    std::memcpy(orderTable, s.order, sizeof s.order);
    std::memcpy(tracedOrderWeight, s.weightAt, sizeof s.weightAt);
    nodeCount = s.count;
    hufSyncSideTables();
}

inline std::string nodeText(const HufNode &n) {
    return "{w=" + std::to_string(n.weight) + " o=" + std::to_string(n.order) +
           " p=" + std::to_string(n.parent) + " c0=" + std::to_string(n.child0) +
           " c1=" + std::to_string(n.child1) + " t=" + std::to_string(n.type) +
           " v=" + std::to_string(n.value) + " m=" + std::to_string(n.moved) + "}";
}

inline bool sameNode(const HufNode &a, const HufNode &b) {
    return a.weight == b.weight && a.order == b.order && a.parent == b.parent &&
           a.child0 == b.child0 && a.child1 == b.child1 && a.type == b.type && a.value == b.value &&
           a.moved == b.moved;
}

// The first difference between two snapshots, or "" when they are equal.
inline std::string treeDiff(const TreeState &a, const TreeState &b) {
    if (a.count != b.count)
        return "nodeCount " + std::to_string(a.count) + " vs " + std::to_string(b.count);
    // Entries past the node count are not part of the tree.
    for (int i = 0; i < a.count; i++) {
        if (!sameNode(a.nodes[i], b.nodes[i])) {
            return "node " + std::to_string(i) + " " + nodeText(a.nodes[i]) + " vs " +
                   nodeText(b.nodes[i]);
        }
    }
    for (int k = 0; k <= a.count; k++) {
        if (a.order[k] != b.order[k]) return "orderTable[" + std::to_string(k) + "]";
        if (k > 0 && a.weightAt[k] != b.weightAt[k])
            return "tracedOrderWeight[" + std::to_string(k) + "]";
    }
    return "";
}

// The bits that lead from the root to the node ("" for the root).
inline std::string pathOfNode(int node) {
    std::string path;
    for (int n = node; nodeTable[n].parent != -1 && path.size() <= hufNodeMax;
         n = nodeTable[n].parent) {
        path.insert(path.begin(), nodeTable[nodeTable[n].parent].child0 == n ? '0' : '1');
    }
    return path;
}

// The node reached from the root along a path of '0' and '1', or -1.
inline int nodeAtPath(const std::string &path) {
    int n = 0;
    for (char c : path) {
        if (n < 0 || nodeTable[n].type != hufInternal) return -1;
        n = c == '1' ? nodeTable[n].child1 : nodeTable[n].child0;
    }
    return n;
}

} // namespace hufcheck
