// The fast bit reader against a slow one written straight from the store's
// rules: one bit at a time from a 512-byte buffer with a byte position, a
// bit position and a count of the item's bytes still in item.dat. Random
// stores (items up to a few runs long, some cut short by the end of
// item.dat) and random call sequences must give identical results, call
// for call.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "fixture.h"
#include "item/item.h"
#include "store_dir.h"

namespace {

using fx::Bytes;

// item.dat as the slow reader sees it: its bytes, a read position and
// whether it is still open.
struct ModelFile {
    const Bytes *bytes;
    std::size_t pos;
    bool open;
};

struct ModelReader {
    const Bytes *index;
    ModelFile data;
    std::uint8_t buffer[512];
    int bufLen;
    int bufPos;
    int curByte;
    int bitPos;
    std::int32_t remaining;
    int refills; // reads of item.dat after the select's own
};

int modelRead(ModelFile &f, std::uint8_t *to, int want) {
    if (!f.open) return 0;
    const std::size_t left = f.pos < f.bytes->size() ? f.bytes->size() - f.pos : 0;
    const int got = static_cast<int>(std::min<std::size_t>(left, static_cast<std::size_t>(want)));
    std::copy_n(f.bytes->begin() + static_cast<std::ptrdiff_t>(f.pos), got, to);
    f.pos += static_cast<std::size_t>(got);
    return got;
}

// A state from which the next bit request refills and finds nothing.
void modelExhaust(ModelReader &m) {
    m.bufLen = 0;
    m.bufPos = 0;
    m.bitPos = -1;
    m.remaining = 0;
}

std::int32_t modelSelect(ModelReader &m, std::int32_t n) {
    modelExhaust(m);
    if (n < 0 || !m.data.open) return -1;
    const std::size_t at = static_cast<std::size_t>(n) * 16;
    if (at + 16 > m.index->size()) return -1;
    const std::uint8_t *r = m.index->data() + at;
    const std::uint32_t offset =
        std::uint32_t{r[0]} << 24 | std::uint32_t{r[1]} << 16 | std::uint32_t{r[2]} << 8 | r[3];
    const std::uint32_t stored =
        std::uint32_t{r[4]} << 24 | std::uint32_t{r[5]} << 16 | std::uint32_t{r[6]} << 8 | r[7];
    if (offset >= 0x80000000u || stored < 6) return -1;
    m.data.pos = offset;
    const int first = static_cast<int>(std::min<std::uint32_t>(stored, 512));
    if (modelRead(m.data, m.buffer, first) < first) return -1;
    const std::uint32_t decoded = std::uint32_t{m.buffer[2]} | std::uint32_t{m.buffer[3]} << 8 |
                                  std::uint32_t{m.buffer[4]} << 16 |
                                  std::uint32_t{m.buffer[5]} << 24;
    m.remaining = static_cast<std::int32_t>(stored - static_cast<std::uint32_t>(first));
    m.bufLen = first;
    m.refills = 0;
    if (first > 6) {
        m.bufPos = 6;
        m.curByte = m.buffer[6];
        m.bitPos = 7;
    } else {
        // No stream byte: the byte before it counts as used up.
        m.bufPos = first - 1;
        m.bitPos = -1;
    }
    return static_cast<std::int32_t>(decoded);
}

std::int32_t modelGetBits(ModelReader &m, int k) {
    std::int32_t result = 0;
    for (int i = 0; i < k; i++) {
        if (m.bitPos < 0) {
            if (m.bufPos < m.bufLen - 1) {
                m.bufPos++;
                m.curByte = m.buffer[m.bufPos];
            } else {
                if (m.remaining <= 0) return -1;
                const int want = std::min<std::int32_t>(m.remaining, 512);
                m.refills++;
                const int got = modelRead(m.data, m.buffer, want);
                if (got < want) {
                    m.data.open = false;
                    return -1;
                }
                m.remaining -= got;
                m.bufLen = got;
                m.bufPos = 0;
                m.curByte = m.buffer[0];
            }
            m.bitPos = 7;
        }
        result = result * 2 + (m.curByte >> m.bitPos & 1);
        m.bitPos--;
    }
    return result;
}

struct RandomStore {
    Bytes index;
    Bytes data;
};

// Items of sizes that favour the edges (below the header, header only, run
// boundaries) among uniform ones up to three runs, in shuffled order with
// gaps; sometimes the last item is cut short by the end of item.dat, and
// sometimes a record points past the end. Some gaps are nearly as long as
// the reader's 64 KiB block of item.dat, so that items and runs start and
// end on both sides of a block's end.
RandomStore randomStore(std::mt19937 &rng) {
    static const std::uint32_t edgeSizes[] = {0,   5,   6,    7,    8,    511, 512,
                                              513, 518, 1023, 1024, 1025, 1536};
    std::uniform_int_distribution<int> count(1, 6);
    std::uniform_int_distribution<int> coin(0, 3);
    std::uniform_int_distribution<std::uint32_t> size(6, 1600);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<std::size_t> gap(0, 40);
    const int n = count(rng);
    std::vector<std::uint32_t> sizes;
    for (int i = 0; i < n; i++) {
        sizes.push_back(coin(rng) == 0 ? edgeSizes[rng() % std::size(edgeSizes)] : size(rng));
    }
    RandomStore s;
    std::vector<fx::Record> records(static_cast<std::size_t>(n));
    std::vector<int> order(static_cast<std::size_t>(n));
    for (int i = 0; i < n; i++) order[static_cast<std::size_t>(i)] = i;
    std::shuffle(order.begin(), order.end(), rng);
    std::uniform_int_distribution<std::size_t> blockGap(64000, 66000);
    for (int i : order) {
        s.data.insert(s.data.end(), coin(rng) == 0 ? blockGap(rng) : gap(rng), 0xCC);
        const auto at = static_cast<std::uint32_t>(s.data.size());
        const std::uint32_t stored = sizes[static_cast<std::size_t>(i)];
        records[static_cast<std::size_t>(i)] = {at, stored};
        for (std::uint32_t b = 0; b < stored; b++) {
            s.data.push_back(static_cast<std::uint8_t>(byte(rng)));
        }
        if (stored >= 6) s.data[at + 5] &= 0x7F; // keep the decoded length non-negative
    }
    if (coin(rng) == 0) {
        // item.dat ends inside the last item laid out.
        const fx::Record &last = records[static_cast<std::size_t>(order.back())];
        if (last.stored > 0) {
            std::uniform_int_distribution<std::uint32_t> cut(0, last.stored - 1);
            s.data.resize(last.offset + cut(rng));
        }
    }
    if (coin(rng) == 0) records.push_back({static_cast<std::uint32_t>(s.data.size()) + 100, 50});
    s.index = fx::indexOf(records);
    return s;
}

struct ReaderModel : StoreDir {
    std::mt19937 rng{20240611};
    RandomStore store;
    ModelReader model{};

