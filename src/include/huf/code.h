#pragma once
// The adaptive code's fixed shape, shared by both forms of the tree: the
// nodes, the starting code, and the bounds its adaptation keeps to.
#include <cstdint>

#include "format/format.h"

// 314 leaves (the symbols: 256 byte values, 58 match lengths) and the 313
// internal nodes that join them; order numbers run 1 to 627, the root last.
inline constexpr int hufLeafCount = fmtSymbolCount;
inline constexpr int hufSymbolCount = hufLeafCount;
inline constexpr int hufNodeMax = 2 * hufLeafCount - 1;

enum : std::uint8_t { hufInternal = 0, hufLiteral = 1, hufLength = 2 };

// Root weight at which the tree is rebuilt from halved weights, before the
// symbol is counted: no node ever weighs more.
inline constexpr int hufWeightFull = 0x8000;

// The margin of the trusting walk: codes are read from a word holding
// hufDepthMax bits. A bound on the deepest leaf of any tree the update or
// the rebuild makes:
//
// Siblings hold adjacent order numbers, and a node's order number is above
// its children's, so a node's sibling ranks above both of its children and,
// as weights never decrease along order numbers, weighs at least as much as
// either. Going up from a leaf (weight 1 or more), the weight j levels up is
// then at least the sum of the two below it: at least F(j + 2) (Fibonacci,
// F(2) = 1, F(3) = 2). The root above a leaf at depth d weighs at most
// 0x8000 = 32768 when the tree is read, which is below F(24) = 46368, so
// d + 2 <= 23: 21 levels.
//
// That chain has 22 leaves; the tree has 314, and they bound it tighter.
// A tree kept in this order (the sibling property) is a Huffman tree of its
// leaf weights, so no node weighs more than a shallower one: exchanging the
// two would shorten the weighted code. Level by level from the deepest, all
// leaves: every node weighs at least the heaviest node of the level below;
// a level's heaviest node at least the heaviest below plus the lightest
// below (its parent does), and at least the level's average; a level weighs
// the level below plus its own leaves. Over every spread of the 314 leaves
// over the levels these bounds put the root above a leaf 21 levels down at
// 34,595 or more: above 0x8000, so no code is longer than 20 bits. A leaf
// 20 levels down they allow from 22,070 on; whether any tree that deep
// stays under 0x8000 is open. The deepest found: a tree 18 levels deep
// weighs 23,847 (a Fibonacci chain 1, 1, 1, 2, ..., 34 under 97 leaves of
// 55 and 207 of 89), and the update, counting to those weights one symbol
// at a time heaviest first, builds one 17 levels deep. Both are tests
// (tests/huf/depth_test.cpp). So 21 keeps one bit or more to spare; 20
// would be enough, and the decoder's speed decides whether to take it.
inline constexpr int hufDepthMax = 21;

// The starting code: rows of consecutive codes of one length, each code's
// symbol the next value of the row's kind. 198 eight-bit codes, then 116
// nine-bit codes beginning exactly where the eight-bit ones end (0xC6 * 2 =
// 0x18C), so that the code space is full.
struct CodeRange {
    std::int32_t firstCode;
    std::int32_t lastCode;
    std::int32_t codeBits;
    std::uint8_t symbolType;
    std::uint8_t firstValue;
};
inline constexpr CodeRange codeRangeTable[3] = {
    {0x000, 0x08B, 8, hufLiteral, 0x74}, // bytes 0x74-0xFF
    {0x08C, 0x0C5, 8, hufLength, 3},     // lengths 3-60
    {0x18C, 0x1FF, 9, hufLiteral, 0x00}, // bytes 0x00-0x73
};
// The deepest level the starting code reaches.
inline constexpr int hufStartDepth = 9;
