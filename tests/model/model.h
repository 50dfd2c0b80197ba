#pragma once
// The literal model of the decoder, for the tests, the benchmark and the fuzz
// target: the code tree laid down, updated and rebuilt step by step as the
// format defines it, with a full scan wherever the product keeps a table,
// and a decoding loop that takes one bit per itemGetBits call over a window
// of its own. Slow and plain on purpose; nothing in the product calls it,
// and the product's fast paths are held against it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "huf/traced.h"

// A code tree in the product's node layout, held apart from nodeTable.
struct MdlTree {
    HufNode nodes[hufNodeMax];
    std::int32_t order[hufNodeMax + 1]; // order number -> node index; entry 0 names the root
    std::int32_t count;
};

// The starting tree, derived from its code words as a set of prefixes
// rather than laid down path by path as the product does, and numbered
// deepest level first, left to right.
void mdlInitTree(MdlTree &t);
// The exchange partner of node b: the node of b's weight with the highest
// order number, found by scanning every node; b itself when none ranks above.
int mdlPartner(const MdlTree &t, int b);
// Counts the symbol at the leaf: the rebuild first when the root weight is
// 0x8000, then up to the root with an exchange wherever the partner is
// another node, both exchanged subtrees marked as moved.
void mdlUpdate(MdlTree &t, int leaf);
// The rebuild from halved weights with a full selection scan per choice.
void mdlRebuild(MdlTree &t);
// The lowest node index holding the symbol (0-255 bytes, 256 + n length n + 3).
int mdlLeafOf(const MdlTree &t, int symbol);
// The symbol of a leaf.
int mdlSymbolOf(const HufNode &leaf);
// The bits that lead from the root to the node, as '0' and '1'.
std::string mdlPathOf(const MdlTree &t, int node);

// nodeTable and orderTable copied into a model tree, and the first
// difference between two trees, every field and the order table compared
// ("" when they are equal).
void mdlCopyNodeTable(MdlTree &t);
std::string mdlTreeDiff(const MdlTree &a, const MdlTree &b);

// Decodes the selected item (itemSelect) from the starting tree, which it
// lays down in t, and stores the raw bytes (up to capacity; *produced counts
// them all). 0 when the decoded length was reached, -1 when the bits ran
// out first. With symbols, every decoded symbol is appended to it.
int mdlDecodeRaw(MdlTree &t, std::int32_t length, std::uint8_t *out, std::size_t capacity,
                 std::size_t *produced, std::vector<int> *symbols = nullptr);

// A tree described by order number alone, the way both forms of the
// product's tree can be compared: for every order number 1 to 627 its
// weight, the order number of its parent (0 for the root), and either the
// order numbers of its two children or, for a leaf, -1 and its symbol.
// Exchange marks are left out.
struct MdlShape {
    std::vector<std::int32_t> fields;
};
MdlShape mdlShapeOf(const MdlTree &t);
// The tree the plain decoder and the encoder hold (the tree laid out by
// order number), written back into the same description.
MdlShape mdlShapeOfFast();
std::string mdlShapeDiff(const MdlShape &a, const MdlShape &b);
