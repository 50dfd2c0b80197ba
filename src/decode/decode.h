#pragma once
// The item decoder: the sliding window primed with the preset, the tree walk
// and the copies, with the rendered text and the traces on standard output.
#include <cstdint>

// Decodes the selected item (itemSelect) and prints it as one line. verbose
// >= 1 traces every symbol, verbose >= 2 also every exchange of the tree;
// dump prints the whole tree after every symbol. The traces walk nodeTable,
// which the caller resets (hufInitTree) before each traced item; plain
// decoding starts every item from its own copy of the starting tree and
// needs no reset. 0 when the decoded length was reached, -1 when the item's
// bits ran out first.
int hufDecode(std::int32_t length, int verbose, int dump);
