#pragma once
// The benchmark's stores: the synthetic corpus packed in three shapes.
#include <cstddef>
#include <cstdint>
#include <string>

enum BenchShape {
    // One dictionary entry per item: a few hundred bytes each, tens of
    // thousands of items, so per-item costs weigh heavily.
    entryPerItem,
    // Entries joined into items of about 10 KB.
    largeItems,
    // The whole corpus as one item: the tree adapts over the whole text and
    // per-item costs vanish, which leaves the walk and the update alone.
    singleItem,
};

inline constexpr BenchShape benchShapes[] = {entryPerItem, largeItems, singleItem};

// The shape's name, also its subfolder under --make-stores: "entries",
// "large" or "single".
const char *benchShapeName(BenchShape shape);

struct BenchStore {
    std::string dir;
    std::uint64_t textBytes;  // the decoded text of all items
    std::uint64_t storeBytes; // itemloc.dat + item.dat
    std::uint64_t items;
    double packSeconds;
};

// Packs about textBytes of corpus text (seed 1) in the given shape into dir.
BenchStore benchMakeStore(const std::string &dir, BenchShape shape, std::uint64_t textBytes);
