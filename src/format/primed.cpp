// The window before an item, laid out once for the decoder's run and the
// encoder's history, which both keep it oldest byte first.
#include <cstring>

#include "format/format.h"

void fmtPrimeWindow(std::uint8_t *out) {
    // Window positions fmtFirstWritePos to 4095 first: the preset's tail,
    // then the fill; then positions 0 to fmtFirstWritePos - 1, the preset's
    // head, which the first write follows.
    constexpr int presetTail = fmtPresetSize - fmtFirstWritePos;
    std::memcpy(out, presetText + fmtFirstWritePos, presetTail);
    std::memset(out + presetTail, fmtWindowFill, fmtWindowSize - fmtPresetSize);
    std::memcpy(out + fmtWindowSize - fmtFirstWritePos, presetText, fmtFirstWritePos);
}
