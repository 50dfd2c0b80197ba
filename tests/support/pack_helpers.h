#pragma once
// Shared by the encoder's tests: stores written with the encoder into a
// fresh directory, read back with the decoder's raw seam.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "corpus.h"
#include "decode/decode.h"
#include "encode/store.h"
#include "fixture.h"
#include "item/item.h"
#include "model.h"

namespace pk {

using fx::Bytes;

// Writes items as a store into dir with the encoder; "" when it worked, else
// the store's failure text.
inline std::string pack(const std::string &dir, const std::vector<Bytes> &items,
                        bool overwrite = false) {
    if (encStoreBegin(dir.c_str(), overwrite) != 0) return encStoreFailure();
    for (const Bytes &item : items) {
        if (encStoreAdd(item.data(), item.size()) != 0) return encStoreFailure();
    }
    if (encStoreCommit() != 0) return encStoreFailure();
    return "";
}

// Every item of the store in dir as the decoder produces it, in raw bytes
// (or, with model, as the literal model decodes it); stops at the first item
// that cannot be selected, as the tool does.
inline std::vector<Bytes> unpack(const std::string &dir, bool model = false) {
    char old[4096];
    std::vector<Bytes> items;
    if (getcwd(old, sizeof old) == nullptr || chdir(dir.c_str()) != 0) {
        ADD_FAILURE() << "cannot enter " << dir;
        return items;
    }
    static MdlTree tree;
    if (itemOpen() == 0) {
        for (std::int32_t n = 0;; n++) {
            const std::int32_t length = itemSelect(n);
            if (length < 0) break;
            Bytes out(static_cast<std::size_t>(length) + 64);
            std::size_t produced = 0;
            const int result = model ? mdlDecodeRaw(tree, length, out.data(), out.size(), &produced)
                                     : decRawToArray(length, out.data(), out.size(), &produced);
            EXPECT_EQ(result, 0) << "item " << n << " ran out of bits";
            out.resize(produced < out.size() ? produced : out.size());
            items.push_back(out);
        }
        itemClose();
    } else {
        ADD_FAILURE() << "itemOpen failed in " << dir;
    }
    EXPECT_EQ(chdir(old), 0);
    return items;
}

// A temporary directory removed with the test.
struct TempDir {
    std::string path = fx::tempDir();
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

// Corpus entries first to last joined into one text.
inline Bytes corpusText(std::uint64_t seed, std::uint64_t first, std::size_t atLeast) {
    Bytes text;
    std::uint8_t entry[corpusEntryMax];
    for (std::uint64_t i = first; text.size() < atLeast; i++) {
        const std::size_t n = corpusEntry(seed, i, entry);
        text.insert(text.end(), entry, entry + n);
    }
    return text;
}

// Deterministic bytes for the tests (a linear congruential generator).
inline Bytes randomBytes(std::size_t n, std::uint32_t seed) {
    Bytes out(n);
    for (auto &b : out) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    return out;
}

inline std::vector<std::string> filesIn(const std::string &dir) {
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace pk
