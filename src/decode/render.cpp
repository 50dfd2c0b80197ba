#include "decode/render.h"

namespace {

enum : std::uint8_t { asIs = 0, leadByte = 1, escaped = 2 };

constexpr int classOf(int x) {
    if (x >= 0x20 && x <= 0x7F) return asIs; // 0x7F (DEL) too
    if ((x >= 0x81 && x <= 0x9F) || (x >= 0xE0 && x <= 0xFC)) return leadByte;
    return escaped; // controls, 0x80, half-width katakana 0xA0-0xDF, 0xFD-0xFF
}

struct ByteClasses {
    std::uint8_t of[256];
    constexpr ByteClasses() : of() {
        for (int x = 0; x < 256; x++) of[x] = static_cast<std::uint8_t>(classOf(x));
    }
};
constexpr ByteClasses byteClass;

constexpr char hexDigits[] = "0123456789abcdef";

inline std::uint8_t *escape(std::uint8_t x, std::uint8_t *out) {
    out[0] = '\\';
    out[1] = 'x';
    out[2] = static_cast<std::uint8_t>(hexDigits[x >> 4]);
    out[3] = static_cast<std::uint8_t>(hexDigits[x & 15]);
    return out + 4;
}

// A trail byte outside 0x40-0xFC, the gap at 0x7F, or a lead in the
// user-defined range 0xF0-0xF7 makes the pair unprintable.
inline bool printablePair(std::uint8_t lead, std::uint8_t trail) {
    return trail >= 0x40 && trail != 0x7F && trail <= 0xFC && (lead < 0xF0 || lead > 0xF7);
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
    switch (byteClass.of[x]) {
    case asIs:
        *out = x;
        return out + 1;
    case leadByte:
        *pendingLead = x;
        return out;
    default:
        return escape(x, out);
    }
}

} // namespace

std::uint8_t *renderByte(std::uint8_t x, std::uint8_t *pendingLead, std::uint8_t *out) {
    return render(x, pendingLead, out);
}

std::uint8_t *renderBytes(const std::uint8_t *bytes, int n, std::uint8_t *pendingLead,
                          std::uint8_t *out) {
    std::uint8_t lead = *pendingLead;
    for (int i = 0; i < n; i++) {
        const std::uint8_t x = bytes[i];
        if (lead == 0 && byteClass.of[x] == asIs) {
            *out++ = x; // the common case: markup and ASCII text
        } else {
            out = render(x, &lead, out);
        }
    }
    *pendingLead = lead;
    return out;
}

const char *bitString(std::int32_t value, int n) {
    static char text[33];
    for (int i = 0; i < n; i++) text[i] = (value >> (n - 1 - i) & 1) ? '1' : '0';
    text[n] = '\0';
    return text;
}
