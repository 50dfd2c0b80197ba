#pragma once
// The encoder's bit output: bits most significant first, as the item store
// hands them to the decoder, gathered in a static buffer and passed on to an
// EncWriter in pieces.
#include <cstdint>

#include "encode/encode.h"

// Starts a new item's output; forgets any earlier failure.
void encBitsBegin(const EncWriter *out);
// Appends whole bytes (the item header); the bit output must be at a byte
// boundary.
void encBitsBytes(const std::uint8_t *bytes, int n);
// Appends the low n bits of value (n from 0 to 32), highest first.
void encBitsPut(std::uint32_t value, int n);
// Pads the last byte with zero bits and passes everything on. The bytes
// written for the item, or -1 when the writer failed at any point.
std::int64_t encBitsEnd();

// Writes the code of a symbol (0-255 bytes, 256 + n length n + 3) with the
// tree as it stands, then counts the symbol in the tree exactly as the
// decoder will after reading it.
void encCodeSymbol(int symbol);
