// The rules of the ordered tree, checked on the live tree from its own
// tables alone.
#include <cstdint>
#include <cstdio>

#include "check_internal.h"
#include "huf/check.h"
#include "ordered_internal.h"

namespace {

// The weight of a position, the root's kept apart.
int weightAt(int k) {
    return k == hufRootOrder ? hufOrderedTree.rootWeight : hufOrderedTree.weight[k];
}

// Links both ways, leaf marks and each symbol's leaf slot, weights (at least
// 1, internal ones the sums of their children, never decreasing along the
// positions below the root), and the root's sentinel, weight and parent.
const char *shapeFault() {
    const HufOrdered &t = hufOrderedTree;
    if (t.rootWeight < 1 || t.rootWeight > hufWeightFull)
        return hufFaultText("root weight %d", t.rootWeight);
    if (t.weight[hufRootOrder] != UINT16_MAX)
        return hufFaultText("root's weight entry %d, not the sentinel", t.weight[hufRootOrder]);
    if (t.parent[hufRootOrder] != 0)
        return hufFaultText("root's parent %d", t.parent[hufRootOrder]);
    bool seen[hufSymbolCount] = {};
    int leaves = 0;
    for (int k = 1; k <= hufRootOrder; k++) {
        const int c = t.child[k];
        if (k < hufRootOrder) {
            const int p = t.parent[k];
            // A parent above its children: the climb from any position ends
            // at the root.
            if (p <= k || p > hufRootOrder || (t.child[p] != k && t.child[p] + 1 != k))
                return hufFaultText("position %d: parent %d does not hold it", k, p);
            if (t.weight[k] < 1) return hufFaultText("position %d: weight 0", k);
            if (k + 1 < hufRootOrder && t.weight[k] > t.weight[k + 1])
                return hufFaultText("position %d: weight %d above the next one's", k, t.weight[k]);
        }
        if (c >= hufLeafMark) {
            const int symbol = (c - hufLeafMark) >> 1;
            if ((c - hufLeafMark) % 2 != 0 || symbol >= hufSymbolCount)
                return hufFaultText("position %d: leaf mark %d", k, c);
            if (seen[symbol]) return hufFaultText("position %d: symbol %d twice", k, symbol);
            seen[symbol] = true;
            leaves++;
            if (t.parent[c] != k)
                return hufFaultText("symbol %d: leaf slot %d, leaf at %d", symbol, t.parent[c], k);
            continue;
        }
        if (c < 1 || c + 1 >= hufRootOrder) return hufFaultText("position %d: child %d", k, c);
        if (t.parent[c] != k || t.parent[c + 1] != k)
            return hufFaultText("position %d: children's parents %d and %d", k, t.parent[c],
                                t.parent[c + 1]);
        if (weightAt(k) != t.weight[c] + t.weight[c + 1])
            return hufFaultText("position %d: weight %d, children %d and %d", k, weightAt(k),
                                t.weight[c], t.weight[c + 1]);
    }
    if (leaves != hufLeafCount) return hufFaultText("%d leaves", leaves);
    return nullptr;
}

const char *partnerEntryFault(int w, int want) {
    const int got = hufOrderedTree.partner[w];
    if (got == want) return nullptr;
    return hufFaultText("partner of weight %d: %d, not %d", w, got, want);
}

// partner[w] names the last position below the root of weight w or less,
// for every weight below 0x8000 (0 when there is none).
const char *partnerFault() {
    int last = 0;
    for (int w = 0; w < hufWeightFull; w++) {
        while (last + 1 < hufRootOrder && hufOrderedTree.weight[last + 1] <= w) last++;
        if (const char *f = partnerEntryFault(w, last)) return f;
    }
    return nullptr;
}

// The partner entries a count can have changed, for a tree whose entries
// were all right before it. Counting a node of weight w writes partner[w]
// only, and the position at its top, the only one that leaves the weights
// of w or less, is the one whose weight changes: so an entry's right value
// changes only when the entry is written. And every node counted then weighs
// w + 1. The entries of weights some node has, and of the weight just below
// each, are all a count can have written; the rest are as the last complete
// check (at the reset or the rebuild) found them. One pass over the runs of
// equal weight, instead of 32768 entries.
const char *countedPartnerFault() {
    const HufOrdered &t = hufOrderedTree;
    for (int first = 1; first < hufRootOrder;) {
        const int w = t.weight[first];
        int last = first;
        while (last + 1 < hufRootOrder && t.weight[last + 1] == w) last++;
        if (const char *f = partnerEntryFault(w, last)) return f;
        if (const char *f = partnerEntryFault(w - 1, first - 1)) return f;
        first = last + 1;
    }
    return nullptr;
}

// The rises a whole tree's top levels must have, laid down by following
// child links from the root.
std::uint8_t wantRise[hufNodeMax + 1];

void setRises(int pos, int rise) {
    wantRise[pos] = static_cast<std::uint8_t>(rise);
    const int c = hufOrderedTree.child[pos];
    if (rise == 0 || c >= hufLeafMark || c < 1 || c + 1 > hufNodeMax) return;
    setRises(c, rise - 1);
    setRises(c + 1, rise - 1);
}

} // namespace

const char *hufLookupFault() {
    const HufOrdered &t = hufOrderedTree;
    // Every prefix walked bit by bit from the root, first bit highest.
    for (unsigned v = 0; v < (1u << hufLookupBits); v++) {
        int pos = hufRootOrder;
        int used = 0;
        while (used < hufLookupBits && t.child[pos] < hufLeafMark) {
            const int c = t.child[pos];
            if (c < 1 || c + 1 > hufNodeMax) return hufFaultText("position %d: child %d", pos, c);
            pos = c + static_cast<int>((v >> (hufLookupBits - 1 - used)) & 1);
            used++;
        }
        const unsigned want = static_cast<unsigned>(pos * 16 + used);
        if (t.lookupEntry[v] != want)
            return hufFaultText("prefix %u: entry %d, the walk reaches position %d after %d bits",
                                v, t.lookupEntry[v], pos, used);
    }
    for (int k = 0; k <= hufRootOrder; k++) wantRise[k] = 0;
    setRises(hufRootOrder, hufLookupBits);
    for (int k = 1; k <= hufRootOrder; k++) {
        if (t.lookupRise[k] != wantRise[k])
            return hufFaultText("position %d: rise %d, not %d", k, t.lookupRise[k], wantRise[k]);
    }
    return nullptr;
}

const char *hufOrderedFault() {
    if (const char *f = shapeFault()) return f;
    if (const char *f = partnerFault()) return f;
    return hufLookupFault();
}

const char *hufOrderedUpdateFault() {
    if (const char *f = shapeFault()) return f;
    if (const char *f = countedPartnerFault()) return f;
    return hufLookupFault();
}
