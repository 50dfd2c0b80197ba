#pragma once
// Test helpers for the code tree: whole-tree snapshots, the consistency
// check every update and rebuild must pass, and code paths of nodes.
#include <cstdint>
#include <cstring>
#include <string>

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

// The first broken rule of a consistent tree, or "" when there is none: links
// agree both ways, every internal weight is the sum of its children, order
// numbers and orderTable are inverse (root 627, entry 0 still naming the
// root), weights never decrease along order numbers, siblings hold adjacent
// order numbers with child0 lower, and the side tables of the partner
// search (tracedOrderWeight, tracedRunTop) match the tree.
inline std::string treeFault() {
    const int n = nodeCount;
    if (n != hufNodeMax) return "nodeCount " + std::to_string(n);
    if (orderTable[0] != 0) return "orderTable[0] = " + std::to_string(orderTable[0]);
    if (nodeTable[0].parent != -1) return "root has a parent";
    if (nodeTable[0].order != n) return "root order " + std::to_string(nodeTable[0].order);
    int leaves = 0;
    bool seen[hufSymbolCount] = {};
    for (int i = 0; i < n; i++) {
        const HufNode &x = nodeTable[i];
        // The message is built only for a fault: this runs after every update.
        auto at = [&](const char *what) {
            return "node " + std::to_string(i) + " " + nodeText(x) + ": " + what;
        };
        if (x.weight < 1) return at("weight below 1");
        if (x.order < 1 || x.order > n || orderTable[x.order] != i)
            return at("order not in orderTable");
        if (tracedOrderWeight[x.order] != x.weight) return at("tracedOrderWeight differs");
        if (i != 0 && (x.parent < 0 || x.parent >= n ||
                       (nodeTable[x.parent].child0 != i && nodeTable[x.parent].child1 != i))) {
            return at("parent does not hold it");
        }
        if (x.type == hufInternal) {
            if (x.child0 < 0 || x.child0 >= n || x.child1 < 0 || x.child1 >= n)
                return at("missing child");
            const HufNode &c0 = nodeTable[x.child0];
            const HufNode &c1 = nodeTable[x.child1];
            if (c0.parent != i || c1.parent != i) return at("child's parent differs");
            if (c0.weight + c1.weight != x.weight) return at("weight is not the children's sum");
            if (c1.order != c0.order + 1) return at("children's orders not adjacent, child0 lower");
        } else {
            if (x.child0 != -1 || x.child1 != -1) return at("leaf with children");
            if (x.type != hufLiteral && x.type != hufLength) return at("unknown type");
            if (x.type == hufLength && (x.value < 3 || x.value > 60))
                return at("length out of range");
            const int symbol = x.type == hufLiteral ? x.value : 256 + x.value - 3;
            if (seen[symbol]) return at("symbol twice");
            seen[symbol] = true;
            leaves++;
        }
    }
    if (leaves != hufLeafCount) return "leaves: " + std::to_string(leaves);
    for (int k = 1; k < n; k++) {
        if (tracedOrderWeight[k] > tracedOrderWeight[k + 1])
            return "weight decreases at order " + std::to_string(k);
    }
    // The last order number of every weight's run is where tracedRunTop points.
    for (int k = 1; k <= n; k++) {
        if ((k == n || tracedOrderWeight[k + 1] != tracedOrderWeight[k]) &&
            tracedRunTop[tracedOrderWeight[k]] != k)
            return "tracedRunTop of weight " + std::to_string(tracedOrderWeight[k]) + " is not " +
                   std::to_string(k);
    }
    return "";
}

} // namespace hufcheck
