#pragma once
// The code-prefix table's upkeep for whole trees, called by the ordered
// tree's own sources when they lay a tree out or restore one.
#include "huf/prefix.h"

// Builds the table and the rises from the ordered tree as it stands.
void hufPrefixBuild();

// Keeps the current table as the starting tree's, and restores that copy
// (for the next item, whose tree is the starting one again).
void hufPrefixKeep();
void hufPrefixRestore();
