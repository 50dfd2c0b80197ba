#include "stores.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <vector>

#include "corpus.h"
#include "encode/store.h"

namespace {

constexpr std::uint64_t corpusSeed = 1;
constexpr std::size_t largeItemBytes = 10000;

std::uint64_t fileSize(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

void check(int result) {
    if (result != 0) {
        std::fprintf(stderr, "quorlin_bench: %s\n", encStoreFailure());
        std::exit(1);
    }
}

} // namespace

const char *benchShapeName(BenchShape shape) {
    switch (shape) {
    case entryPerItem:
        return "entries";
    case largeItems:
        return "large";
    case singleItem:
        return "single";
    }
    return "?";
}

BenchStore benchMakeStore(const std::string &dir, BenchShape shape, std::uint64_t textBytes) {
    mkdir(dir.c_str(), 0755);
    BenchStore store{dir, 0, 0, 0, 0};
    std::vector<std::uint8_t> item;
    std::uint8_t entry[corpusEntryMax];
    const auto start = std::chrono::steady_clock::now();
    check(encStoreBegin(dir.c_str(), true));
    for (std::uint64_t i = 0; store.textBytes < textBytes; i++) {
        const std::size_t n = corpusEntry(corpusSeed, i, entry);
        item.insert(item.end(), entry, entry + n);
        store.textBytes += n;
        if (shape == entryPerItem || (shape == largeItems && item.size() >= largeItemBytes) ||
            store.textBytes >= textBytes) {
            check(encStoreAdd(item.data(), item.size()));
            store.items++;
            item.clear();
        }
    }
    check(encStoreCommit());
    store.packSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    store.storeBytes = fileSize(dir + "/itemloc.dat") + fileSize(dir + "/item.dat");
    return store;
}
