#include "render.h"

#include <bit>
#include <cstring>

namespace {

// userLead: a lead in the user-defined range 0xF0-0xF7, which escapes itself
// and its trail whatever the trail is.
enum : std::uint8_t { asIs = 0, leadByte = 1, escaped = 2, userLead = 3 };

constexpr int kindOf(int x) {
    if (x >= 0x20 && x <= 0x7F) return asIs; // 0x7F (DEL) too
    if (x >= 0xF0 && x <= 0xF7) return userLead;
    if ((x >= 0x81 && x <= 0x9F) || (x >= 0xE0 && x <= 0xFC)) return leadByte;
    return escaped; // controls, 0x80, half-width katakana 0xA0-0xDF, 0xFD-0xFF
}

// A trail byte outside 0x40-0xFC, the gap at 0x7F, or a lead in the
// user-defined range 0xF0-0xF7 makes the pair unprintable.
constexpr bool printablePair(std::uint8_t lead, std::uint8_t trail) {
    return trail >= 0x40 && trail != 0x7F && trail <= 0xFC && (lead < 0xF0 || lead > 0xF7);
}

// trailOk: the byte completes a printing lead into a printable pair.
struct ByteKinds {
    std::uint8_t of[256];
    bool trailOk[256];
    constexpr ByteKinds() : of(), trailOk() {
        for (int x = 0; x < 256; x++) {
            of[x] = static_cast<std::uint8_t>(kindOf(x));
            trailOk[x] = printablePair(0x81, static_cast<std::uint8_t>(x));
        }
    }
};
constexpr ByteKinds byteKind;

constexpr char hexDigits[] = "0123456789abcdef";

// Every escape as its four bytes, so that one copy writes it.
struct EscapeTexts {
    std::uint8_t of[256][4];
    constexpr EscapeTexts() : of() {
        for (int x = 0; x < 256; x++) {
            of[x][0] = '\\';
            of[x][1] = 'x';
            of[x][2] = static_cast<std::uint8_t>(hexDigits[x >> 4]);
            of[x][3] = static_cast<std::uint8_t>(hexDigits[x & 15]);
        }
    }
};
constexpr EscapeTexts escapeText;

inline std::uint8_t *escape(std::uint8_t x, std::uint8_t *out) {
    std::memcpy(out, escapeText.of[x], 4);
    return out + 4;
}

inline std::uint8_t *render(std::uint8_t x, std::uint8_t *pendingLead, std::uint8_t *out) {
    const std::uint8_t lead = *pendingLead;
    if (lead != 0) {
        // x completes the pair whatever it is; it never starts a new one.
        *pendingLead = 0;
        if (printablePair(lead, x)) {
            out[0] = lead;
            out[1] = x;
            return out + 2;
        }
        return escape(x, escape(lead, out));
    }
    switch (byteKind.of[x]) {
    case asIs:
        *out = x;
        return out + 1;
    case leadByte:
    case userLead:
        *pendingLead = x;
        return out;
    default:
        return escape(x, out);
    }
}

// render() for a held lead, with two table looks in place of the compares.
// The lead is whatever was left in *pendingLead, so, as there, only its
// user-defined range counts.
inline std::uint8_t *renderPair(std::uint8_t lead, std::uint8_t trail, std::uint8_t *out) {
    if (byteKind.trailOk[trail] && byteKind.of[lead] != userLead) {
        out[0] = lead;
        out[1] = trail;
        return out + 2;
    }
    return escape(trail, escape(lead, out));
}

constexpr bool wordAtATime = std::endian::native == std::endian::little;

// The first min(left, 8) bytes from p (left >= 4) as a word in memory order,
// the bytes past the end as 0. Short runs are read as two overlapping 4-byte
// halves so that nothing past the end is touched.
inline std::uint64_t headWord(const std::uint8_t *p, std::ptrdiff_t left) {
    std::uint64_t word;
    if (left >= 8) {
        std::memcpy(&word, p, 8);
        return word;
    }
    std::uint32_t low;
    std::uint32_t high;
    std::memcpy(&low, p, 4);
    std::memcpy(&high, p + left - 4, 4);
    return low | std::uint64_t{high} << (8 * (left - 4));
}

// How many bytes of word, in memory order, open with printable ASCII
// (0x20-0x7F). A byte misses if its top bit is set or if adding 0x60 leaves
// that bit clear (below 0x20); a carry out of a byte comes only from one that
// already misses and goes to the bytes after it, so the first miss is exact.
inline int asciiPrefix(std::uint64_t word) {
    const std::uint64_t miss = (word | ~(word + 0x6060606060606060u)) & 0x8080808080808080u;
    return std::countr_zero(miss) >> 3;
}

// renderBytes for two bytes or more (a copy), out of line so that the
// literals, one byte each and most of the calls, pay nothing for this loop's
// registers. Printable ASCII goes 8 bytes at a time and a lead is taken with
// its trail, so no lead is held inside the loop.
[[gnu::noinline]] std::uint8_t *renderRun(const std::uint8_t *p, const std::uint8_t *end,
                                          std::uint8_t *pendingLead, std::uint8_t *out) {
    const std::uint8_t *const last = end - 1;
    if (*pendingLead != 0) {
        out = renderPair(*pendingLead, *p++, out);
        *pendingLead = 0;
    }
    // Writes past the returned end: after i of the call's n bytes at most
    // 4 * i + 4 bytes are out (the held pair takes 8 for one byte of ours,
    // every later byte at most 4), and the 8-byte ASCII store comes with at
    // least one byte left, so nothing lands past 4 * n + 8 bytes from the
    // start, the room the caller gives.
    while (p < end) {
        std::uint8_t x = *p;
        std::uint8_t kind = byteKind.of[x];
        if (kind == asIs) {
            const std::ptrdiff_t left = end - p;
            if (wordAtATime && left >= 4) {
                const std::uint64_t word = headWord(p, left);
                std::memcpy(out, &word, 8);
                const int k = asciiPrefix(word); // at least 1: x is ASCII
                p += k;
                out += k;
            } else {
                *out++ = x;
                p++;
            }
            continue;
        }
        // Double-byte text comes in stretches; stay here while it lasts.
        while (kind == leadByte && p < last && byteKind.trailOk[p[1]]) {
            std::memcpy(out, p, 2);
            out += 2;
            p += 2;
            if (p == end) return out;
            x = *p;
            kind = byteKind.of[x];
        }
        if (kind == asIs) continue;
        if (kind == escaped) {
            out = escape(x, out);
            p++;
            continue;
        }
        if (p == last) {
            *pendingLead = x;
            break;
        }
        out = escape(p[1], escape(x, out));
        p += 2;
    }
    return out;
}

} // namespace

std::uint8_t *renderByte(std::uint8_t x, std::uint8_t *pendingLead, std::uint8_t *out) {
    return render(x, pendingLead, out);
}

std::uint8_t *renderBytes(const std::uint8_t *bytes, int n, std::uint8_t *pendingLead,
                          std::uint8_t *out) {
    // Most calls are literals, one byte, and about half of those complete a
    // lead held back from the symbol before.
    if (n == 1) {
        const std::uint8_t x = bytes[0];
        const std::uint8_t lead = *pendingLead;
        if (lead != 0) {
            *pendingLead = 0;
            return renderPair(lead, x, out);
        }
        const std::uint8_t kind = byteKind.of[x];
        if (kind == asIs) {
            *out = x;
            return out + 1;
        }
        if (kind == escaped) return escape(x, out);
        *pendingLead = x;
        return out;
    }
    if (n <= 0) return out;
    return renderRun(bytes, bytes + n, pendingLead, out);
}

const char *bitString(std::int32_t value, int n) {
    static char text[33];
    for (int i = 0; i < n; i++) text[i] = (value >> (n - 1 - i) & 1) ? '1' : '0';
    text[n] = '\0';
    return text;
}
