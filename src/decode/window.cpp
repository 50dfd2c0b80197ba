#include "window.h"

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
