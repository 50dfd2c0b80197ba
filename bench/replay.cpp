#include "replay.h"

#include <cstdio>
#include <cstdlib>

#include "huf/ordered.h"
#include "loops.h"
#include "textio/textio.h"
#include "window.h"

namespace {

// The tree's half; with check, each walk's symbol is compared with the
// recorded one. The count takes the walked leaf, not the recorded symbol,
// so that it waits for the walk as in the decoder.
template <bool Check> std::uint64_t replayTree(const BenchRecord &r, const char *name) {
    std::uint64_t sum = 0;
    std::uint32_t k = 0;
    for (const std::uint32_t end : r.itemEnds) {
        hufOrderedInit();
        for (; k < end; k++) {
            std::uint64_t word = r.words[k];
            const HufLeaf leaf = hufOrderedWalk(word);
            const int symbol = leaf.symbol;
            if constexpr (Check) {
                if (symbol != r.symbols[k]) {
                    std::fprintf(stderr,
                                 "quorlin_bench: %s: the replay walked symbol %u to %d, the "
                                 "recording read %d\n",
                                 name, k, symbol, r.symbols[k]);
                    std::exit(1);
                }
            }
            sum += static_cast<std::uint64_t>(symbol);
            hufOrderedUpdate(leaf.pos);
        }
    }
    return sum;
}

} // namespace

std::uint64_t benchReplayTree(const BenchRecord &r) {
    return replayTree<false>(r, nullptr);
}

std::uint64_t benchCheckReplayTree(const BenchRecord &r, const char *name) {
    return replayTree<true>(r, name);
}

void benchReplayRender(const BenchRecord &r) {
    std::uint32_t k = 0;
    for (const std::uint32_t end : r.itemEnds) {
        std::uint8_t *at = decRunStart();
        std::uint8_t lead = 0;
        std::uint8_t *out = txtReserve(txtReserveMax);
        std::uint8_t *limit = out + txtReserveMax;
        for (; k < end; k++) {
            if (static_cast<std::size_t>(limit - out) < decSymbolOutMax) {
                txtCommit(out);
                out = txtReserve(txtReserveMax);
                limit = out + txtReserveMax;
            }
            const int symbol = r.symbols[k];
            if (symbol < fmtLiteralCount) {
                const auto c = static_cast<std::uint8_t>(symbol);
                out = renderLiteral(c, &lead, out);
                *at++ = c;
            } else {
                const int len = symbol - fmtLiteralCount + fmtMinMatch;
                out = renderBytes(decRunCopy(at, r.distances[k], len), len, &lead, out);
                at += len;
            }
            at = decRunKeep(at);
        }
        txtCommit(out);
        txtLineEnd();
    }
}
