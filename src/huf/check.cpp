// The checks build's stop at the first broken rule of either tree.
#include <cstdio>
#include <cstdlib>

#include "huf/check.h"

namespace {

[[noreturn, gnu::cold]] void broken(const char *form, const char *what, const char *fault) {
    std::fprintf(stderr, "quorlin: the %s tree broke a rule at a %s: %s\n", form, what, fault);
    std::abort();
}

} // namespace

void hufCheckTraced(const char *what) {
    if (const char *fault = hufTracedFault()) broken("traced", what, fault);
}

void hufCheckOrdered(const char *what) {
    if (const char *fault = hufOrderedFault()) broken("ordered", what, fault);
}

void hufCheckOrderedUpdate() {
    if (const char *fault = hufOrderedUpdateFault()) broken("ordered", "count", fault);
}
