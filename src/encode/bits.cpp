#include "bits.h"

#include "huf/ordered.h"

namespace {

// 64 KiB per hand-over keeps the writer's calls rare.
constexpr std::size_t bufferSize = 1 << 16;
std::uint8_t buffer[bufferSize];
std::size_t used = 0;
// Bits not yet in the buffer, the first of them at bit 63.
std::uint64_t pending = 0;
int pendingBits = 0;
const EncWriter *writer = nullptr;
std::int64_t written = 0;
bool failed = false;

void handOver() {
    if (used == 0) return;
    if (!failed && writer->put(writer->context, buffer, used) != 0) failed = true;
    written += static_cast<std::int64_t>(used);
    used = 0;
}

} // namespace

void encBitsBegin(const EncWriter *out) {
    writer = out;
    used = 0;
    pending = 0;
    pendingBits = 0;
    written = 0;
    failed = false;
}

void encBitsBytes(const std::uint8_t *bytes, int n) {
    for (int i = 0; i < n; i++) encBitsPut(bytes[i], 8);
}

void encBitsPut(std::uint32_t value, int n) {
    if (n == 0) return;
    pending |= (static_cast<std::uint64_t>(value) & ((std::uint64_t{1} << n) - 1))
               << (64 - pendingBits - n);
    pendingBits += n;
    while (pendingBits >= 8) {
        if (used == bufferSize) handOver();
        buffer[used++] = static_cast<std::uint8_t>(pending >> 56);
        pending <<= 8;
        pendingBits -= 8;
    }
}

std::int64_t encBitsEnd() {
    if (pendingBits > 0) encBitsPut(0, 8 - pendingBits);
    handOver();
    return failed ? -1 : written;
}

void encCodeSymbol(int symbol) {
    // The whole code in one put.
    const std::intptr_t leaf = hufOrderedLeaf(symbol);
    const HufCode code = hufOrderedCode(leaf);
    encBitsPut(code.bits, code.length);
    // The decoder's own count on the same form of the tree.
    hufOrderedUpdate(leaf);
}