    void newStore() {
        itemClose();
        store = randomStore(rng);
        fx::writeStore(dir, store.index, store.data);
        ASSERT_EQ(itemOpen(), 0);
        model = ModelReader{};
        model.index = &store.index;
        model.data = {&store.data, 0, true};
        modelExhaust(model);
    }

    std::int32_t randomItemNumber() {
        const auto records = static_cast<std::int32_t>(store.index.size() / 16);
        return std::uniform_int_distribution<std::int32_t>(0, records)(rng);
    }
};

TEST_F(ReaderModel, GetBitsMatchesCallForCall) {
    std::uniform_int_distribution<int> bits(1, 9);
    std::uniform_int_distribution<int> percent(0, 99);
    for (int round = 0; round < 300; round++) {
        ASSERT_NO_FATAL_FAILURE(newStore());
        for (int select = 0; select < 4; select++) {
            const std::int32_t n = randomItemNumber();
            ASSERT_EQ(itemSelect(n), modelSelect(model, n)) << "round " << round << " item " << n;
            // Enough calls to reach past the end of the longest items.
            for (int call = 0; call < 1800; call++) {
                const int k = percent(rng) < 3 ? 0 : bits(rng);
                const std::int32_t expected = modelGetBits(model, k);
                ASSERT_EQ(itemGetBits(k), expected)
                    << "round " << round << " item " << n << " call " << call << " k " << k;
                if (expected < 0 && percent(rng) < 30) break;
            }
        }
    }
}

// itemPeekBits shows upcoming bits without reading item.dat any earlier
// than itemGetBits would; itemSkipBits consumes them.
TEST_F(ReaderModel, PeekAndSkipMatchOneBitAtATime) {
    std::uniform_int_distribution<int> percent(0, 99);
    for (int round = 0; round < 300; round++) {
        ASSERT_NO_FATAL_FAILURE(newStore());
        for (int select = 0; select < 4; select++) {
            const std::int32_t n = randomItemNumber();
            ASSERT_EQ(itemSelect(n), modelSelect(model, n)) << "round " << round << " item " << n;
            for (int call = 0; call < 800; call++) {
                std::uint64_t word = 0;
                const int valid = itemPeekBits(&word);
                if (valid < 0) {
                    EXPECT_EQ(modelGetBits(model, 1), -1) << "round " << round << " call " << call;
                    break;
                }
                ASSERT_GE(valid, 1);
                ASSERT_LE(valid, 64);
                // Every valid bit must be the model's next bit; the peek may
                // have loaded a new run only for the first of them.
                ModelReader ahead = model;
                for (int i = 0; i < valid; i++) {
                    const int refillsBefore = ahead.refills;
                    ASSERT_EQ(modelGetBits(ahead, 1), static_cast<int>(word >> (63 - i) & 1))
                        << "round " << round << " call " << call << " bit " << i;
                    if (i > 0) {
                        ASSERT_EQ(ahead.refills, refillsBefore) << "peek beyond the run";
                    }
                }
                // Skip some of them, sometimes none, sometimes all, or read on
                // with itemGetBits in between.
                int skip = std::uniform_int_distribution<int>(0, valid)(rng);
                if (percent(rng) < 20) skip = valid;
                itemSkipBits(skip);
                for (int i = 0; i < skip; i++) modelGetBits(model, 1);
                if (percent(rng) < 20) {
                    const int k = std::uniform_int_distribution<int>(1, 9)(rng);
                    ASSERT_EQ(itemGetBits(k), modelGetBits(model, k));
                }
            }
        }
    }
}

} // namespace
