#pragma once
// The decoding loops' window, kept as a run of text: first the 4096 bytes
// the window holds before an item (the fill, with the preset at window
// position 0), in the order of their distance back from the first write
// position (the farthest first), then the item's bytes as they are decoded.
// A match's source is then always the bytes f + 1 before the write
// position, in one piece: no copy wraps, and one that does not overlap its
// source may write past its end, where nothing is kept yet. When the run
// nears its end, the last 4096 bytes move to the front.
#include <cstdint>
#include <cstring>

#include "format/format.h"

// The bytes of text written between two moves.
inline constexpr int decRunSpan = 65536;
// How far a match may write past its end: its 16-byte blocks, rounded up.
inline constexpr int decRunOver = 64;
static_assert(fmtMaxMatch <= decRunOver);
extern std::uint8_t decRun[fmtWindowSize + decRunSpan + decRunOver];

// A checks build (QUORLIN_CHECKS) stops at a match written outside the run,
// which a write position not brought back by decRunKeep would reach.
#ifdef QUORLIN_CHECKS
inline constexpr bool decChecking = true;
#else
inline constexpr bool decChecking = false;
#endif
[[noreturn]] void decRunFault(const std::uint8_t *at);

// Starts an item: returns where its first byte goes.
std::uint8_t *decRunStart();
// Moves the last 4096 bytes before at to the front; returns the write
// position after them.
std::uint8_t *decRunMove(std::uint8_t *at);

// The write position at, after the bytes of one symbol: moved back to the
// front when less room than one match is left.
inline std::uint8_t *decRunKeep(std::uint8_t *at) {
    if (at > decRun + fmtWindowSize + decRunSpan - fmtMaxMatch) [[unlikely]]
        return decRunMove(at);
    return at;
}

// Copies a match of len bytes (3 to 60) from f + 1 bytes back to at and
// returns its source, which then holds the same bytes: rendering them from
// there does not wait for the copy's stores when the two do not overlap.
// Then the copy is four 16-byte blocks, all read before any is written.
// Else the source overlaps the copy and repeats, byte by byte.
inline const std::uint8_t *decRunCopy(std::uint8_t *at, int f, int len) {
    if constexpr (decChecking) {
        if (at < decRun + fmtWindowSize || at + decRunOver > decRun + sizeof decRun)
            decRunFault(at);
    }
    const std::uint8_t *src = at - f - 1;
    if (f + 1 >= len) {
        std::uint8_t block[decRunOver];
        std::memcpy(block, src, decRunOver);
        std::memcpy(at, block, decRunOver);
    } else {
        for (int i = 0; i < len; i++) at[i] = src[i];
    }
    return src;
}
