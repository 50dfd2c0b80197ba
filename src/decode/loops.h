#pragma once
// The decoder's two loops, each with one job: the plain loop (printed text,
// or raw bytes for the round trip) on the tree laid out by order number, and
// the traced loop on nodeTable for the symbol trace, the exchanges and the
// tree dumps.
#include <cstddef>
#include <cstdint>

#include "decode/decode.h"
#include "format/format.h"
#include "render.h"

// The most bytes one symbol prints: a match of the longest length, every
// byte escaped (4 bytes), and a lead held from the symbol before that the
// first byte completes into an escaped pair (8 bytes for one byte): 4 per
// byte and 4 more, plus the room renderBytes may overwrite past its end.
inline constexpr std::size_t decSymbolOutMax = fmtMaxMatch * renderMaxBytes / 2 + renderMaxBytes;

// Plain decoding of the selected item, printed (hufDecode without options);
// its raw form is decRawToSink. 0 when the decoded length was reached, -1
// when the item's bits ran out first.
int decPlain(std::int32_t length);

// Traced decoding of the selected item on nodeTable, reset first
// (hufInitTree).
int decTraced(std::int32_t length, int verbose, int dump);
