// The code tree in its most literal form: every choice a scan of all nodes.
#include <algorithm>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "model.h"

namespace {

// Root weight at which the tree is rebuilt; selections take only weights
// strictly below it, so ties go to the lowest index.
constexpr std::int32_t full = 0x8000;

struct Range {
    int firstCode, lastCode, bits;
    std::uint8_t type, firstValue;
};
const Range ranges[3] = {
    {0x000, 0x08B, 8, hufLiteral, 0x74},
    {0x08C, 0x0C5, 8, hufLength, 3},
    {0x18C, 0x1FF, 9, hufLiteral, 0x00},
};

void mark(MdlTree &t, int node) {
    t.nodes[node].moved = 1;
    if (t.nodes[node].child0 != -1) mark(t, t.nodes[node].child0);
    if (t.nodes[node].child1 != -1) mark(t, t.nodes[node].child1);
}

std::int32_t halve(MdlTree &t, int node) {
    HufNode &n = t.nodes[node];
    if (n.type != hufInternal) {
        n.weight = (n.weight + 1) / 2;
    } else {
        std::int32_t sum = 0;
        if (n.child0 != -1) sum += halve(t, n.child0);
        if (n.child1 != -1) sum += halve(t, n.child1);
        n.weight = sum;
    }
    return n.weight;
}

int setLevels(MdlTree &t, int node, int depth) {
    HufNode &n = t.nodes[node];
    n.order = -(depth + 1);
    int levels = depth + 1;
    for (int c : {n.child0, n.child1}) {
        if (c == -1) continue;
        const int below = setLevels(t, c, depth + 1);
        if (below > levels) levels = below;
    }
    return levels;
}

HufNode scratch[hufNodeMax + 1];

int lightest(int end, int skip) {
    std::int32_t bound = full;
    int found = -1;
    for (int i = 1; i < end; i++) {
        if (i != skip && scratch[i].parent == -1 && scratch[i].weight < bound) {
            bound = scratch[i].weight;
            found = i;
        }
    }
    return found;
}

} // namespace

void mdlInitTree(MdlTree &t) {
    // The starting tree from its code words alone, without laying paths
    // down: every prefix of a code word is a node (the empty prefix the
    // root, a whole word a leaf) and weighs the words it begins. Node
    // indices follow creation when the words are laid down in increasing
    // order: a node is made when the first word it begins reaches its
    // depth. Order numbers run deepest level first, left to right (by the
    // prefix's value) within a level.
    struct Word {
        int code, bits;
        std::uint8_t type, value;
    };
    std::vector<Word> words;
    for (const Range &r : ranges) {
        for (int code = r.firstCode; code <= r.lastCode; code++) {
            words.push_back({code, r.bits, r.type,
                             static_cast<std::uint8_t>(r.firstValue + code - r.firstCode)});
        }
    }
    struct Prefix {
        int depth, value;
        std::size_t firstWord;
        int weight;
        const Word *word; // the whole word, for a leaf
    };
    std::map<std::pair<int, int>, Prefix> prefixes; // (depth, value)
    for (std::size_t i = 0; i < words.size(); i++) {
        const Word &w = words[i];
        for (int d = 0; d <= w.bits; d++) {
            const auto key = std::make_pair(d, w.code >> (w.bits - d));
            auto [at, made] = prefixes.try_emplace(key, Prefix{d, key.second, i, 0, nullptr});
            at->second.weight++;
            if (d == w.bits) at->second.word = &w;
        }
    }
    std::vector<const Prefix *> byCreation, byOrder;
    for (const auto &[key, p] : prefixes) {
        byCreation.push_back(&p);
        byOrder.push_back(&p);
    }
    std::sort(byCreation.begin(), byCreation.end(), [](const Prefix *a, const Prefix *b) {
        return a->firstWord != b->firstWord ? a->firstWord < b->firstWord : a->depth < b->depth;
    });
    std::sort(byOrder.begin(), byOrder.end(), [](const Prefix *a, const Prefix *b) {
        return a->depth != b->depth ? a->depth > b->depth : a->value < b->value;
    });
    std::map<std::pair<int, int>, int> indexOf;
    for (std::size_t i = 0; i < byCreation.size(); i++) {
        indexOf[{byCreation[i]->depth, byCreation[i]->value}] = static_cast<int>(i);
    }
    auto find = [&](int depth, int value) {
        const auto at = indexOf.find({depth, value});
        return at == indexOf.end() ? -1 : at->second;
    };
    for (const Prefix *p : byCreation) {
        HufNode &n = t.nodes[find(p->depth, p->value)];
        n = HufNode{p->weight, 0, -1, -1, -1, hufInternal, 0, 0};
        if (p->depth > 0) n.parent = find(p->depth - 1, p->value >> 1);
        if (p->word != nullptr) {
            n.type = p->word->type;
            n.value = p->word->value;
        } else {
            n.child0 = find(p->depth + 1, p->value << 1);
            n.child1 = find(p->depth + 1, p->value << 1 | 1);
        }
    }
    for (std::size_t k = 0; k < byOrder.size(); k++) {
        const int i = find(byOrder[k]->depth, byOrder[k]->value);
        t.nodes[i].order = static_cast<std::int32_t>(k + 1);
        t.order[k + 1] = i;
    }
    t.order[0] = 0;
    t.count = static_cast<std::int32_t>(byCreation.size());
}

