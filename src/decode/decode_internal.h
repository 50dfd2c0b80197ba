#pragma once
// Seams of the decoder for the tests, the benchmark and the fuzz target.
#include <cstddef>
#include <cstdint>

// With on = true, hufDecode takes the slow, obviously correct path: one bit
// per itemGetBits call and the literal full-scan partner search. Its output
// must be identical to the fast path's in every case.
void hufDecodeUseOracle(bool on);

// Decodes the selected item like hufDecode without options, but stores the
// raw decoded bytes (up to capacity; *produced counts them all) instead of
// rendering them. 0 or -1 as hufDecode.
int hufDecodeRaw(std::int32_t length, std::uint8_t *out, std::size_t capacity,
                 std::size_t *produced);
