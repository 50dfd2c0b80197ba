#pragma once
// The window of every item is primed with this markup vocabulary (Shift-JIS):
// empty elements and tag pairs, runs of double-byte brackets and punctuation,
// and the headings, so that even the first bytes of an item can be
// coded as matches. The decoder copies it whole to window positions 0 to 1320
// before each item.
#include <cstdint>

inline constexpr int fmtPresetSize = 1321;
extern const std::uint8_t presetText[fmtPresetSize];
