#pragma once
// The decoding loops' window: ringBuffer, primed with the preset before
// every item, and the bytes stored and copied in it.
#include <cstdint>
#include <cstring>

#include "format/format.h"

extern std::uint8_t ringBuffer[fmtWindowSize];

// Primes the window for an item: the fill with the preset at 0 to 1320,
// restored where the last item wrote.
void decWindowReset();
// Tells the window how many bytes the item stored (from fmtFirstWritePos).
void decWindowNoteWritten(std::int64_t written);

// Stores a literal at write position w.
inline void decPutLiteral(int &w, std::uint8_t c) {
    if (w == fmtWindowSize) w = 0;
    ringBuffer[w++] = c;
}

// Copies a match of len bytes (3 to 60) from f + 1 bytes back to write
// position w and returns the copied bytes in one piece: in the window
// itself, or, when the copy wraps, in a scratch array of the longest match.
inline const std::uint8_t *decCopyMatch(int &w, int f, int len) {
    static std::uint8_t wrapped[fmtMaxMatch];
    if (w == fmtWindowSize) w = 0;
    int src = w - f - 1;
    if (src < 0) src += fmtWindowSize;
    if (src + len <= fmtWindowSize && w + len <= fmtWindowSize && (src >= w || src + len <= w)) {
        // Neither end wraps and the source is not the bytes being written:
        // one move does what the byte loop would.
        std::memmove(ringBuffer + w, ringBuffer + src, static_cast<std::size_t>(len));
        const std::uint8_t *copied = ringBuffer + w;
        w += len;
        return copied;
    }
    // Byte by byte: a source that overlaps its own output repeats it.
    for (int i = 0; i < len; i++) {
        if (src == fmtWindowSize) src = 0;
        if (w == fmtWindowSize) w = 0;
        ringBuffer[w] = ringBuffer[src];
        wrapped[i] = ringBuffer[w];
        src++;
        w++;
    }
    return wrapped;
}
