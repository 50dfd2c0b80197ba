#pragma once
// A store's symbol sequence, recorded once, for the measurements that replay
// one half of the decoding loop without the other: the walk and the count of
// the code tree without bit input or rendering, and the window and the
// rendering without the tree.
#include <cstdint>
#include <string>
#include <vector>

struct BenchRecord {
    // Per symbol, in decoding order: the 64 item bits that start at the
    // symbol's code, first bit highest (the bits after the item's last used
    // one as 0), the symbol (0-255 bytes, 256 + n a match of n + 3), and a
    // match's distance value f (0 for a literal).
    std::vector<std::uint64_t> words;
    std::vector<std::uint16_t> symbols;
    std::vector<std::uint16_t> distances;
    // One past each item's last symbol.
    std::vector<std::uint32_t> itemEnds;
    std::uint64_t textBytes;
};

// Decodes every item of the store in dir with the traced tree (nodeTable,
// one bit per itemGetBits call), which the replays' ordered tree never
// reads, and records what it read. Exits with a message when the store
// cannot be read or an item's bits run out.
BenchRecord benchRecordStore(const std::string &dir);
