// Traced decoding: the decoding loop on nodeTable, one bit per itemGetBits
// call, with the symbol trace (verbose >= 1), the exchanges (verbose >= 2,
// printed by the update) and the tree after every symbol (dump).
#include "huf/traced.h"
#include "item/item.h"
#include "loops.h"
#include "textio/textio.h"
#include "window.h"

namespace {

// Renders bytes into the output buffer, one reservation per symbol.
void print(const std::uint8_t *bytes, int n, std::uint8_t *lead) {
    std::uint8_t *out = txtReserve(decSymbolOutMax);
    txtCommit(renderBytes(bytes, n, lead, out));
}

} // namespace

int decTraced(std::int32_t remaining, int verbose, int dump) {
    // Every item starts from the starting tree, whoever decodes it.
    hufInitTree();
    std::uint8_t *at = decRunStart();
    std::int32_t rdispmax = 0;
    std::uint8_t lead = 0;
    int result = 0;

    while (remaining > 0) {
        // Walk the tree from the root to a leaf, one bit per level.
        int node = 0;
        while (nodeTable[node].type == hufInternal) {
            const std::int32_t bit = itemGetBits(1);
            if (bit < 0) break;
            if (verbose >= 1) txtPrintf("%c", bit ? '1' : '0');
            node = bit ? nodeTable[node].child1 : nodeTable[node].child0;
        }
        if (nodeTable[node].type == hufInternal) {
            result = -1;
            break;
        }
        if (verbose >= 1) txtPrintf(": ");

        const HufNode &leaf = nodeTable[node];
        if (leaf.type == hufLiteral) {
            const std::uint8_t c = leaf.value;
            if (verbose >= 1) txtPrintf("char=0x%02x '", c);
            print(&c, 1, &lead);
            *at++ = c;
            remaining -= 1;
        } else {
            const int len = leaf.value;
            const std::int32_t prefix = itemGetBits(fmtPrefixBits);
            if (prefix < 0) {
                result = -1;
                break;
            }
            if (verbose >= 1) txtPrintf("len=%d, ", len);
            const FmtPrefix &code = fmtPrefixes.of[prefix];
            const std::int32_t extra = itemGetBits(code.extraBits);
            if (extra < 0) {
                result = -1;
                break;
            }
            const int f = extra + code.baseF;
            if (f > rdispmax) rdispmax = f;
            if (verbose >= 1) {
                const int disp = prefix << code.extraBits | extra;
                txtPrintf("disp=%ld(%s[%c])->%ld '", static_cast<long>(disp),
                          bitString(disp, fmtPrefixBits + code.extraBits),
                          fmtPositionClasses[code.classIndex].letter, static_cast<long>(f));
            }
            remaining -= len;
            print(decRunCopy(at, f, len), len, &lead);
            at += len;
        }
        at = decRunKeep(at);
        if (verbose >= 1) txtPrintf("'\n");

        hufUpdate(node, verbose);
        if (dump) hufDumpTree();
    }

    // The item's line end; a held lead byte is dropped unprinted.
    txtLineEnd();
    if (verbose >= 1) txtPrintf("rdispmax = %ld\n", static_cast<long>(rdispmax));
    return result;
}
