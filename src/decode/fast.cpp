// Plain decoding: the tree laid out by order number, the bits taken from a
// word, the text rendered straight into the output buffer.
#include <cstring>

#include "bitword.h"
#include "huf/ordered.h"
#include "loops.h"
#include "textio/textio.h"
#include "window.h"

namespace {

// The most bits a position code takes: the prefix and the extra bits of the
// class that has the most (the farthest, 9).
constexpr int positionBitsMax = [] {
    int most = 0;
    for (const FmtPositionClass &c : fmtPositionClasses) {
        if (c.extraBits > most) most = c.extraBits;
    }
    return fmtPrefixBits + most;
}();
static_assert(positionBitsMax == 14);

// One symbol as read: its leaf (symbol -1 when the bits ran out) and, for
// a match, the distance value f.
struct Symbol {
    HufLeaf leaf;
    int f;
};

// The position code of a match: from the word when it holds the longest
// code, else with a check of each field. -1 when the bits run out.
inline int readPosition(DecBits &b) {
    const std::uint64_t word = b.word;
    if (decBitsHas(word, positionBitsMax)) {
        const FmtPrefix &code = fmtPrefixes.of[word >> (64 - fmtPrefixBits)];
        b.word = word << (fmtPrefixBits + code.extraBits);
        return static_cast<int>((word << fmtPrefixBits) >> (64 - code.extraBits)) + code.baseF;
    }
    const std::int32_t prefix = decBitsGet(b, fmtPrefixBits);
    if (prefix < 0) return -1;
    const FmtPrefix &code = fmtPrefixes.of[prefix];
    const std::int32_t extra = decBitsGet(b, code.extraBits);
    if (extra < 0) return -1;
    return extra + code.baseF;
}

// Reads one symbol. Trusting (Checked = false) relies on the word holding
// hufDepthMax bits, as many as any walk takes, and walks without a check;
// Checked tests for the end mark before every bit and refills, for the last
// bits of the item or of the reader's buffer. Both take the first levels in
// one lookup when the word holds its hufLookupBits bits, so that the lookup
// never reads past the item's last bit.
template <bool Checked> inline Symbol readSymbol(DecBits &b) {
    std::uint64_t word = b.word;
    HufLeaf leaf;
    if constexpr (Checked) {
        leaf = hufOrderedWalk(word, decBitsHas(word, hufLookupBits), [&b](std::uint64_t &w) {
            if (w != decBitsEmpty) return true;
            b.word = w; // all peeked bits used
            if (!decBitsRefill(b)) return false;
            w = b.word;
            return true;
        });
        if (leaf.symbol < 0) return {leaf, 0};
    } else {
        leaf = hufOrderedWalk(word);
    }
    b.word = word;
    if (leaf.symbol < fmtLiteralCount) return {leaf, 0};
    const int f = readPosition(b);
    if (f < 0) return {{-1, 0}, 0};
    return {leaf, f};
}

// Refills the bit word for the next symbol when it holds fewer bits than
// any walk may take, as the loop would before reading it, so that the refill
// is done before the climb rather than after it. Only while the item has
// bytes left (remaining, after this symbol): the reader is asked for bits
// exactly when it was before, as a refill past the item's end could fall
// short on a cut item.dat and close it for the items after.
inline void refillAhead(DecBits &b, std::int32_t remaining) {
    if (remaining > 0 && !decBitsHas(b.word, hufDepthMax)) decBitsRefill(b);
}

// Where the decoded bytes go: printed into the output buffer (Raw = false),
// or gathered raw in a fixed buffer and handed to the caller's sink a chunk
// at a time (quorlin-unpack, the round trip).
constexpr std::size_t rawChunk = 65536;
std::uint8_t rawBytes[rawChunk];

struct RawOut {
    DecSink sink;
    void *context;
    std::size_t fill;
    bool refused; // the sink said stop
};

inline void rawFlush(RawOut &r) {
    if (r.fill > 0 && !r.refused && r.sink(r.context, rawBytes, r.fill) < 0) r.refused = true;
    r.fill = 0;
}

inline void putRaw(RawOut &r, const std::uint8_t *p, int n) {
    if (r.fill + static_cast<std::size_t>(n) > rawChunk) rawFlush(r);
    std::memcpy(rawBytes + r.fill, p, static_cast<std::size_t>(n));
    r.fill += static_cast<std::size_t>(n);
}

// The loop of plain decoding, printing (Raw = false) or storing raw bytes.
// While the bit word holds hufDepthMax bits, after a refill if need be, a
// symbol is read trusting that margin; fewer are left only near the end of
// the item or of the reader's buffer, where every bit is checked.
template <bool Raw> int decodeLoop(std::int32_t remaining, RawOut &raw) {
    hufOrderedInit();
    std::uint8_t *at = decRunStart();
    // The output buffer's reservation and the held lead stay in locals.
    std::uint8_t *out = nullptr;
    std::uint8_t *limit = nullptr;
    std::uint8_t lead = 0;
    if constexpr (!Raw) {
        out = txtReserve(txtReserveMax);
        limit = out + txtReserveMax;
    }
    // On a terminal every symbol's text leaves at once.
    const bool unbuffered = !Raw && txtUnbuffered();
    int result = 0;
    DecBits bits{decBitsEmpty, 0};

    while (remaining > 0) {
        Symbol s;
        if (decBitsHas(bits.word, hufDepthMax) ||
            (decBitsRefill(bits) && decBitsHas(bits.word, hufDepthMax))) {
            s = readSymbol<false>(bits);
        } else {
            s = readSymbol<true>(bits);
        }
        if (s.leaf.symbol < 0) {
            result = -1;
            break;
        }
        if constexpr (!Raw) {
            // Room for one symbol's text, renewed when less is left.
            if (static_cast<std::size_t>(limit - out) < decSymbolOutMax) {
                txtCommit(out);
                out = txtReserve(txtReserveMax);
                limit = out + txtReserveMax;
            }
        }
        // The count in two halves around the symbol's text: the lowest
        // levels' loads start first and the text is written while they are
        // under way; the climb above follows.
        const int symbol = s.leaf.symbol;
        const std::intptr_t above = hufOrderedUpdateLow(s.leaf.pos);
        if (symbol < fmtLiteralCount) {
            const auto c = static_cast<std::uint8_t>(symbol);
            if constexpr (Raw) {
                putRaw(raw, &c, 1);
            } else {
                out = renderLiteral(c, &lead, out);
            }
            *at++ = c;
            remaining -= 1;
        } else {
            const int len = symbol - fmtLiteralCount + fmtMinMatch;
            const std::uint8_t *copied = decRunCopy(at, s.f, len);
            at += len;
            if constexpr (Raw) {
                putRaw(raw, copied, len);
            } else {
                out = renderBytes(copied, len, &lead, out);
            }
            remaining -= len;
        }
        at = decRunKeep(at);
        refillAhead(bits, remaining);
        hufOrderedUpdateAbove(above);
        if constexpr (Raw) {
            if (raw.refused) {
                result = -2;
                break;
            }
        }
        if (unbuffered) {
            txtCommit(out);
            out = txtReserve(txtReserveMax);
            limit = out + txtReserveMax;
        }
    }

    decBitsSync(bits);
    if constexpr (Raw) {
        rawFlush(raw);
        if (raw.refused) result = -2;
    }
    if constexpr (!Raw) {
        // The item's line end; a held lead byte is dropped unprinted.
        txtCommit(out);
        txtLineEnd();
    }
    return result;
}

} // namespace

int decPlain(std::int32_t length) {
    RawOut none{};
    return decodeLoop<false>(length, none);
}

int decRawToSink(std::int32_t length, DecSink sink, void *context) {
    RawOut raw{sink, context, 0, false};
    return decodeLoop<true>(length, raw);
}