int mdlPartner(const MdlTree &t, int b) {
    const std::int32_t w = t.nodes[b].weight;
    std::int32_t best = t.nodes[b].order;
    int f = b;
    for (int i = 0; i < t.count; i++) {
        if (t.nodes[i].weight == w && t.nodes[i].order > best) {
            f = i;
            best = t.nodes[i].order;
        }
    }
    return f;
}

void mdlUpdate(MdlTree &t, int leaf) {
    if (t.nodes[0].weight == full) {
        const int symbol = mdlSymbolOf(t.nodes[leaf]);
        mdlRebuild(t);
        leaf = mdlLeafOf(t, symbol);
    }
    for (int b = leaf; b != 0;) {
        const int f = mdlPartner(t, b);
        if (f != b) {
            HufNode &nb = t.nodes[b];
            HufNode &nf = t.nodes[f];
            const int pf = nf.parent;
            const int pb = nb.parent;
            if (t.nodes[pf].child0 == f) {
                t.nodes[pf].child0 = b;
            } else if (t.nodes[pf].child1 == f) {
                t.nodes[pf].child1 = b;
            }
            if (t.nodes[pb].child0 == b) {
                t.nodes[pb].child0 = f;
            } else if (t.nodes[pb].child1 == b) {
                t.nodes[pb].child1 = f;
            }
            nf.parent = pb;
            nb.parent = pf;
            const std::int32_t orderF = nf.order;
            nf.order = nb.order;
            nb.order = orderF;
            t.order[nf.order] = f;
            t.order[nb.order] = b;
            mark(t, f);
            mark(t, b);
        }
        t.nodes[b].weight++;
        b = t.nodes[b].parent;
    }
    t.nodes[0].weight++;
}

void mdlRebuild(MdlTree &t) {
    halve(t, 0);
    int next = 1;
    for (int k = 0; k < t.count; k++) {
        const HufNode &old = t.nodes[t.order[k]];
        if (old.type == hufInternal) continue;
        scratch[next++] = HufNode{old.weight, -1, -1, -1, -1, old.type, old.value, 0};
    }
    for (int i = next; i <= t.count; i++) {
        const int a = lightest(i, -1);
        const int b = lightest(i, a);
        scratch[i] =
            HufNode{scratch[a].weight + scratch[b].weight, -1, -1, a, b, hufInternal, 0, 0};
        scratch[a].parent = i;
        scratch[b].parent = i;
    }
    scratch[0] = scratch[t.count];
    scratch[scratch[0].child0].parent = 0;
    scratch[scratch[0].child1].parent = 0;
    std::memcpy(t.nodes, scratch, sizeof(HufNode) * static_cast<std::size_t>(t.count));

    const int levels = setLevels(t, 0, 0);
    int k = 1;
    for (int d = levels; d >= 0; d--) {
        int onLevel = 0;
        for (int i = 0; i < t.count; i++) onLevel += t.nodes[i].order == -d;
        for (; onLevel > 0; onLevel--) {
            std::int32_t bound = full;
            int found = -1;
            for (int i = 0; i < t.count; i++) {
                if (t.nodes[i].order == -d && t.nodes[i].weight < bound) {
                    bound = t.nodes[i].weight;
                    found = i;
                }
            }
            t.nodes[found].order = k;
            t.order[k++] = found;
        }
    }
}

int mdlSymbolOf(const HufNode &leaf) {
    return leaf.type == hufLiteral ? leaf.value : 256 + leaf.value - 3;
}

int mdlLeafOf(const MdlTree &t, int symbol) {
    for (int i = 0; i < t.count; i++) {
        if (t.nodes[i].type != hufInternal && mdlSymbolOf(t.nodes[i]) == symbol) return i;
    }
    return -1;
}

std::string mdlPathOf(const MdlTree &t, int node) {
    std::string path;
    for (int n = node; t.nodes[n].parent != -1 && path.size() <= hufNodeMax;
         n = t.nodes[n].parent) {
        path.insert(path.begin(), t.nodes[t.nodes[n].parent].child0 == n ? '0' : '1');
    }
    return path;
}

void mdlCopyNodeTable(MdlTree &t) {
    std::memcpy(t.nodes, nodeTable, sizeof t.nodes);
    std::memcpy(t.order, orderTable, sizeof t.order);
    t.count = nodeCount;
}

namespace {

std::string nodeText(const HufNode &n) {
    return "{w=" + std::to_string(n.weight) + " o=" + std::to_string(n.order) +
           " p=" + std::to_string(n.parent) + " c0=" + std::to_string(n.child0) +
           " c1=" + std::to_string(n.child1) + " t=" + std::to_string(n.type) +
           " v=" + std::to_string(n.value) + " m=" + std::to_string(n.moved) + "}";
}

} // namespace

std::string mdlTreeDiff(const MdlTree &a, const MdlTree &b) {
    if (a.count != b.count)
        return "node count " + std::to_string(a.count) + " vs " + std::to_string(b.count);
    for (int i = 0; i < a.count; i++) {
        const HufNode &x = a.nodes[i];
        const HufNode &y = b.nodes[i];
        if (x.weight != y.weight || x.order != y.order || x.parent != y.parent ||
            x.child0 != y.child0 || x.child1 != y.child1 || x.type != y.type ||
            x.value != y.value || x.moved != y.moved) {
            return "node " + std::to_string(i) + " " + nodeText(x) + " vs " + nodeText(y);
        }
    }
    for (int k = 0; k <= a.count; k++) {
        if (a.order[k] != b.order[k]) return "order table at " + std::to_string(k);
    }
    return "";
}
