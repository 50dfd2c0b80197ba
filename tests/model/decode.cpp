// The decoding loop in its plainest form: one bit per itemGetBits call, the
// position code's class told by testing the bits of its value from the top
// (not by the format's prefix table, so that a fault there is not shared),
// and a window of its own copied byte by byte.
#include "format/format.h"
#include "item/item.h"
#include "model.h"

namespace {

constexpr int windowSize = fmtWindowSize;

// The distance value f of a position code's value disp.
int distanceOf(int disp) {
    if (disp & 0x2000) return disp - 0x3000;
    if (disp & 0x1000) return disp - 0x1200;
    if (disp & 0x800) return disp - 0x600;
    if (disp & 0x600) return disp - 0x180;
    if (disp & 0x180) return disp - 0x40;
    return disp;
}

int extraBitsOf(int prefix) {
    return prefix < 4    ? 4
           : prefix < 10 ? 5
           : prefix < 18 ? 6
           : prefix < 24 ? 7
           : prefix < 30 ? 8
                         : 9;
}

} // namespace

int mdlDecodeRaw(MdlTree &t, std::int32_t length, std::uint8_t *out, std::size_t capacity,
                 std::size_t *produced, std::vector<int> *symbols) {
    mdlInitTree(t);
    std::uint8_t window[windowSize];
    for (int i = 0; i < windowSize; i++)
        window[i] = i < fmtPresetSize ? presetText[i] : fmtWindowFill;
    int w = fmtFirstWritePos;
    std::size_t n = 0;
    auto put = [&](std::uint8_t c) {
        if (n < capacity) out[n] = c;
        n++;
        if (w == windowSize) w = 0;
        window[w++] = c;
    };
    int result = 0;
    for (std::int32_t remaining = length; remaining > 0;) {
        int node = 0;
        while (t.nodes[node].type == hufInternal) {
            const std::int32_t bit = itemGetBits(1);
            if (bit < 0) break;
            node = bit ? t.nodes[node].child1 : t.nodes[node].child0;
        }
        if (t.nodes[node].type == hufInternal) {
            result = -1;
            break;
        }
        const HufNode &leaf = t.nodes[node];
        if (leaf.type == hufLiteral) {
            put(leaf.value);
            remaining -= 1;
        } else {
            const std::int32_t prefix = itemGetBits(5);
            if (prefix < 0) {
                result = -1;
                break;
            }
            const int e = extraBitsOf(prefix);
            const std::int32_t x = itemGetBits(e);
            if (x < 0) {
                result = -1;
                break;
            }
            const int f = distanceOf(x + (prefix << e));
            int src = w - f - 1;
            if (src < 0) src += windowSize;
            for (int i = 0; i < leaf.value; i++) {
                if (src == windowSize) src = 0;
                put(window[src++]);
            }
            remaining -= leaf.value;
        }
        if (symbols != nullptr) symbols->push_back(mdlSymbolOf(leaf));
        mdlUpdate(t, node);
    }
    *produced = n;
    return result;
}
