#include "record.h"

#include <cstdio>
#include <cstdlib>

#include "format/format.h"
#include "huf/traced.h"
#include "item/item.h"

namespace {

// The bits of one item as read, packed first bit highest, so that the word
// of any symbol can be cut out once the item is done.
struct ItemBits {
    std::vector<std::uint64_t> packed;
    std::uint64_t count;
};

[[noreturn]] void fail(const std::string &dir, const char *what) {
    std::fprintf(stderr, "quorlin_bench: recording %s: %s\n", dir.c_str(), what);
    std::exit(1);
}

// The next k bits of the item, kept in bits as well.
std::int32_t take(ItemBits &bits, int k, const std::string &dir) {
    const std::int32_t v = itemGetBits(k);
    if (v < 0) fail(dir, "an item's bits ran out");
    for (int i = k - 1; i >= 0; i--) {
        const std::uint64_t at = bits.count++;
        if ((at >> 6) >= bits.packed.size()) bits.packed.push_back(0);
        bits.packed[at >> 6] |= static_cast<std::uint64_t>((v >> i) & 1) << (63 - (at & 63));
    }
    return v;
}

// The 64 bits from bit at on.
std::uint64_t wordAt(const ItemBits &bits, std::uint64_t at) {
    const std::size_t i = at >> 6;
    const unsigned shift = at & 63;
    const std::uint64_t next = i + 1 < bits.packed.size() ? bits.packed[i + 1] : 0;
    return shift == 0 ? bits.packed[i] : bits.packed[i] << shift | next >> (64 - shift);
}

} // namespace

BenchRecord benchRecordStore(const std::string &dir) {
    BenchRecord r{};
    if (itemOpenAt(dir.c_str()) < 0) fail(dir, "the store cannot be opened");
    ItemBits bits{};
    std::vector<std::uint64_t> starts;
    for (std::int32_t j = 0;; j++) {
        const std::int32_t length = itemSelect(j);
        if (length < 0) break;
        hufInitTree();
        bits.packed.clear();
        bits.count = 0;
        starts.clear();
        for (std::int32_t remaining = length; remaining > 0;) {
            starts.push_back(bits.count);
            int node = 0;
            while (nodeTable[node].type == hufInternal) {
                node = take(bits, 1, dir) ? nodeTable[node].child1 : nodeTable[node].child0;
            }
            const HufNode &leaf = nodeTable[node];
            int f = 0;
            if (leaf.type == hufLiteral) {
                r.symbols.push_back(leaf.value);
                remaining -= 1;
            } else {
                const FmtPrefix &code = fmtPrefixes.of[take(bits, fmtPrefixBits, dir)];
                f = take(bits, code.extraBits, dir) + code.baseF;
                r.symbols.push_back(static_cast<std::uint16_t>(fmtLengthSymbol(leaf.value)));
                remaining -= leaf.value;
            }
            r.distances.push_back(static_cast<std::uint16_t>(f));
            hufUpdate(node, 0);
        }
        for (const std::uint64_t at : starts) r.words.push_back(wordAt(bits, at));
        r.itemEnds.push_back(static_cast<std::uint32_t>(r.symbols.size()));
        r.textBytes += static_cast<std::uint64_t>(length);
    }
    itemClose();
    return r;
}
