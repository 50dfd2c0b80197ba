#pragma once
// The store format's fixed numbers, in one place for the decoder, the encoder
// and their tests: the window and its bytes before an item, the symbol
// alphabet, the position code, and the layouts of an item's header and of an
// index record.
#include <cstdint>

#include "format/preset.h"

// --- Window ---------------------------------------------------------------
// Every item is decoded over a 4096-byte window filled with 0x40, with the
// preset at positions 0 to 1320. Writing starts at 612, not at the preset's
// end: bytes 0-611 are the most recent history, and the preset's tail is
// reachable only at long distances until it is overwritten.
inline constexpr int fmtWindowSize = 4096;
inline constexpr std::uint8_t fmtWindowFill = 0x40;
inline constexpr int fmtFirstWritePos = 612;
// The first write lands inside the preset, so its tail is the oldest history.
static_assert(fmtFirstWritePos < fmtPresetSize);

// Writes the window before an item, fmtWindowSize bytes, in the order of
// distance back from the first write position, the farthest first: out[i]
// is window position (fmtFirstWritePos + i) mod 4096, and an item's first
// match reads from out[4095 - f].
void fmtPrimeWindow(std::uint8_t *out);

// --- Symbols --------------------------------------------------------------
// Symbols 0-255 are the byte values; 256 + n is a match of n + 3 bytes.
inline constexpr int fmtMinMatch = 3;
inline constexpr int fmtMaxMatch = 60;
inline constexpr int fmtLiteralCount = 256;
inline constexpr int fmtSymbolCount = fmtLiteralCount + fmtMaxMatch - fmtMinMatch + 1;

constexpr int fmtLengthSymbol(int len) {
    return fmtLiteralCount + len - fmtMinMatch;
}

// --- Position code ----------------------------------------------------------
// A match's distance value f (0 to 4095; the copy source lies f + 1 bytes
// back) is written as a 5-bit prefix and a class's count of extra bits. The
// code's value is f + bias; the six classes, nearest first, tile f = 0 to
// 4095 and the prefixes 0 to 31, so that near distances cost fewer bits.
struct FmtPositionClass {
    char letter; // the class as the symbol trace names it
    std::int16_t firstF;
    std::int16_t bias; // code value = f + bias
    std::uint8_t extraBits;
};
inline constexpr FmtPositionClass fmtPositionClasses[6] = {
    {'f', 0, 0x0000, 4},    // prefixes 0-3
    {'e', 64, 0x0040, 5},   // prefixes 4-9
    {'d', 256, 0x0180, 6},  // prefixes 10-17
    {'c', 768, 0x0600, 7},  // prefixes 18-23
    {'b', 1536, 0x1200, 8}, // prefixes 24-29
    {'a', 3072, 0x3000, 9}, // prefixes 30-31
};
inline constexpr int fmtPrefixBits = 5;
inline constexpr int fmtDistanceCount = 4096;
// Every window position is within reach.
static_assert(fmtDistanceCount == fmtWindowSize);

// The class of distance value f (0 to 4095).
constexpr const FmtPositionClass &fmtPositionClassOf(int f) {
    int c = 5;
    while (c > 0 && f < fmtPositionClasses[c].firstF) c--;
    return fmtPositionClasses[c];
}

// The code of f: its value (prefix and extra bits together) and bit count.
struct FmtPositionCode {
    int value;
    int bits;
};
constexpr FmtPositionCode fmtPositionCodeOf(int f) {
    const FmtPositionClass &c = fmtPositionClassOf(f);
    return {f + c.bias, fmtPrefixBits + c.extraBits};
}

// For decoding, the same classes by prefix: the extra bits that follow it, and
// f when they are all 0 (within a prefix f rises by one per step of them).
struct FmtPrefix {
    std::uint8_t extraBits;
    std::uint8_t classIndex;
    std::int16_t baseF;
};
struct FmtPrefixTable {
    FmtPrefix of[1 << fmtPrefixBits];
    constexpr FmtPrefixTable() : of() {
        for (int c = 0; c < 6; c++) {
            const FmtPositionClass &k = fmtPositionClasses[c];
            const int end = c + 1 < 6 ? fmtPositionClasses[c + 1].firstF : fmtDistanceCount;
            for (int f = k.firstF; f < end; f += 1 << k.extraBits) {
                const int prefix = (f + k.bias) >> k.extraBits;
                of[prefix] = {k.extraBits, static_cast<std::uint8_t>(c),
                              static_cast<std::int16_t>(f)};
            }
        }
    }
};
inline constexpr FmtPrefixTable fmtPrefixes;

// --- Item header and index record ---------------------------------------------
// An item in item.dat: 2 bytes not interpreted, the decoded length (signed
// 32-bit, little-endian), then the bit stream, most significant bit first.
inline constexpr int fmtHeaderSize = 6;
inline constexpr int fmtDecodedLengthAt = 2;

// A record of itemloc.dat, record n at byte 16 n: the item's offset in
// item.dat and its stored length (header included), both unsigned 32-bit
// big-endian, then 8 bytes not interpreted.
inline constexpr int fmtRecordSize = 16;
inline constexpr int fmtOffsetAt = 0;
inline constexpr int fmtStoredAt = 4;

// Readers take item numbers, offsets, stored and decoded lengths as signed
// 32-bit numbers: the last item number is 2^31 - 1, and so are the farthest
// offset an item can start at and the longest length, stored or decoded.
inline constexpr std::int64_t fmtItemNumberMax = 0x7FFFFFFF;
inline constexpr std::int64_t fmtLengthMax = 0x7FFFFFFF;

constexpr std::uint32_t fmtBigEndian32(const std::uint8_t *p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}
constexpr std::uint32_t fmtLittleEndian32(const std::uint8_t *p) {
    return p[0] | static_cast<std::uint32_t>(p[1]) << 8 | static_cast<std::uint32_t>(p[2]) << 16 |
           static_cast<std::uint32_t>(p[3]) << 24;
}
constexpr void fmtPutBigEndian32(std::uint8_t *p, std::uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}
constexpr void fmtPutLittleEndian32(std::uint8_t *p, std::uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
