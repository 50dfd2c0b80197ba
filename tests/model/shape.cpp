// Trees described by order number, for comparing the product's two forms
// of the tree with each other and with the model.
#include "huf/ordered.h"
#include "model.h"

namespace {

void add(MdlShape &s, std::int32_t weight, std::int32_t parent, std::int32_t a, std::int32_t b) {
    s.fields.insert(s.fields.end(), {weight, parent, a, b});
}

constexpr int fieldsPerPosition = 4;

} // namespace

MdlShape mdlShapeOf(const MdlTree &t) {
    MdlShape s;
    for (int k = 1; k <= t.count; k++) {
        const HufNode &x = t.nodes[t.order[k]];
        const std::int32_t parent = x.parent == -1 ? 0 : t.nodes[x.parent].order;
        if (x.type == hufInternal) {
            add(s, x.weight, parent, t.nodes[x.child0].order, t.nodes[x.child1].order);
        } else {
            add(s, x.weight, parent, -1, mdlSymbolOf(x));
        }
    }
    return s;
}

MdlShape mdlShapeOfFast() {
    MdlShape s;
    for (int k = 1; k <= hufRootOrder; k++) {
        const std::int32_t weight =
            k == hufRootOrder ? hufOrderedTree.rootWeight : hufOrderedTree.weight[k];
        const std::int32_t parent = k == hufRootOrder ? 0 : hufOrderedTree.parent[k];
        const int child = hufOrderedTree.child[k];
        if (child < hufLeafMark) {
            add(s, weight, parent, child, child + 1);
        } else {
            add(s, weight, parent, -1, (child - hufLeafMark) / 2);
        }
    }
    return s;
}

std::string mdlShapeDiff(const MdlShape &a, const MdlShape &b) {
    const char *names[fieldsPerPosition] = {"weight", "parent", "child 0 / leaf",
                                            "child 1 / symbol"};
    if (a.fields.size() != b.fields.size()) return "sizes differ";
    for (std::size_t i = 0; i < a.fields.size(); i++) {
        if (a.fields[i] != b.fields[i]) {
            return "order " + std::to_string(i / fieldsPerPosition + 1) + " " +
                   names[i % fieldsPerPosition] + ": " + std::to_string(a.fields[i]) + " vs " +
                   std::to_string(b.fields[i]);
        }
    }
    return "";
}
