#include "window.h"

std::uint8_t decRun[fmtWindowSize + decRunSpan + decRunOver];

namespace {

// Whether the run's first 4096 bytes differ from the window before an item
// (never laid down, or moved over since).
bool runStale = true;

} // namespace

std::uint8_t *decRunStart() {
    if (runStale) {
        // The window before an item, by window position: the fill, with the
        // preset at its start.
        static std::uint8_t primed[fmtWindowSize];
        std::memset(primed, fmtWindowFill, sizeof primed);
        std::memcpy(primed, presetText, fmtPresetSize);
        // The byte d back from the first write position is the window's at
        // fmtFirstWritePos - d: from d = 4096 down to 1.
        std::memcpy(decRun, primed + fmtFirstWritePos,
                    static_cast<std::size_t>(fmtWindowSize - fmtFirstWritePos));
        std::memcpy(decRun + fmtWindowSize - fmtFirstWritePos, primed,
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
