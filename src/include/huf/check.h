#pragma once
// The code tree's rules, checked on the live trees of both forms: by the
// tests, the fuzz targets and the checks build (configured with
// -DQUORLIN_CHECKS=ON), which runs them after every reset, count and rebuild
// and stops the program at the first broken rule.

// True in a checks build.
#ifdef QUORLIN_CHECKS
inline constexpr bool hufChecking = true;
#else
inline constexpr bool hufChecking = false;
#endif

// Each returns nullptr when the tree keeps every rule, else a short text
// naming the first rule broken, held in a buffer of the procedure's own
// until its next call.

// nodeTable and orderTable: links both ways, weights the sums of the
// children and never decreasing along order numbers, order numbers and
// orderTable inverse, siblings adjacent with child 0 lower, 314 distinct
// leaves, and the side tables of the partner search.
const char *hufTracedFault();

// The ordered tree, whole: links both ways, leaf marks and each symbol's
// leaf slot, weights, the root's sentinel and weight, every entry of the
// partner table (32768 of them), the walk's lookup table and rises.
const char *hufOrderedFault();

// What one update of the ordered tree can break: all of the above but the
// partner entries of weights no node has nor has just left (see
// ordered_check.cpp).
const char *hufOrderedUpdateFault();

// Stop the program with the fault on standard error when a check fails;
// what names the step just done ("count", "rebuild", "reset").
void hufCheckTraced(const char *what);
void hufCheckOrdered(const char *what);
void hufCheckOrderedUpdate();
