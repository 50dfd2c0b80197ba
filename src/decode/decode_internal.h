#pragma once
// Seams of the decoder for the tests, the benchmark and the fuzz target.
#include <cstddef>
#include <cstdint>

// Decodes the selected item like hufDecode without options, but stores the
// raw decoded bytes (up to capacity; *produced counts them all) instead of
// rendering them. 0 or -1 as hufDecode.
int hufDecodeRaw(std::int32_t length, std::uint8_t *out, std::size_t capacity,
                 std::size_t *produced);
