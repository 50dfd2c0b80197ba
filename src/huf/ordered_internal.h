#pragma once
// Shared by the sources of the ordered tree only.
#include "huf/ordered.h"

// Lays the walk's lookup table and the rises down for the whole live tree.
void hufLookupBuild();

// nullptr when the lookup table and the rises say what a walk of the live
// tree's child links finds, else the first difference. It asks nothing else
// of the tree, so it holds also after exchanges of arbitrary subtrees.
const char *hufLookupFault();
