#pragma once
// Shared by the sources of src/place only: what a signal handler removes.
#include <cstddef>

// Paths are kept in fixed arrays, so that the handler can remove them
// without touching anything that allocates.
inline constexpr std::size_t placePathMax = 4096;

// Removes every registered file and folder; safe in a signal handler.
void placeRemoveAll();
// The two halves of it.
void placeRemoveFiles();
void placeRemoveDirs();
