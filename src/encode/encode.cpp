// Cutting an item into literals and matches, and coding them.
#include "encode/encode.h"

#include <climits>

#include "bits.h"
#include "encode_internal.h"
#include "format/format.h"
#include "huf/ordered.h"

namespace {

// The cost parse looks at this many text bytes at a time, with the code
// lengths of the tree as it stands at the block's start. The code adapts
// after every symbol, so shorter blocks follow it more closely, while every
// block end cuts the matches that would run past it.
constexpr int blockSize = 2048;
constexpr std::int32_t unreached = INT32_MAX;

EncParse parseMode = encParseCost;
int chainLimit = 48;

// Cheapest cost in bits of reaching each block offset, and the last step of
// that path: a literal (length 0) or a match with its distance value.
std::int32_t price[blockSize + 1];
std::uint8_t stepLen[blockSize + 1];
std::uint16_t stepF[blockSize + 1];
EncSymbol steps[blockSize];

// Code lengths of the moment: the depth of each symbol's leaf.
int literalBits[fmtLiteralCount];
int lengthBits[fmtMaxMatch + 1];

// Bytes of text between calls of the progress report: often enough for a
// few updates a second, rare enough to cost nothing against the coding.
constexpr std::int64_t progressStep = 1 << 16;
void (*progress)(std::size_t) = nullptr;

EncSymbol *record = nullptr;
std::size_t recordCapacity = 0;
std::size_t recordCount = 0;

int depthOf(int symbol) {
    return hufOrderedCode(hufOrderedLeaf(symbol)).length;
}

void readCodeLengths() {
    for (int c = 0; c < fmtLiteralCount; c++) literalBits[c] = depthOf(c);
    for (int len = fmtMinMatch; len <= fmtMaxMatch; len++) {
        lengthBits[len] = depthOf(fmtLengthSymbol(len));
    }
}

void emit(EncSymbol s) {
    if (record != nullptr) {
        if (recordCount < recordCapacity) record[recordCount] = s;
        recordCount++;
    }
    if (s.len == 0) {
        encCodeSymbol(s.f);
    } else {
        encCodeSymbol(fmtLengthSymbol(s.len));
        const FmtPositionCode p = fmtPositionCodeOf(s.f);
        encBitsPut(static_cast<std::uint32_t>(p.value), p.bits);
    }
}

// The cheapest path through text[start, end) under the code lengths at the
// block's start, then coded symbol by symbol with the live tree.
void parseBlock(const std::uint8_t *text, std::int64_t start, std::int64_t end) {
    readCodeLengths();
    const int n = static_cast<int>(end - start);
    price[0] = 0;
    for (int i = 1; i <= n; i++) price[i] = unreached;
    EncMatch found[fmtMaxMatch];
    for (int i = 0; i < n; i++) {
        const std::int64_t pos = encTextStart + start + i;
        const std::int32_t here = price[i];
        const std::int32_t literal = here + literalBits[text[start + i]];
        if (literal < price[i + 1]) {
            price[i + 1] = literal;
            stepLen[i + 1] = 0;
        }
        const int count = encFindMatches(pos, n - i, chainLimit, found);
        encHistoryInsert(pos);
        // found[k] is the nearest source for every length above the previous
        // entry's, up to its own.
        int len = fmtMinMatch;
        for (int k = 0; k < count; k++) {
            const std::int32_t base = here + fmtPositionCodeOf(found[k].f).bits;
            for (; len <= found[k].len; len++) {
                const std::int32_t cost = base + lengthBits[len];
                if (cost < price[i + len]) {
                    price[i + len] = cost;
                    stepLen[i + len] = static_cast<std::uint8_t>(len);
                    stepF[i + len] = static_cast<std::uint16_t>(found[k].f);
                }
            }
        }
        if (count > 0 && found[count - 1].len == fmtMaxMatch) {
            // A match of the greatest length is as good as it gets: take it
            // without weighing the positions it covers. Paths only ever step
            // back from the block's end through positions that were weighed.
            for (int j = 1; j < fmtMaxMatch; j++) encHistoryInsert(pos + j);
            i += fmtMaxMatch - 1;
        }
    }
    int count = 0;
    for (int k = n; k > 0;) {
        if (stepLen[k] == 0) {
            steps[count++] = EncSymbol{0, text[start + k - 1]};
            k -= 1;
        } else {
            steps[count++] = EncSymbol{stepLen[k], stepF[k]};
            k -= stepLen[k];
        }
    }
    while (count > 0) emit(steps[--count]);
}

// The longest match at every step, the nearest source for it.
void parseGreedy(const std::uint8_t *text, std::int64_t n) {
    EncMatch found[fmtMaxMatch];
    std::int64_t nextReport = progressStep;
    for (std::int64_t k = 0; k < n;) {
        if (k >= nextReport && progress != nullptr) {
            progress(static_cast<std::size_t>(k));
            nextReport = k + progressStep;
        }
        const std::int64_t pos = encTextStart + k;
        const int count = encFindMatches(pos, fmtMaxMatch, chainLimit, found);
        encHistoryInsert(pos);
        if (count == 0) {
            emit(EncSymbol{0, text[k]});
            k++;
            continue;
        }
        const EncMatch m = found[count - 1];
        emit(EncSymbol{m.len, m.f});
        for (int j = 1; j < m.len; j++) encHistoryInsert(pos + j);
        k += m.len;
    }
}

} // namespace

void encSetParse(EncParse parse) {
    parseMode = parse;
}
void encSetProgress(void (*report)(std::size_t done)) {
    progress = report;
}
void encSetChainLimit(int limit) {
    chainLimit = limit < 1 ? 1 : limit;
}

void encRecordSymbols(EncSymbol *buffer, std::size_t capacity) {
    record = buffer;
    recordCapacity = capacity;
    recordCount = 0;
}
std::size_t encRecordedSymbols() {
    return recordCount;
}

std::int64_t encItem(const std::uint8_t *text, std::size_t n, const EncWriter *out) {
    if (n > encItemMax) return -1;
    encBitsBegin(out);
    // Bytes no reader looks at, then the decoded length.
    std::uint8_t header[fmtHeaderSize] = {};
    fmtPutLittleEndian32(header + fmtDecodedLengthAt, static_cast<std::uint32_t>(n));
    encBitsBytes(header, fmtHeaderSize);
    hufOrderedInit();
    encHistoryBegin(text, n);
    const auto total = static_cast<std::int64_t>(n);
    if (parseMode == encParseGreedy) {
        parseGreedy(text, total);
    } else {
        for (std::int64_t start = 0; start < total; start += blockSize) {
            if (start % progressStep == 0 && start > 0 && progress != nullptr) {
                progress(static_cast<std::size_t>(start));
            }
            parseBlock(text, start, start + blockSize < total ? start + blockSize : total);
        }
    }
    return encBitsEnd();
}
