#pragma once
// Rendering of decoded bytes as one line of Shift-JIS text: printable ASCII
// and well-formed double-byte characters as they are, every other byte as a
// lowercase \x escape, so an item never spans several output lines.
#include <cstdint>

// Longest output of one byte: a held lead and its trail, both escaped.
inline constexpr int renderMaxBytes = 8;

// Renders byte x into out and returns the end of what it wrote (0 to 8
// bytes). *pendingLead is the held-back lead byte of the item, 0 for none.
std::uint8_t *renderByte(std::uint8_t x, std::uint8_t *pendingLead, std::uint8_t *out);

// renderByte for n bytes in a row. out needs room for 4 * n + 8 bytes
// (n * renderMaxBytes / 2 + renderMaxBytes): the bytes past the returned end
// within that room may be overwritten.
std::uint8_t *renderBytes(const std::uint8_t *bytes, int n, std::uint8_t *pendingLead,
                          std::uint8_t *out);

// Bits n-1 down to 0 of value as '0' and '1' characters (n from 1 to 32),
// in one static buffer that the next call overwrites.
const char *bitString(std::int32_t value, int n);
