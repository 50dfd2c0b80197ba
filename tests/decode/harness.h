#pragma once
// In-process decoding of crafted stores for the decoder's tests: a symbol
// list is coded with the literal model's tree, written as a store, decoded
// with standard output captured in a file, and checked against a plain model
// of the window or the literal model's decoder.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "decode/decode.h"
#include "fixture.h"
#include "format/format.h"
#include "item/item.h"
#include "model.h"
#include "textio/textio.h"

namespace dh {

// One symbol of a crafted stream: a literal byte, or a match of len bytes
// from distance value f (the source lies f + 1 bytes behind the write
// position).
struct Sym {
    bool match;
    int value; // the literal byte, or the match length
    int f;
};
inline Sym lit(int byte) {
    return {false, byte, 0};
}
inline Sym copy(int len, int f) {
    return {true, len, f};
}
inline std::vector<Sym> lits(const std::string &text) {
    std::vector<Sym> out;
    for (char c : text) out.push_back(lit(static_cast<unsigned char>(c)));
    return out;
}
inline std::vector<Sym> operator+(std::vector<Sym> a, const std::vector<Sym> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The symbols coded from a freshly reset tree, as the decoder will read them.
inline fx::BitWriter encode(const std::vector<Sym> &syms) {
    fx::codeReset();
    fx::BitWriter w;
    for (const Sym &s : syms) {
        if (s.match) {
            fx::codeMatch(w, s.value, s.f);
        } else {
            fx::codeLiteral(w, static_cast<std::uint8_t>(s.value));
        }
    }
    return w;
}

// Appends bits given as '0'/'1' characters.
inline void putBitString(fx::BitWriter &w, const std::string &bits) {
    for (char c : bits) fx::putBits(w, c == '1' ? 1u : 0u, 1);
}

// The bytes an item decodes to, by the plain rules: the window filled, the
// preset at 0, writing from the first write position, every match copied in
// full byte by byte with both positions wrapping.
inline fx::Bytes modelBytes(const std::vector<Sym> &syms) {
    constexpr int size = fmtWindowSize;
    std::uint8_t window[size];
    for (int i = 0; i < size; i++) window[i] = i < fmtPresetSize ? presetText[i] : fmtWindowFill;
    int w = fmtFirstWritePos;
    fx::Bytes out;
    for (const Sym &s : syms) {
        if (!s.match) {
            if (w == size) w = 0;
            window[w++] = static_cast<std::uint8_t>(s.value);
            out.push_back(static_cast<std::uint8_t>(s.value));
            continue;
        }
        int src = w - s.f - 1;
        if (src < 0) src += size;
        for (int i = 0; i < s.value; i++) {
            if (src == size) src = 0;
            if (w == size) w = 0;
            out.push_back(window[src]);
            window[w++] = window[src++];
        }
    }
    return out;
}

// A store directory holding the given items one after another.
inline std::string storeOf(const std::vector<fx::Bytes> &items) {
    const std::string dir = fx::tempDir();
    fx::writeItems(dir, items);
    return dir;
}

// Runs body in dir with the store open and item n selected; the decoded
// length is passed.
template <typename Body> void withItem(const std::string &dir, int n, Body body) {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    if (itemOpen() == 0) {
        const std::int32_t length = itemSelect(n);
        if (length >= 0) {
            body(length);
        } else {
            ADD_FAILURE() << "item " << n << " cannot be selected";
        }
        itemClose();
    } else {
        ADD_FAILURE() << "store in " << dir << " cannot be opened";
    }
    ASSERT_EQ(chdir(cwd), 0);
}

struct Decoded {
    std::string out; // every byte written to standard output
    int result = -2;
};

// hufDecode of item n with standard output captured.
inline Decoded decodeIn(const std::string &dir, int n, int verbose, int dump) {
    Decoded d;
    const std::string outPath = dir + "/.captured";
    const int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(fd, 0);
    if (fd < 0) return d;
    withItem(dir, n, [&](std::int32_t length) {
        txtSetOutput(fd);
        d.result = hufDecode(length, verbose, dump);
        EXPECT_EQ(txtFlush(), 0);
        txtSetOutput(1);
    });
    close(fd);
    d.out = fx::textOf(fx::readFile(outPath));
    std::remove(outPath.c_str());
    return d;
}

struct RawDecoded {
    fx::Bytes bytes;
    std::size_t produced = 0;
    int result = -2;
};

// decRawToArray of item n: the decoded bytes without rendering.
inline RawDecoded rawIn(const std::string &dir, int n) {
    RawDecoded r;
    withItem(dir, n, [&](std::int32_t length) {
        r.bytes.resize(static_cast<std::size_t>(length) + 64);
        r.result = decRawToArray(length, r.bytes.data(), r.bytes.size(), &r.produced);
        r.bytes.resize(r.produced < r.bytes.size() ? r.produced : r.bytes.size());
    });
    return r;
}

// The literal model's decoding of item n, leaving its tree in *tree and the
// symbols it read in *symbols when they are given.
inline RawDecoded modelIn(const std::string &dir, int n, MdlTree *tree = nullptr,
                          std::vector<int> *symbols = nullptr) {
    static MdlTree own;
    RawDecoded r;
    withItem(dir, n, [&](std::int32_t length) {
        r.bytes.resize(static_cast<std::size_t>(length) + 64);
        r.result = mdlDecodeRaw(tree ? *tree : own, length, r.bytes.data(), r.bytes.size(),
                                &r.produced, symbols);
        r.bytes.resize(r.produced < r.bytes.size() ? r.produced : r.bytes.size());
    });
    return r;
}

// Removes a store directory made by storeOf.
inline void removeStore(const std::string &dir) {
    std::remove((dir + "/itemloc.dat").c_str());
    std::remove((dir + "/item.dat").c_str());
    rmdir(dir.c_str());
}

} // namespace dh
