#pragma once
// The two halves of the plain decoding loop, each run alone over a recorded
// symbol sequence: their times, beside the whole loop's, show what each half
// costs and how far the decoder is from the cost of its own tree.
#include <cstdint>

#include "record.h"

// The tree's half: per item, the reset of the ordered tree, then for every
// recorded symbol the walk from its recorded word to a leaf and the count of
// that leaf. No bit input, no position code, no window, no output. Returns a
// sum of the symbols walked to, the same on every run.
std::uint64_t benchReplayTree(const BenchRecord &r);

// benchReplayTree once, each walk's leaf compared with the recorded symbol;
// exits with a message at the first difference, so that a replay that walks
// a wrong tree is never timed. Returns the sum benchReplayTree returns.
std::uint64_t benchCheckReplayTree(const BenchRecord &r, const char *name);

// The other half: per item, the window primed, then every recorded symbol
// stored in the window (a literal) or copied there (a match) and its bytes
// rendered into the output buffer of the text stream, with the item's line
// end, as the loop does. No tree, no bit input. The caller flushes.
void benchReplayRender(const BenchRecord &r);
