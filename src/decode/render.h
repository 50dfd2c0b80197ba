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

// renderByte for the decoder's loop: the common cases inline (printable
// ASCII, a lead byte to hold, a held lead completed into a printable pair),
// the others through renderBytes.
inline std::uint8_t *renderLiteral(std::uint8_t x, std::uint8_t *pendingLead, std::uint8_t *out) {
    const std::uint8_t lead = *pendingLead;
    if (lead == 0) {
        if (static_cast<unsigned>(x - 0x20) < 0x60) { // 0x20-0x7F
            *out = x;
            return out + 1;
        }
        // 0x81-0x9F and 0xE0-0xFC start a pair; 0xF0-0xF7 among them too.
        if (static_cast<unsigned>(x - 0x81) < 0x1F || static_cast<unsigned>(x - 0xE0) < 0x1D) {
            *pendingLead = x;
            return out;
        }
    } else if (static_cast<unsigned>(x - 0x40) < 0xBD && x != 0x7F && // trail 0x40-0xFC
               static_cast<unsigned>(lead - 0xF0) >= 8) {             // not user-defined
        *pendingLead = 0;
        out[0] = lead;
        out[1] = x;
        return out + 2;
    }
    return renderBytes(&x, 1, pendingLead, out);
}

// Bits n-1 down to 0 of value as '0' and '1' characters (n from 1 to 32),
// in one static buffer that the next call overwrites.
const char *bitString(std::int32_t value, int n);
