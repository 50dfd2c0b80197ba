// The checks build's stop at the first broken rule of either tree.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "check_internal.h"
#include "huf/check.h"

const char *hufFaultText(const char *format, ...) {
    static char text[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

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
