// The fast decoder against the slow oracle path (one bit per read, full-scan
// partner search) and against the plain window model, on generated stores:
// random symbol streams, the same streams cut short, and long items that
// pass several rebuilds of the tree.
#include "harness.h"

#include "huf/ordered.h"

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

using dh::Sym;

// A random stream: literals from a small skewed alphabet (frequent symbols
// climb the tree and force exchanges) mixed with any byte, and matches of
// every length with distances near and far, class edges included.
std::vector<Sym> randomStream(std::mt19937 &rng, int symbols) {
    static const int edges[] = {0, 1, 63, 64, 255, 256, 767, 768, 1535, 1536, 3071, 3072, 4095};
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> anyByte(0, 255);
    std::uniform_int_distribution<int> anyLen(3, 60);
    std::uniform_int_distribution<int> anyF(0, 4095);
    std::geometric_distribution<int> skew(0.15);
    static const char alphabet[] = "etaoin shrdlu<>/\x81\x82\xa0";
    const int alphabetSize = static_cast<int>(sizeof alphabet) - 1;
    std::vector<Sym> out;
    for (int i = 0; i < symbols; i++) {
        const int p = percent(rng);
        if (p < 45) {
            out.push_back(dh::lit(static_cast<unsigned char>(alphabet[skew(rng) % alphabetSize])));
        } else if (p < 70) {
            out.push_back(dh::lit(anyByte(rng)));
        } else if (p < 80) {
            out.push_back(dh::copy(3 + skew(rng) % 58, edges[anyByte(rng) % 13]));
        } else if (p < 90) {
            out.push_back(dh::copy(anyLen(rng), skew(rng) % 64));
        } else {
            out.push_back(dh::copy(anyLen(rng), anyF(rng)));
        }
    }
    return out;
}

// A stream dominated by a few symbols, long enough to pass the rebuild at
// root weight 0x8000 (after 32454 symbols) several times.
std::vector<Sym> longStream(std::mt19937 &rng, int symbols) {
    std::vector<Sym> out = randomStream(rng, symbols / 10);
    std::geometric_distribution<int> skew(0.3);
    std::uniform_int_distribution<int> percent(0, 99);
    while (static_cast<int>(out.size()) < symbols) {
        if (percent(rng) < 90) {
            out.push_back(dh::lit('a' + skew(rng) % 26));
        } else {
            out.push_back(dh::copy(3 + skew(rng) % 58, skew(rng) % 4096));
        }
    }
    return out;
}

struct Generated {
    fx::Bytes item;
    fx::Bytes expected; // the model's bytes; for a cut item, those it still reaches
    bool cut;
    bool small; // small enough to compare the -vv and -d traces
};

std::vector<Generated> generate() {
    std::mt19937 rng(20240611);
    std::vector<Generated> items;
    std::uniform_int_distribution<int> size(1, 300);
    for (int i = 0; i < 40; i++) {
        const int n = i < 10 ? 1 + i : size(rng);
        const std::vector<Sym> syms = randomStream(rng, n);
        const fx::Bytes bytes = dh::modelBytes(syms);
        const fx::Bytes item =
            fx::itemOf(static_cast<std::int32_t>(bytes.size()), dh::encode(syms));
        items.push_back({item, bytes, false, n <= 40});

        // The same item cut short by 1 to 3 bytes: the last symbols lose bits.
        fx::Bytes cut = item;
        const std::size_t drop = 1 + static_cast<std::size_t>(i % 3);
        if (cut.size() < 6 + drop) continue;
        cut.resize(cut.size() - drop);
        items.push_back({cut, bytes, true, n <= 40});
    }
    for (int symbols : {40000, 90000}) {
        const std::vector<Sym> syms = longStream(rng, symbols);
        const fx::Bytes bytes = dh::modelBytes(syms);
        items.push_back({fx::itemOf(static_cast<std::int32_t>(bytes.size()), dh::encode(syms)),
                         bytes, false, false});
    }
    return items;
}

