#include "decode/decode.h"

#include <cstring>

#include "decode/decode_internal.h"
#include "decode/render.h"
#include "format/format.h"
#include "huf/ordered.h"
#include "item/item.h"
#include "textio/textio.h"

namespace {

constexpr int windowSize = fmtWindowSize;
constexpr int firstWritePos = fmtFirstWritePos;
// Longest match: 60 in every tree the store's items can give, but a length
// leaf holds a byte, and a tree set by hand may use all of it. The most one
// symbol can print: an escaped byte takes 4 bytes, an escaped pair 8 for its
// two bytes, and the first byte may complete a lead held from the symbol
// before.
constexpr int maxMatch = 255;
constexpr std::size_t symbolOutMax = maxMatch * renderMaxBytes / 2 + renderMaxBytes;

std::uint8_t ringBuffer[windowSize];
std::uint8_t primedWindow[windowSize];
bool primedReady = false;

// Positions [dirtyStart, dirtyEnd) of the window differ from the primed
// window after an item; only they are restored for the next one. Short
// items, the common case, touch a few hundred bytes of the 4096.
int dirtyEnd = windowSize;
int dirtyStart = 0;

void resetWindow() {
    if (!primedReady) {
        std::memset(primedWindow, fmtWindowFill, sizeof primedWindow);
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

// Stores a literal in the window and prints it.
template <Flavour F> inline void putLiteral(Sink &s, int &w, std::uint8_t c) {
    emit<F>(s, &c, 1);
    if (w == windowSize) w = 0;
    ringBuffer[w++] = c;
}

// Copies a match of len bytes from f + 1 bytes back into the window and
// returns the copied bytes in one piece: in the window itself, or, when the
// copy wraps, in a scratch array.
inline const std::uint8_t *copyMatch(int &w, int f, int len) {
    static std::uint8_t wrapped[maxMatch];
    if (w == windowSize) w = 0;
    int src = w - f - 1;
    if (src < 0) src += windowSize;
    if (src + len <= windowSize && w + len <= windowSize && (src >= w || src + len <= w)) {
        // Neither end wraps and the source is not the bytes being written:
        // one move does what the byte loop would.
        std::memmove(ringBuffer + w, ringBuffer + src, static_cast<std::size_t>(len));
        const std::uint8_t *copied = ringBuffer + w;
        w += len;
        return copied;
    }
    // Byte by byte: a source that overlaps its own output repeats it.
    for (int i = 0; i < len; i++) {
        if (src == windowSize) src = 0;
        if (w == windowSize) w = 0;
        ringBuffer[w] = ringBuffer[src];
        wrapped[i] = ringBuffer[w];
        src++;
        w++;
    }
    return wrapped;
}

// Copies a match of len bytes from f + 1 bytes back and prints them.
template <Flavour F> inline void putMatch(Sink &s, int &w, int f, int len) {
    emit<F>(s, copyMatch(w, f, len), len);
}

// Bits the ordered loop has peeked from the item and not yet used, at the
// top of word, followed by one 1 bit (the end mark) and zeros: the count of
// usable bits is where the mark stands, and a walk that ran past the bits
// leaves word 0. The item reader learns how many bits were used only when
// more are needed or the item ends, so it refills exactly when a
// bit-at-a-time reader would.
struct MarkedBits {
    std::uint64_t word;
    int peeked; // bits the last peek gave
};

constexpr std::uint64_t markedEmpty = std::uint64_t{1} << 63;

inline int markedCount(std::uint64_t word) {
    return 63 - __builtin_ctzll(word);
}

// Whether word holds at least n usable bits (n from 1 to 63).
inline bool markedHas(std::uint64_t word, int n) {
    return (word & ((std::uint64_t{2} << (63 - n)) - 1)) != 0;
}

inline void markedSync(MarkedBits &b) {
    itemSkipBits(b.peeked - markedCount(b.word));
    b.peeked = 0;
    b.word = markedEmpty;
}

// Tells the reader what was used and peeks again; false when the item has
// no more bits.
inline bool markedRefill(MarkedBits &b) {
    markedSync(b);
    std::uint64_t word;
    int n = itemPeekBits(&word);
    if (n < 0) return false;
    if (n > 63) n = 63; // room for the mark
    b.word = (word & ~(~std::uint64_t{0} >> n)) | std::uint64_t{1} << (63 - n);
    b.peeked = n;
    return true;
}

// The next k bits (1 to 14) as itemGetBits gives them.
inline std::int32_t markedGet(MarkedBits &b, int k) {
    if (markedHas(b.word, k)) {
        const auto v = static_cast<std::int32_t>(b.word >> (64 - k));
        b.word <<= k;
        return v;
    }
    markedSync(b);
    return itemGetBits(k);
}

// The most bits a walk takes: a tree of weight at most 0x8000 kept in
// sibling order is at most 21 levels deep, its weights growing at least like
// the Fibonacci numbers towards the root. With fewer bits at hand a symbol is
// read bit by bit with the reader's checks; a position code (up to 14 bits)
// is checked on its own.
constexpr int walkBitsMax = 22;
constexpr int positionBitsMax = 14;

// One symbol read with a check before every bit, near the end of the
// item's bits or of the reader's buffer. Its position in the ordered tree,
// and the distance value of a match in *f; -1 when the bits ran out.
int checkedSymbol(MarkedBits &b, int *f) {
    int pos;
    int child = orderedChild[hufRootOrder];
    do {
        if (b.word == markedEmpty && !markedRefill(b)) return -1;
        pos = child + static_cast<int>(b.word >> 63);
        b.word <<= 1;
        child = orderedChild[pos];
    } while (child < hufLeafMark);
    if (child - hufLeafMark >= 2 * 256) {
        const std::int32_t d = markedGet(b, fmtPrefixBits);
        if (d < 0) return -1;
        const FmtPrefix &code = fmtPrefixes.of[d];
        const std::int32_t x = markedGet(b, code.extraBits);
        if (x < 0) return -1;
        *f = x + code.baseF;
    }
    return pos;
}

// The hot loop of plain decoding (F = plain or rawBytes) on the ordered
// tree: the walk takes its bits from one word without a check per bit, a
// match's position code comes from the same word, and the update climbs the
// ordered arrays.
template <Flavour F> int decodeOrdered(std::int32_t remaining, Sink &s) {
    resetWindow();
    const std::int32_t length = remaining;
    int w = firstWritePos;
    // The output buffer's reservation and the held lead stay in locals.
    std::uint8_t *out = nullptr;
    std::uint8_t *limit = nullptr;
    std::uint8_t lead = 0;
    if constexpr (F == plain) {
        out = txtReserve(txtReserveMax);
        limit = out + txtReserveMax;
    }
    const bool unbuffered = txtUnbuffered();
    int result = 0;
    MarkedBits bits{markedEmpty, 0};

    while (remaining > 0) {
        int pos = -1;
        int f = 0; // a match's distance value
        if (!markedHas(bits.word, walkBitsMax) &&
            (!markedRefill(bits) || !markedHas(bits.word, walkBitsMax))) {
            pos = bits.peeked > 0 ? checkedSymbol(bits, &f) : -1;
            if (pos < 0) {
                result = -1;
                break;
            }
        } else {
            std::uint64_t word = bits.word;
            const std::int16_t *const childOf = orderedChild;
            std::intptr_t child = childOf[hufRootOrder];
            do {
                // Doubling word carries its first bit out: one add with
                // carry steps to the chosen child.
                std::uint64_t shifted;
                const bool bit = __builtin_add_overflow(word, word, &shifted);
                child = childOf[child + bit];
                word = shifted;
            } while (child < hufLeafMark);
            // The leaf's slot in orderedParent holds its position.
            pos = orderedParent[child];
            if (word == 0) {
                // Past the end mark: only a tree deeper than any the update
                // makes gets here. Read the symbol again with checks.
                pos = checkedSymbol(bits, &f);
                if (pos < 0) {
                    result = -1;
                    break;
                }
            } else if (child - hufLeafMark < 2 * 256) {
                bits.word = word;
            } else if (markedHas(word, positionBitsMax)) {
                const FmtPrefix &code = fmtPrefixes.of[word >> (64 - fmtPrefixBits)];
                f = static_cast<int>((word << fmtPrefixBits) >> (64 - code.extraBits)) + code.baseF;
                bits.word = word << (fmtPrefixBits + code.extraBits);
            } else {
                bits.word = word;
                const std::int32_t d = markedGet(bits, fmtPrefixBits);
                const std::int32_t x = d < 0 ? -1 : markedGet(bits, fmtPrefixes.of[d].extraBits);
                if (x < 0) {
                    result = -1;
                    break;
                }
                f = x + fmtPrefixes.of[d].baseF;
            }
        }

        if constexpr (F == plain) {
            // Room for one symbol's text, renewed when less is left.
            if (static_cast<std::size_t>(limit - out) < symbolOutMax) {
                txtCommit(out);
                out = txtReserve(txtReserveMax);
                limit = out + txtReserveMax;
            }
        }
        const int symbol = (orderedChild[pos] - hufLeafMark) >> 1;
        if (symbol < 256) {
            const auto c = static_cast<std::uint8_t>(symbol);
            if constexpr (F == plain) {
                out = renderLiteral(c, &lead, out);
            } else {
                emit<F>(s, &c, 1);
            }
            if (w == windowSize) w = 0;
            ringBuffer[w++] = c;
            remaining -= 1;
        } else {
            const int len = symbol - 256 + 3;
            const std::uint8_t *copied = copyMatch(w, f, len);
            if constexpr (F == plain) {
                out = renderBytes(copied, len, &lead, out);
            } else {
                emit<F>(s, copied, len);
            }
            remaining -= len;
        }
        hufOrderedCount(pos);
        if constexpr (F == plain) {
            if (unbuffered) {
                txtCommit(out);
                out = txtReserve(txtReserveMax);
                limit = out + txtReserveMax;
            }
        }
    }

    markedSync(bits);
    noteWritten(static_cast<std::int64_t>(length) - remaining);
    if constexpr (F == plain) {
        // The item's line end, as the text stream writes a line feed; a held
        // lead byte is dropped unprinted.
        if (limit - out < 2) {
            txtCommit(out);
            out = txtReserve(2);
        }
        *out++ = '\r';
        *out++ = '\n';
        txtCommit(out);
    }
    return result;
}

// The decoding loop on nodeTable, one bit per itemGetBits call: for the
// traces (F = traced: the symbol trace with verbose >= 1, the exchanges with
// verbose >= 2, the tree dumps), and for trees the ordered form cannot hold.
template <Flavour F> int decodeLoop(std::int32_t remaining, int verbose, int dump, Sink &s) {
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

    while (remaining > 0) {
        // Walk the tree from the root to a leaf, one bit per level.
        int node = 0;
        bool cut = false;
        while (nodeTable[node].type == hufInternal) {
            const std::int32_t bit = itemGetBits(1);
            if (bit < 0) {
                cut = true;
                break;
            }
            if (tracing && verbose >= 1) txtPrintf("%c", bit ? '1' : '0');
            node = bit ? nodeTable[node].child1 : nodeTable[node].child0;
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
            putLiteral<F>(s, w, c);
            if (tracing && verbose >= 1) txtPrintf("'\n");
            remaining -= 1;
        } else {
            const int len = leaf.value;
            const std::int32_t d = itemGetBits(fmtPrefixBits);
            if (d < 0) {
                result = -1;
                break;
            }
            if (tracing && verbose >= 1) txtPrintf("len=%d, ", len);
            const FmtPrefix &code = fmtPrefixes.of[d];
            const std::int32_t x = itemGetBits(code.extraBits);
            if (x < 0) {
                result = -1;
                break;
            }
            const int disp = x + (d << code.extraBits);
            const int f = x + code.baseF;
            if (f > rdispmax) rdispmax = f;
            if (tracing && verbose >= 1) {
                txtPrintf("disp=%ld(%s[%c])->%ld '", static_cast<long>(disp),
                          bitString(disp, fmtPrefixBits + code.extraBits),
                          fmtPositionClasses[code.classIndex].letter, static_cast<long>(f));
            }
            remaining -= len;
            putMatch<F>(s, w, f, len);
            if (tracing && verbose >= 1) txtPrintf("'\n");
        }

        hufUpdateWith<tracing>(node, verbose);
        if constexpr (tracing) {
            if (dump) hufDumpTree();
        } else {
            finishSymbol<F>(s, unbuffered);
        }
    }

    noteWritten(static_cast<std::int64_t>(length) - remaining);
    if constexpr (F == plain) txtCommit(s.out);
    if constexpr (F != rawBytes) {
        // The item's line end; a held lead byte is dropped unprinted.
        txtPrintf("\n");
        if (verbose >= 1) txtPrintf("rdispmax = %ld\n", static_cast<long>(rdispmax));
    }
    return result;
}

// Plain decoding: the ordered tree when it can hold the current tree.
template <Flavour F> int decodePlain(std::int32_t length, Sink &s) {
    if (hufOrderedTake()) return decodeOrdered<F>(length, s);
    hufSettleTree();
    return decodeLoop<F>(length, 0, 0, s);
}

} // namespace

int hufDecode(std::int32_t length, int verbose, int dump) {
    Sink s{};
    if (verbose >= 1 || dump) {
        hufSettleTree();
        return decodeLoop<traced>(length, verbose, dump, s);
    }
    return decodePlain<plain>(length, s);
}

int hufDecodeRaw(std::int32_t length, std::uint8_t *out, std::size_t capacity,
                 std::size_t *produced) {
    Sink s{};
    s.raw = out;
    s.rawCapacity = capacity;
    const int result = decodePlain<rawBytes>(length, s);
    *produced = s.rawCount;
    return result;
}
