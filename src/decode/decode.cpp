#include "decode/decode.h"

#include <cstring>

#include "decode/decode_internal.h"
#include "decode/preset.h"
#include "decode/render.h"
#include "huf/tree_internal.h"
#include "item/item.h"
#include "textio/textio.h"

namespace {

constexpr int windowSize = 4096;
// Writing starts at 612, not at the preset's end (1321): bytes 0-611 are the
// most recent history, and the preset's tail is reachable only at long
// distances until it is overwritten.
constexpr int firstWritePos = 612;
constexpr std::uint8_t windowFill = 0x40;
// Longest match, and the most one symbol can print: an escaped byte takes 4
// bytes, an escaped pair 8 for its two bytes, and the first byte may complete
// a lead held back from the symbol before.
constexpr int maxMatch = 60;
constexpr std::size_t symbolOutMax = maxMatch * renderMaxBytes / 2 + renderMaxBytes;

std::uint8_t ringBuffer[windowSize];
std::uint8_t primedWindow[windowSize];
bool primedReady = false;
bool useOracle = false;

// Positions [dirtyStart, dirtyEnd) of the window differ from the primed
// window after an item; only they are restored for the next one. Short
// items, the common case, touch a few hundred bytes of the 4096.
int dirtyEnd = windowSize;
int dirtyStart = 0;

void resetWindow() {
    if (!primedReady) {
        std::memset(primedWindow, windowFill, sizeof primedWindow);
        std::memcpy(primedWindow, presetText, presetSize);
        primedReady = true;
    }
    std::memcpy(ringBuffer + dirtyStart, primedWindow + dirtyStart,
                static_cast<std::size_t>(dirtyEnd - dirtyStart));
}

// Every byte written lies in [firstWritePos, firstWritePos + written) until
// the write position wraps.
void noteWritten(std::int64_t written) {
    if (written < windowSize - firstWritePos) {
        dirtyStart = firstWritePos;
        dirtyEnd = firstWritePos + static_cast<int>(written);
    } else {
        dirtyStart = 0;
        dirtyEnd = windowSize;
    }
}

// Extra bits of the position code after its 5-bit prefix d.
inline int extraBits(int d) {
    return d < 4 ? 4 : d < 10 ? 5 : d < 18 ? 6 : d < 24 ? 7 : d < 30 ? 8 : 9;
}

// The distance value f (the copy source lies f + 1 bytes back) and the class
// letter of a position code disp; the classes tile f = 0 to 4095.
inline int distanceOf(int disp, const char **classLetter) {
    if (disp & 0x2000) return *classLetter = "a", disp - 0x3000;
    if (disp & 0x1000) return *classLetter = "b", disp - 0x1200;
    if (disp & 0x800) return *classLetter = "c", disp - 0x600;
    if (disp & 0x600) return *classLetter = "d", disp - 0x180;
    if (disp & 0x180) return *classLetter = "e", disp - 0x40;
    return *classLetter = "f", disp;
}

// Where decoded bytes go: rendered into the standard output buffer, or raw
// into a caller's array (the round-trip seam).
struct Sink {
    std::uint8_t *out;
    std::uint8_t *limit;
    std::uint8_t pendingLead;
    std::uint8_t *raw;
    std::size_t rawCapacity;
    std::size_t rawCount;
};

enum Flavour { plain, traced, rawBytes };

template <Flavour F> inline void emit(Sink &s, const std::uint8_t *bytes, int n) {
    if constexpr (F == rawBytes) {
        for (int i = 0; i < n; i++, s.rawCount++) {
            if (s.rawCount < s.rawCapacity) s.raw[s.rawCount] = bytes[i];
        }
    } else if constexpr (F == traced) {
        std::uint8_t *out = txtReserve(symbolOutMax);
        txtCommit(renderBytes(bytes, n, &s.pendingLead, out));
    } else {
        // One reservation serves many symbols; it is renewed when less than
        // one symbol's worth is left.
        if (static_cast<std::size_t>(s.limit - s.out) < symbolOutMax) {
            txtCommit(s.out);
            s.out = txtReserve(txtReserveMax);
            s.limit = s.out + txtReserveMax;
        }
        s.out = renderBytes(bytes, n, &s.pendingLead, s.out);
    }
}

template <Flavour F> inline void finishSymbol(Sink &s, bool unbuffered) {
    if constexpr (F == plain) {
        if (unbuffered) {
            txtCommit(s.out);
            s.out = txtReserve(txtReserveMax);
            s.limit = s.out + txtReserveMax;
        }
    }
}

// Bits the plain path has peeked from the item and not yet used: the next
// bit is bit 63 of word. The item reader learns how many were used only
// when more are needed or the item ends, so it refills exactly when a
// bit-at-a-time reader would.
struct BitCache {
    std::uint64_t word = 0;
    int left = 0;   // valid bits still in word
    int peeked = 0; // valid bits the last peek gave; peeked - left are used
};

// Makes at least one bit available; false when the item has no more.
inline bool cacheRefill(BitCache &c) {
    itemSkipBits(c.peeked - c.left);
    c.left = c.peeked = itemPeekBits(&c.word);
    if (c.left > 0) return true;
    c.left = c.peeked = 0;
    return false;
}

inline void cacheSync(BitCache &c) {
    itemSkipBits(c.peeked - c.left);
    c.left = c.peeked = 0;
}

// The next k bits (1 to 14) as itemGetBits gives them.
inline std::int32_t cacheGet(BitCache &c, int k) {
    if (c.left >= k) {
        const auto v = static_cast<std::int32_t>(c.word >> (64 - k));
        c.word <<= k;
        c.left -= k;
        return v;
    }
    cacheSync(c);
    return itemGetBits(k);
}

// The decoding loop. Slow: one bit per itemGetBits call and the full-scan
// partner search (the oracle). F = traced prints the symbol trace (verbose
// >= 1) and the tree dumps; F = plain is the hot path.
template <Flavour F, bool Slow>
int decodeLoop(std::int32_t remaining, int verbose, int dump, Sink &s) {
    constexpr bool tracing = F == traced;
    resetWindow();
    const std::int32_t length = remaining;
    int w = firstWritePos;
    std::int32_t rdispmax = 0;
    if constexpr (F == plain) {
        s.out = txtReserve(txtReserveMax);
        s.limit = s.out + txtReserveMax;
    }
    // On a terminal every symbol's text leaves at once.
    const bool unbuffered = txtUnbuffered();
    int result = 0;
    BitCache bits;

    while (remaining > 0) {
        // Walk the tree from the root to a leaf, one bit per level.
        int node = 0;
        bool cut = false;
        if constexpr (Slow || tracing) {
            while (nodeTable[node].type == hufInternal) {
                const std::int32_t bit = itemGetBits(1);
                if (bit < 0) {
                    cut = true;
                    break;
                }
                if (tracing && verbose >= 1) txtPrintf("%c", bit ? '1' : '0');
                node = bit ? nodeTable[node].child1 : nodeTable[node].child0;
            }
        } else {
            // The root is never a leaf. Word and count stay in registers.
            std::uint64_t word = bits.word;
            int left = bits.left;
            do {
                if (left == 0) {
                    bits.left = 0;
                    if (!cacheRefill(bits)) {
                        cut = true;
                        break;
                    }
                    word = bits.word;
                    left = bits.left;
                }
                const HufNode &n = nodeTable[node];
                node = (word >> 63) ? n.child1 : n.child0;
                word <<= 1;
                left--;
            } while (nodeTable[node].type == hufInternal);
            bits.word = word;
            bits.left = left;
        }
        if (cut) {
            result = -1;
            break;
        }
        if (tracing && verbose >= 1) txtPrintf(": ");

        const HufNode &leaf = nodeTable[node];
        if (leaf.type == hufLiteral) {
            const std::uint8_t c = leaf.value;
            if (tracing && verbose >= 1) txtPrintf("char=0x%02x '", c);
            emit<F>(s, &c, 1);
            if (tracing && verbose >= 1) txtPrintf("'\n");
            remaining -= 1;
            if (w == windowSize) w = 0;
            ringBuffer[w++] = c;
        } else {
            const int len = leaf.value;
            const std::int32_t d = (Slow || tracing) ? itemGetBits(5) : cacheGet(bits, 5);
            if (d < 0) {
                result = -1;
                break;
            }
            if (tracing && verbose >= 1) txtPrintf("len=%d, ", len);
            const int e = extraBits(d);
            const std::int32_t x = (Slow || tracing) ? itemGetBits(e) : cacheGet(bits, e);
            if (x < 0) {
                result = -1;
                break;
            }
            const int disp = x + (d << e);
            const char *classLetter;
            const int f = distanceOf(disp, &classLetter);
            if (f > rdispmax) rdispmax = f;
            if (tracing && verbose >= 1) {
                txtPrintf("disp=%ld(%s[%s])->%ld '", static_cast<long>(disp),
                          bitString(disp, e + 5), classLetter, static_cast<long>(f));
            }
            remaining -= len;

            if (w == windowSize) w = 0;
            int src = w - f - 1;
            if (src < 0) src += windowSize;
            if (src + len <= windowSize && w + len <= windowSize && (src >= w || src + len <= w)) {
                // Neither end wraps and the source is not the bytes being
                // written: one move does what the byte loop would.
                std::memmove(ringBuffer + w, ringBuffer + src, static_cast<std::size_t>(len));
                emit<F>(s, ringBuffer + w, len);
                w += len;
            } else {
                // Byte by byte: a source that overlaps its own output repeats it.
                for (int i = 0; i < len; i++) {
                    if (src == windowSize) src = 0;
                    if (w == windowSize) w = 0;
                    ringBuffer[w] = ringBuffer[src];
                    emit<F>(s, ringBuffer + w, 1);
                    src++;
                    w++;
                }
            }
            if (tracing && verbose >= 1) txtPrintf("'\n");
        }

        if constexpr (tracing) {
            hufUpdateWith<Slow, true>(node, verbose);
            if (dump) hufDumpTree();
        } else if constexpr (F == rawBytes) {
            hufUpdateWith<Slow, Slow>(node, 0);
        } else {
            hufUpdateWith<Slow, Slow>(node, 0);
            finishSymbol<F>(s, unbuffered);
        }
    }

    cacheSync(bits);
    noteWritten(static_cast<std::int64_t>(length) - remaining);
    if constexpr (F == plain) txtCommit(s.out);
    if constexpr (F != rawBytes) {
        // The item's line end; a held lead byte is dropped unprinted.
        txtPrintf("\n");
        if (verbose >= 1) txtPrintf("rdispmax = %ld\n", static_cast<long>(rdispmax));
    }
    return result;
}

} // namespace

int hufDecode(std::int32_t length, int verbose, int dump) {
    Sink s{};
    if (verbose >= 1 || dump) {
        return useOracle ? decodeLoop<traced, true>(length, verbose, dump, s)
                         : decodeLoop<traced, false>(length, verbose, dump, s);
    }
    return useOracle ? decodeLoop<plain, true>(length, 0, 0, s)
                     : decodeLoop<plain, false>(length, 0, 0, s);
}

void hufDecodeUseOracle(bool on) {
    useOracle = on;
}

int hufDecodeRaw(std::int32_t length, std::uint8_t *out, std::size_t capacity,
                 std::size_t *produced) {
    Sink s{};
    s.raw = out;
    s.rawCapacity = capacity;
    const int result = useOracle ? decodeLoop<rawBytes, true>(length, 0, 0, s)
                                 : decodeLoop<rawBytes, false>(length, 0, 0, s);
    *produced = s.rawCount;
    return result;
}
