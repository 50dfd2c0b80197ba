#pragma once
// quorlin-unpack's two halves: the options (unpack.cpp) and the walk over the
// items asked for (unpack_walk.cpp).
#include <cstdint>

enum UnpackMode { unpackToStdout, unpackToFiles, unpackTest, unpackList };

struct UnpackOptions {
    UnpackMode mode = unpackToStdout;
    bool lines = false;
    bool force = false;
    const char *dir = nullptr;    // -C, nullptr for the current folder
    const char *outDir = nullptr; // -o
};

// Items first to last; last is itemToEnd for "to the end of the index".
struct UnpackRange {
    std::int64_t first;
    std::int64_t last;
};

// Opens the store, runs the items of the ranges (every item when there are
// none), closes the store; the exit status.
int unpackRun(const UnpackOptions &o, const UnpackRange *ranges, int rangeCount);