// The text of a -v trace: what stands between the apostrophes of the symbol
// lines, then the item's line end. A held lead byte shows up in the line of
// its trail, so this is the plain output exactly.
std::string tracedText(const std::string &traced) {
    std::string text;
    std::size_t start = 0;
    for (std::size_t end; (end = traced.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        const std::string line = traced.substr(start, end - start);
        const std::size_t open = line.find('\'');
        const std::size_t close = line.rfind('\'');
        if (open != std::string::npos && close > open)
            text += line.substr(open + 1, close - open - 1);
    }
    return text + "\r\n";
}

// A store of the generated items, in their order.
std::string storeOfGenerated(const std::vector<Generated> &items) {
    std::vector<fx::Bytes> stored;
    for (const Generated &g : items) stored.push_back(g.item);
    return dh::storeOf(stored);
}

TEST(Oracle, FastPathPrintsWhatTheOraclePrints) {
    const std::vector<Generated> items = generate();
    const std::string dir = storeOfGenerated(items);

    for (std::size_t n = 0; n < items.size(); n++) {
        const Generated &g = items[n];
        SCOPED_TRACE("item " + std::to_string(n) + (g.cut ? " (cut)" : ""));
        const int item = static_cast<int>(n);

        struct Mode {
            int verbose, dump;
        };
        std::string plain;
        std::vector<Mode> modes = {{0, 0}, {1, 0}};
        if (g.small) modes.insert(modes.end(), {{2, 0}, {0, 1}, {2, 1}});
        for (const Mode &m : modes) {
            SCOPED_TRACE("verbose " + std::to_string(m.verbose) + " dump " +
                         std::to_string(m.dump));
            const dh::Decoded fast = dh::decodeIn(dir, item, m.verbose, m.dump, false);
            const dh::Decoded slow = dh::decodeIn(dir, item, m.verbose, m.dump, true);
            EXPECT_EQ(fast.result, slow.result);
            EXPECT_EQ(fast.result, g.cut ? -1 : 0);
            ASSERT_EQ(fast.out.size(), slow.out.size());
            ASSERT_TRUE(fast.out == slow.out) << "outputs differ";
            if (m.verbose == 0 && m.dump == 0) plain = fast.out;
            if (m.verbose == 1 && m.dump == 0) {
                EXPECT_TRUE(tracedText(fast.out) == plain) << "the trace shows other text";
            }
        }

        for (bool oracle : {false, true}) {
            SCOPED_TRACE(oracle ? "raw, oracle" : "raw, fast");
            const dh::RawDecoded raw = dh::rawIn(dir, item, oracle);
            EXPECT_EQ(raw.result, g.cut ? -1 : 0);
            if (g.cut) {
                // Whole symbols only: a prefix of the model's bytes, shorter.
                ASSERT_LT(raw.bytes.size(), g.expected.size());
                EXPECT_TRUE(std::equal(raw.bytes.begin(), raw.bytes.end(), g.expected.begin()));
            } else {
                EXPECT_TRUE(raw.bytes == g.expected) << "raw bytes differ from the model";
            }
        }
    }
    dh::removeStore(dir);
}

// The long items really pass rebuilds, or the test above proves less than it
// claims: the -v trace shows the notice once per rebuild.
TEST(Oracle, LongItemsPassSeveralRebuilds) {
    const std::vector<Generated> items = generate();
    const Generated &longest = items.back();
    const std::string dir = dh::storeOf({longest.item});
    const dh::Decoded d = dh::decodeIn(dir, 0, 1, 0, false);
    int rebuilds = 0;
    for (std::size_t at = d.out.find("WEIGHT FULL"); at != std::string::npos;
         at = d.out.find("WEIGHT FULL", at + 1)) {
        rebuilds++;
    }
    EXPECT_GE(rebuilds, 3);
    dh::removeStore(dir);
}

// The node fields every decoder keeps alike; the exchange marks are left to
// the traces.
struct TreeState {
    std::vector<std::int32_t> fields;
};

TreeState treeNow() {
    hufSettleTree();
    TreeState t;
    t.fields.push_back(nodeCount);
    for (int n = 0; n < hufNodeMax; n++) {
        const HufNode &x = nodeTable[n];
        t.fields.insert(t.fields.end(),
                        {x.weight, x.order, x.parent, x.child0, x.child1, x.type, x.value});
    }
    for (int k = 1; k <= hufNodeMax; k++) t.fields.push_back(orderTable[k]);
    return t;
}

// The plain decoder keeps the tree in a form of its own; brought back into
// nodeTable it is the oracle's tree node for node, node indices included,
// also after rebuilds and after a cut item.
TEST(Oracle, FastPathLeavesTheOraclesTree) {
    const std::vector<Generated> items = generate();
    const std::string dir = storeOfGenerated(items);
    for (std::size_t n = 0; n < items.size(); n++) {
        SCOPED_TRACE("item " + std::to_string(n) + (items[n].cut ? " (cut)" : ""));
        TreeState fast, slow;
        dh::rawIn(dir, static_cast<int>(n), false);
        fast = treeNow();
        dh::rawIn(dir, static_cast<int>(n), true);
        slow = treeNow();
        ASSERT_TRUE(fast.fields == slow.fields) << "the trees differ";
    }
    dh::removeStore(dir);
}

// A plain decode starts from the tree as it stands, not from a fresh one:
// adapted by updates (taken over into the plain decoder's form), or set by
// hand in a shape that form cannot hold (decoded on nodeTable itself).
TEST(Oracle, PlainDecodeStartsFromTheTreeAsItStands) {
    std::mt19937 rng(77);
    const std::vector<Sym> syms = randomStream(rng, 400);
    const std::string dir = dh::storeOf(
        {fx::itemOf(static_cast<std::int32_t>(dh::modelBytes(syms).size()), dh::encode(syms))});

    struct Setup {
        const char *name;
        void (*apply)();
        bool fitsOrderedForm;
    };
    const Setup setups[] = {
        {"adapted by updates",
         [] {
             for (int i = 0; i < 500; i++) hufUpdate(hufLeafOf(i * 7 % 40 + (i % 3) * 90), 0);
         },
         true},
        {"children swapped by hand",
         [] {
             // The root's 0 child now has the higher order number.
             std::swap(nodeTable[0].child0, nodeTable[0].child1);
             hufSyncSideTables();
         },
         false},
        {"a length leaf set by hand beyond the longest match",
         [] {
             // Copies of 255 bytes, past any buffer sized for 60.
             nodeTable[hufLeafOf(256)].value = 255;
             hufSyncSideTables();
         },
         false},
    };
    for (const Setup &setup : setups) {
        SCOPED_TRACE(setup.name);
        std::vector<fx::Bytes> outputs;
        std::vector<int> results;
        for (bool oracle : {false, true}) {
            dh::withItem(dir, 0, [&](std::int32_t length) {
                setup.apply();
                if (!oracle) {
                    EXPECT_EQ(hufOrderedTake(), setup.fitsOrderedForm);
                }
                fx::Bytes bytes(static_cast<std::size_t>(length) + 64);
                std::size_t produced = 0;
                hufDecodeUseOracle(oracle);
                results.push_back(hufDecodeRaw(length, bytes.data(), bytes.size(), &produced));
                hufDecodeUseOracle(false);
                bytes.resize(produced < bytes.size() ? produced : bytes.size());
                outputs.push_back(bytes);
            });
        }
        ASSERT_EQ(outputs.size(), 2u);
        EXPECT_EQ(results[0], results[1]);
        EXPECT_TRUE(outputs[0] == outputs[1]) << "fast and oracle decode differently";
        // Not the fresh tree's bytes: the starting tree mattered.
        EXPECT_FALSE(outputs[0] == dh::modelBytes(syms));
    }
    dh::removeStore(dir);
}

// Trees set by hand that the ordered form must not take: a node of weight 0
// could be exchanged with its own ancestor.
TEST(Oracle, OrderedFormRefusesWeightZero) {
    hufInitTree();
    nodeTable[hufLeafOf(0x00)].weight = 0;
    hufSyncSideTables();
    EXPECT_FALSE(hufOrderedTake());
    hufInitTree();
    EXPECT_TRUE(hufOrderedTake());
    hufInitTree();
}

} // namespace
