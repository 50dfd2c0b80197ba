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

} // namespace

void decWindowReset() {
    if (!primedReady) {
        std::memset(primedWindow, fmtWindowFill, sizeof primedWindow);
        std::memcpy(primedWindow, presetText, presetSize);
        primedReady = true;
    }
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
