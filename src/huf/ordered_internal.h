#pragma once
// Shared by the sources of the ordered tree only.
#include "huf/ordered.h"

// Lays the walk's lookup table and the rises down for the whole live tree.
void hufLookupBuild();
