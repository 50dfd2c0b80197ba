#pragma once
// The item encoder: the inverse of the item decoder. Each item is coded over
// the same primed window and with the same adaptive code tree the decoder
// will rebuild, so that it decodes to exactly the bytes that went in.
#include <cstddef>
#include <cstdint>

#include "format/format.h"

// Largest text of one item: the header's decoded length is a signed 32-bit
// number, and a negative one is taken as a failure by every reader.
inline constexpr std::size_t encItemMax = fmtLengthMax;

// Where coded bytes go. put returns 0, or -1 to abandon the item.
struct EncWriter {
    int (*put)(void *context, const std::uint8_t *bytes, std::size_t n);
    void *context;
};

// Codes one item (the 6-byte header, then the bit stream padded with zero
// bits to a whole byte) and hands it to out in pieces of at most 64 KiB.
// The number of bytes written (the item's stored length), or -1 when n is
// above encItemMax or out->put failed. Starts from the starting tree and the
// primed window, as the decoder does: nothing of an earlier item carries
// over. Allocates nothing.
std::int64_t encItem(const std::uint8_t *text, std::size_t n, const EncWriter *out);

// Calls report now and then while an item is coded (every 64 KiB of text),
// with the bytes of the item's text coded so far, so that a long item can
// show progress; nullptr for no calls.
void encSetProgress(void (*report)(std::size_t done));
