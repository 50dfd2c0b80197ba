// The encoder's view of the decoder's window: one line of positions, the
// primed window first (oldest byte first), then the item's text, with hash
// chains over three-byte prefixes for the match search.
#include <cstring>

#include "encode_internal.h"
#include "format/format.h"

namespace {

// 2^14 chain heads: four times the window, so few chains mix prefixes.
constexpr int hashBits = 14;
constexpr int hashSize = 1 << hashBits;
constexpr std::int64_t primedLen = fmtWindowSize;

// Below this position a match (and its source) may reach into the primed
// window, so both are read from joined, which holds the primed window and the
// first bytes of the text in one piece. From it on, both lie in the text.
constexpr std::int64_t joinedSplit = 2 * fmtWindowSize;
std::uint8_t joined[joinedSplit + fmtMaxMatch];

const std::uint8_t *text = nullptr;
std::int64_t historyEnd = 0; // 4096 + text length

// Chain heads and links hold position + 1; 0 ends a chain. Links are kept
// for the last 4096 positions only, which is all a match can reach.
std::uint32_t head[hashSize];
std::uint32_t link[fmtWindowSize];
// The same tables with every position of the primed window entered whose
// three bytes lie inside it, made once and copied at every item.
std::uint32_t primedHead[hashSize];
std::uint32_t primedLink[fmtWindowSize];
bool primedReady = false;

inline const std::uint8_t *at(std::int64_t pos) {
    return pos < joinedSplit ? joined + pos : text + (pos - encTextStart);
}

inline std::uint32_t hashOf(const std::uint8_t *p) {
    const std::uint32_t v =
        static_cast<std::uint32_t>(p[0]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | p[2];
    return (v * 2654435761u) >> (32 - hashBits);
}

void primeOnce() {
    // The window as the decoder primes it, oldest byte first.
    fmtPrimeWindow(joined);
    std::memset(head, 0, sizeof head);
    for (std::int64_t pos = 0; pos + 2 < primedLen; pos++) {
        const std::uint32_t h = hashOf(joined + pos);
        link[pos] = head[h];
        head[h] = static_cast<std::uint32_t>(pos + 1);
    }
    std::memcpy(primedHead, head, sizeof head);
    std::memcpy(primedLink, link, sizeof link);
    primedReady = true;
}

inline int matchLength(const std::uint8_t *a, const std::uint8_t *b, int maxLen) {
    int len = 0;
    while (len < maxLen && a[len] == b[len]) len++;
    return len;
}

} // namespace

void encHistoryBegin(const std::uint8_t *itemText, std::size_t n) {
    if (!primedReady) primeOnce();
    text = itemText;
    historyEnd = encTextStart + static_cast<std::int64_t>(n);
    const std::size_t joinedText = sizeof joined - fmtWindowSize;
    // An empty item may come without any text at all (a null pointer).
    if (n > 0) std::memcpy(joined + fmtWindowSize, itemText, n < joinedText ? n : joinedText);
    std::memcpy(head, primedHead, sizeof head);
    std::memcpy(link, primedLink, sizeof link);
    // The last two window positions begin three-byte prefixes that run into
    // the text: they become sources only now that the text is known.
    encHistoryInsert(primedLen - 2);
    encHistoryInsert(primedLen - 1);
}

std::uint8_t encHistoryByte(std::int64_t pos) {
    return *at(pos);
}

void encHistoryInsert(std::int64_t pos) {
    if (pos + 2 >= historyEnd) return;
    const std::uint32_t h = hashOf(at(pos));
    link[pos & (fmtWindowSize - 1)] = head[h];
    head[h] = static_cast<std::uint32_t>(pos + 1);
}

int encFindMatches(std::int64_t pos, int maxLen, int chainLimit, EncMatch *out) {
    if (pos + maxLen > historyEnd) maxLen = static_cast<int>(historyEnd - pos);
    if (maxLen > fmtMaxMatch) maxLen = fmtMaxMatch;
    if (maxLen < fmtMinMatch) return 0;
    // Sources at most 4096 bytes back: f = 4095 reads the oldest byte.
    const std::int64_t oldest = pos - fmtWindowSize;
    const std::uint8_t *cur = at(pos);
    // Below joinedSplit a source may lie in the primed window; from it on,
    // every source lies in the text (it is at most 4096 back).
    const bool inJoined = pos < joinedSplit;
    int count = 0;
    int best = fmtMinMatch - 1;
    std::uint32_t next = head[hashOf(cur)];
    for (int looked = 0; next != 0 && looked < chainLimit; looked++) {
        const std::int64_t src = static_cast<std::int64_t>(next) - 1;
        if (src < oldest) break;
        const std::uint8_t *p = inJoined ? joined + src : text + (src - encTextStart);
        if (p[best] == cur[best]) {
            const int len = matchLength(p, cur, maxLen);
            if (len > best) {
                best = len;
                out[count++] = EncMatch{len, static_cast<int>(pos - src - 1)};
                if (len == maxLen) break;
            }
        }
        next = link[src & (fmtWindowSize - 1)];
    }
    return count;
}

int encFindMatchesFullScan(std::int64_t pos, int maxLen, EncMatch *out) {
    if (pos + maxLen > historyEnd) maxLen = static_cast<int>(historyEnd - pos);
    if (maxLen > fmtMaxMatch) maxLen = fmtMaxMatch;
    int count = 0;
    int best = fmtMinMatch - 1;
    // Nearest source first, one byte at a time, so that an overlapping
    // source reads the bytes the match itself produces, as the copy does.
    for (int f = 0; f < fmtWindowSize; f++) {
        const std::int64_t src = pos - f - 1;
        if (src < 0) break;
        int len = 0;
        while (len < maxLen && encHistoryByte(src + len) == encHistoryByte(pos + len)) len++;
        if (len > best) {
            best = len;
            out[count++] = EncMatch{len, f};
        }
    }
    return count;
}
