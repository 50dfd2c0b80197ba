// Round-trip fuzz target: whatever bytes come in are encoded and decoded
// again, and must come back unchanged. The input is coded twice: whole, as
// one item through encItem, and cut into several items at every occurrence
// of its first byte, through the store builder. Each item is then read
// back as quorlin reads it (itemOpen, itemSelect, a fresh tree) and decoded
// to raw bytes; a different length, a failed decode or a changed byte
// aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "decode/decode.h"
#include "encode/encode.h"
#include "encode/store.h"
#include "item/item.h"

namespace {

// More items than this are not cut apart: the rest of the input stays in
// the last one, so that an input of one repeated byte does not become
// thousands of empty items.
constexpr std::size_t itemMax = 64;

[[noreturn]] void fail(const char *what, std::size_t item) {
    std::fprintf(stderr, "roundtrip: item %zu: %s\n", item, what);
    std::abort();
}

// The store's files live in a private directory, on a memory file system
// where there is one; the item reader takes them from the current directory,
// so each input runs there and the fuzzer's own directory is restored after
// it (the fuzzer writes its corpus to paths that may be relative).
std::string storePath;
int storeDir = -1;
int homeDir = -1;

void removeStore() {
    for (const char *name : {"itemloc.dat", "item.dat"}) unlink((storePath + "/" + name).c_str());
    rmdir(storePath.c_str());
}

void enterStoreDir() {
    if (storeDir < 0) {
        storePath = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        storePath += "/quorlin-roundtrip-XXXXXX";
        if (mkdtemp(storePath.data()) == nullptr) std::abort();
        storeDir = open(storePath.c_str(), O_RDONLY | O_DIRECTORY);
        homeDir = open(".", O_RDONLY | O_DIRECTORY);
        if (storeDir < 0 || homeDir < 0) std::abort();
        std::atexit(removeStore);
    }
    if (fchdir(storeDir) != 0) std::abort();
}

void leaveStoreDir() {
    if (fchdir(homeDir) != 0) std::abort();
}

int putBytes(void *context, const std::uint8_t *bytes, std::size_t n) {
    auto *out = static_cast<std::vector<std::uint8_t> *>(context);
    out->insert(out->end(), bytes, bytes + n);
    return 0;
}

bool writeWhole(const char *path, const std::uint8_t *p, std::size_t n) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return false;
    const bool ok = n == 0 || write(fd, p, n) == static_cast<ssize_t>(n);
    close(fd);
    return ok;
}

// Item j of the store in the current directory decodes to exactly the n
// bytes at text.
void expectItem(std::size_t j, const std::uint8_t *text, std::size_t n) {
    if (itemOpen() < 0) fail("the store cannot be opened", j);
    std::int32_t length;
    if (itemSelectStatus(static_cast<std::int32_t>(j), &length) != itemOk)
        fail("cannot be selected", j);
    if (static_cast<std::size_t>(length) != n) fail("wrong decoded length", j);
    // Room past the end shows bytes decoded beyond the length.
    std::vector<std::uint8_t> out(n + 64);
    std::size_t produced = 0;
    if (decRawToArray(length, out.data(), out.size(), &produced) != 0)
        fail("the bits ran out before the decoded length", j);
    if (produced != n) fail("decoded a different number of bytes", j);
    if (n > 0 && std::memcmp(out.data(), text, n) != 0) fail("decoded different bytes", j);
    itemClose();

    // Again as quorlin-unpack reads it: the store opened by folder, the
    // bytes handed over in chunks.
    if (itemOpenAt(".") < 0) fail("the store cannot be opened by folder", j);
    if (itemSelect(static_cast<std::int32_t>(j)) != length) fail("selected differently", j);
    std::vector<std::uint8_t> streamed;
    if (decRawToSink(length, putBytes, &streamed) != 0) fail("the stream ran out", j);
    if (streamed.size() != n || (n > 0 && std::memcmp(streamed.data(), text, n) != 0))
        fail("streamed different bytes", j);
    itemClose();
}

// The whole input as one item, coded by encItem into memory.
void oneItem(const std::uint8_t *data, std::size_t size) {
    std::vector<std::uint8_t> item;
    const EncWriter writer{putBytes, &item};
    const std::int64_t stored = encItem(data, size, &writer);
    if (stored < 0 || static_cast<std::size_t>(stored) != item.size())
        fail("encItem failed or miscounted", 0);
    std::uint8_t record[16] = {};
    for (int i = 0; i < 4; i++)
        record[4 + i] = static_cast<std::uint8_t>(item.size() >> (24 - 8 * i));
    if (!writeWhole("itemloc.dat", record, sizeof record) ||
        !writeWhole("item.dat", item.data(), item.size()))
        std::abort();
    expectItem(0, data, size);
}

// The input after its first byte, cut at every occurrence of that byte
// (which is left out), as a store of several items, empty ones included.
void severalItems(const std::uint8_t *data, std::size_t size) {
    if (size == 0) return;
    const std::uint8_t cut = data[0];
    struct Piece {
        std::size_t start, n;
    };
    std::vector<Piece> pieces;
    std::size_t start = 1;
    for (std::size_t i = 1; i < size && pieces.size() + 1 < itemMax; i++) {
        if (data[i] == cut) {
            pieces.push_back({start, i - start});
            start = i + 1;
        }
    }
    pieces.push_back({start, size - start});

    if (encStoreBegin(nullptr, true) != 0) fail(encStoreFailure(), 0);
    for (std::size_t j = 0; j < pieces.size(); j++) {
        if (encStoreAdd(data + pieces[j].start, pieces[j].n) != 0) fail(encStoreFailure(), j);
    }
    if (encStoreCommit() != 0) fail(encStoreFailure(), pieces.size());
    for (std::size_t j = 0; j < pieces.size(); j++) {
        expectItem(j, data + pieces[j].start, pieces[j].n);
    }
    // The index ends after the last item.
    if (itemOpen() < 0) fail("the store cannot be opened", pieces.size());
    std::int32_t length;
    if (itemSelectStatus(static_cast<std::int32_t>(pieces.size()), &length) != itemIndexEnds)
        fail("an item past the last one", pieces.size());
    itemClose();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    enterStoreDir();
    oneItem(data, size);
    severalItems(data, size);
    leaveStoreDir();
    return 0;
}
