#include "window.h"

std::uint8_t ringBuffer[fmtWindowSize];

namespace {

std::uint8_t primedWindow[fmtWindowSize];
bool primedReady = false;

// Positions [dirtyStart, dirtyEnd) of the window differ from the primed
// window after an item; only they are restored for the next one. Short
// items, the common case, touch a few hundred bytes of the 4096.
int dirtyEnd = fmtWindowSize;
int dirtyStart = 0;

// The primed window: the fill, with the preset at its start.
void prime() {
    if (primedReady) return;
    std::memset(primedWindow, fmtWindowFill, sizeof primedWindow);
    std::memcpy(primedWindow, presetText, presetSize);
    primedReady = true;
}

// Whether the run's first 4096 bytes differ from the primed window laid out
// as a run (never laid down, or moved over since).
bool runStale = true;

} // namespace

std::uint8_t decRun[fmtWindowSize + decRunSpan + decRunOver];

void decWindowReset() {
    prime();
    std::memcpy(ringBuffer + dirtyStart, primedWindow + dirtyStart,
                static_cast<std::size_t>(dirtyEnd - dirtyStart));
}

// Every byte written lies in [fmtFirstWritePos, fmtFirstWritePos + written)
// until the write position wraps.
void decWindowNoteWritten(std::int64_t written) {
    if (written < fmtWindowSize - fmtFirstWritePos) {
        dirtyStart = fmtFirstWritePos;
        dirtyEnd = fmtFirstWritePos + static_cast<int>(written);
    } else {
        dirtyStart = 0;
        dirtyEnd = fmtWindowSize;
    }
}

std::uint8_t *decRunStart() {
    if (runStale) {
        prime();
        // The byte d back from the first write position is the ring's at
        // fmtFirstWritePos - d: from d = 4096 down to 1.
        std::memcpy(decRun, primedWindow + fmtFirstWritePos,
                    static_cast<std::size_t>(fmtWindowSize - fmtFirstWritePos));
        std::memcpy(decRun + fmtWindowSize - fmtFirstWritePos, primedWindow,
                    static_cast<std::size_t>(fmtFirstWritePos));
        runStale = false;
    }
    return decRun + fmtWindowSize;
}

std::uint8_t *decRunMove(std::uint8_t *at) {
    std::memmove(decRun, at - fmtWindowSize, fmtWindowSize);
    runStale = true;
    return decRun + fmtWindowSize;
}
