#pragma once
// Writing a whole store (itemloc.dat and item.dat) in a directory. The new
// store goes to temporary files beside the final ones (files in flight of
// the place registry, which a signal caught by placeCatchSignals removes)
// and replaces them only when every item was written and synced; on any
// failure the temporary files and the folders made for them are removed and
// nothing of the old store is touched.
//
// Calling order: encStoreBegin, any number of encStoreAdd, then
// encStoreCommit, or encStoreAbort at any point. Every function returns 0 or
// -1; after -1, encStoreFailure() says what went wrong and the store is
// already abandoned (its temporary files removed).
#include <cstddef>
#include <cstdint>

#include "format/format.h"

// Largest offset or stored length in the index: readers take both as signed
// 32-bit numbers, so a store's items must all start below 2 GiB.
inline constexpr std::uint32_t encStoreLimit = fmtLengthMax;

// Starts a store in dir (nullptr or "" for the current directory). Unless
// overwrite is set, fails when itemloc.dat or item.dat already exists there.
// A missing dir is created with any missing folders above it; if the store
// then fails or is abandoned, the folders created for it are removed again.
int encStoreBegin(const char *dir, bool overwrite);

// Appends the next item (item numbers count from 0 in the order of calls).
int encStoreAdd(const std::uint8_t *text, std::size_t n);

// Syncs the temporary files and renames them into place: item.dat first,
// then itemloc.dat. Without overwrite, an existing file is never replaced,
// even one that appeared after encStoreBegin.
int encStoreCommit();

// Removes the temporary files of a store in progress; harmless otherwise.
void encStoreAbort();

// What the last failure was, as "what: why" (e.g. "cannot write
// out/item.dat: No space left on device"), for the caller's message.
const char *encStoreFailure();

// The system error number behind the last failure, 0 for none (EEXIST when
// a store is already there and overwrite was not given).
int encStoreErrno();

// Items added and bytes written so far (for the caller's summary).
std::uint64_t encStoreItems();
std::uint64_t encStoreBytes();
