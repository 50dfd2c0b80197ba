#pragma once
// The item decoder: the sliding window primed with the preset, the tree walk
// and the copies, with the rendered text and the traces on standard output.
#include <cstddef>
#include <cstdint>

// Decodes the selected item (itemSelect) and prints it as one line. verbose
// >= 1 traces every symbol, verbose >= 2 also every exchange of the tree;
// dump prints the whole tree after every symbol. Every item starts from the
// starting tree in either path: the caller needs no reset. 0 when the
// decoded length was reached, -1 when the item's bits ran out first.
int hufDecode(std::int32_t length, int verbose, int dump);

// Decodes the selected item like hufDecode without options, but stores the
// raw decoded bytes (up to capacity; *produced counts them all) instead of
// rendering them: the round trip of the encoder is checked through it. 0 or
// -1 as hufDecode.
int decRawToArray(std::int32_t length, std::uint8_t *out, std::size_t capacity,
                  std::size_t *produced);

// Where decRawToSink hands the raw decoded bytes: in order, in pieces of at
// most 64 KiB; 0 to go on, -1 to stop the item there.
using DecSink = int (*)(void *context, const std::uint8_t *bytes, std::size_t n);

// Decodes the selected item like decRawToArray, handing every decoded byte
// (those of a last match past the decoded length too) to sink. 0 or -1 as
// hufDecode, -2 when the sink stopped it. Needs no allocation, whatever
// the item's length.
int decRawToSink(std::int32_t length, DecSink sink, void *context);
