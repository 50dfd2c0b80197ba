#pragma once
// The walk's lookup table's upkeep for whole trees, called by the ordered
// tree's own sources when they lay a tree out or restore one.
#include "huf/ordered_lookup.h"

// Builds the table and the rises from the ordered tree as it stands.
void hufLookupBuild();

// Keeps the current table as the starting tree's, and restores that copy
// (for the next item, whose tree is the starting one again).
void hufLookupKeep();
void hufLookupRestore();
