#pragma once
// Seams of the encoder for its tests and the benchmark.
#include <cstddef>
#include <cstdint>

#include "encode/encode.h"
#include "format/format.h"

// --- History and match finder -------------------------------------------
// Positions count in one line: 0 to 4095 is the primed window, oldest first
// (the decoder writes its first byte at fmtFirstWritePos, so that byte is
// the oldest: preset bytes 612-1320, the fill, preset bytes 0-611), then
// 4096 + k is byte k of the item's text.
inline constexpr std::int64_t encTextStart = fmtWindowSize;

// Starts an item's history; text must stay valid until the item is done.
void encHistoryBegin(const std::uint8_t *text, std::size_t n);
// The byte at a position (any of 0 to 4095 + n).
std::uint8_t encHistoryByte(std::int64_t pos);

struct EncMatch {
    int len; // 3 to 60
    int f;   // distance value: the source starts f + 1 bytes back
};
// Matches at pos (4096 or more) whose source starts at most 4096 bytes back,
// in rising length, each the nearest source for its length: out[i].len is the
// longest length whose nearest source is out[i].f. At most maxLen long (60
// or less) and never past the text's end. At most chainLimit sources are
// looked at. Returns the count (0 to 58). Positions must be searched in
// rising order; each must be entered with encHistoryInsert before the next
// is searched.
int encFindMatches(std::int64_t pos, int maxLen, int chainLimit, EncMatch *out);
// Makes pos a source for later positions (positions in rising order, each
// once; ones whose three bytes pass the text's end are ignored).
void encHistoryInsert(std::int64_t pos);

// Slow, obviously correct counterpart of encFindMatches: compares every
// source of the window byte by byte. Same results when chainLimit is large
// enough to reach every source with the same first three bytes.
int encFindMatchesFullScan(std::int64_t pos, int maxLen, EncMatch *out);

// --- Parse ---------------------------------------------------------------
// How an item is cut into literals and matches: the cheapest path in bits
// under the code lengths of the moment (the default), or the longest match
// at every step (greedy, faster, the baseline the cost parse is weighed
// against).
enum EncParse { encParseCost, encParseGreedy };
void encSetParse(EncParse parse);
// Sources looked at per position (default 48): more finds nearer or longer
// matches at the price of speed.
void encSetChainLimit(int limit);

// The symbols of the last item coded, in order, for the tests: a literal is
// len 0 with the byte in f; a match its length and distance value.
struct EncSymbol {
    int len;
    int f;
};
// Records symbols into buffer (up to capacity; the count of all is kept)
// while coding the next items; nullptr stops recording.
void encRecordSymbols(EncSymbol *buffer, std::size_t capacity);
std::size_t encRecordedSymbols();
