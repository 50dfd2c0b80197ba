#pragma once
// A synthetic corpus of dictionary entries in Shift-JIS markup, the kind of
// text a store holds: a headword of kanji and kana, its reading, a part of
// speech, numbered senses built from a vocabulary whose words follow a Zipf
// distribution, examples and cross references, in the tags the decoder's
// preset knows. Deterministic: the same seed and index give the same entry
// on every machine, so measurements can be repeated and compared.
#include <cstddef>
#include <cstdint>

// Longest entry corpusEntry writes.
inline constexpr std::size_t corpusEntryMax = 2048;

// Writes entry index of the corpus for seed into buffer (room for
// corpusEntryMax bytes) and returns its length.
std::size_t corpusEntry(std::uint64_t seed, std::uint64_t index, std::uint8_t *buffer);
