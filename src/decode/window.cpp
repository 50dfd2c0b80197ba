#include "window.h"

#include <cstdio>
#include <cstdlib>

std::uint8_t decRun[fmtWindowSize + decRunSpan + decRunOver];

namespace {

// Whether the run's first 4096 bytes differ from the window before an item
// (never laid down, or moved over since).
bool runStale = true;

} // namespace

std::uint8_t *decRunStart() {
    if (runStale) {
        fmtPrimeWindow(decRun);
        runStale = false;
    }
    return decRun + fmtWindowSize;
}

std::uint8_t *decRunMove(std::uint8_t *at) {
    std::memmove(decRun, at - fmtWindowSize, fmtWindowSize);
    runStale = true;
    return decRun + fmtWindowSize;
}

void decRunFault(const std::uint8_t *at) {
    std::fprintf(stderr, "check failed: a match written at %td of the decoder's run of %zu bytes\n",
                 at - decRun, sizeof decRun);
    std::abort();
}
