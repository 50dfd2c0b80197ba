#pragma once
// Shared by the sources of the ordered tree only.
#include "huf/ordered.h"

// Laying a whole tree out, for the starting tree and the rebuild: a leaf at
// position k, an internal node at k over its children at c and c + 1, and,
// once every position is placed, the root's weight set apart (a sentinel
// takes its place), the partner table filled from the sorted weights and the
// walk's lookup table laid down.
void hufOrderedPlaceLeaf(int k, int symbol, int weight);
void hufOrderedPlaceInternal(int k, int c, int weight);
void hufOrderedFinish();
