// The decoder against the literal model (one bit per read, full-scan partner
// search, literal rebuild) and against the plain window model, on generated
// stores: random symbol streams, the same streams cut short, and long items
// that pass several rebuilds of the tree.
#include "harness.h"

#include "huf/ordered.h"
#include "render.h"

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
    // A short item after the long ones starts from the starting tree again.
    const std::vector<Sym> syms = randomStream(rng, 200);
    const fx::Bytes bytes = dh::modelBytes(syms);
    items.push_back({fx::itemOf(static_cast<std::int32_t>(bytes.size()), dh::encode(syms)), bytes,
                     false, false});
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

// Raw bytes rendered as the line the tool prints for them.
std::string printedLine(const fx::Bytes &bytes) {
    std::vector<std::uint8_t> rendered(bytes.size() * 4 + 8);
    std::uint8_t lead = 0;
    std::uint8_t *end =
        renderBytes(bytes.data(), static_cast<int>(bytes.size()), &lead, rendered.data());
    return std::string(rendered.data(), end) + "\r\n";
}

TEST(Oracle, PlainDecodingAgreesWithTheModel) {
    const std::vector<Generated> items = generate();
    const std::string dir = storeOfGenerated(items);

    for (std::size_t n = 0; n < items.size(); n++) {
        const Generated &g = items[n];
        SCOPED_TRACE("item " + std::to_string(n) + (g.cut ? " (cut)" : ""));
        const int item = static_cast<int>(n);

        const dh::RawDecoded model = dh::modelIn(dir, item);
        EXPECT_EQ(model.result, g.cut ? -1 : 0);
        if (g.cut) {
            // Whole symbols only: a prefix of the window model's bytes, shorter.
            ASSERT_LT(model.bytes.size(), g.expected.size());
            EXPECT_TRUE(std::equal(model.bytes.begin(), model.bytes.end(), g.expected.begin()));
        } else {
            EXPECT_TRUE(model.bytes == g.expected) << "the model differs from the window model";
        }

        const dh::RawDecoded raw = dh::rawIn(dir, item);
        EXPECT_EQ(raw.result, model.result);
        EXPECT_EQ(raw.produced, model.produced);
        EXPECT_TRUE(raw.bytes == model.bytes) << "raw bytes differ from the model's";

        const dh::Decoded plain = dh::decodeIn(dir, item, 0, 0);
        EXPECT_EQ(plain.result, model.result);
        ASSERT_TRUE(plain.out == printedLine(model.bytes)) << "the printed line differs";
        const dh::Decoded traced = dh::decodeIn(dir, item, 1, 0);
        EXPECT_EQ(traced.result, model.result);
        EXPECT_TRUE(tracedText(traced.out) == plain.out) << "the trace shows other text";
    }
    dh::removeStore(dir);
}

// The traced decoder keeps nodeTable exactly as the model keeps its tree,
// exchange marks included, whatever it prints: the symbol trace, the
// exchanges, the tree dumps.
TEST(Oracle, TracedDecodingKeepsTheModelsTree) {
    const std::vector<Generated> items = generate();
    const std::string dir = storeOfGenerated(items);
    static MdlTree model, traced;
    for (std::size_t n = 0; n < items.size(); n++) {
        const Generated &g = items[n];
        SCOPED_TRACE("item " + std::to_string(n) + (g.cut ? " (cut)" : ""));
        const int item = static_cast<int>(n);
        const dh::RawDecoded m = dh::modelIn(dir, item, &model);
        struct Mode {
            int verbose, dump;
        };
        std::vector<Mode> modes = {{1, 0}};
        if (g.small) modes.insert(modes.end(), {{2, 0}, {0, 1}, {2, 1}});
        for (const Mode &mode : modes) {
            SCOPED_TRACE("verbose " + std::to_string(mode.verbose) + " dump " +
                         std::to_string(mode.dump));
            const dh::Decoded d = dh::decodeIn(dir, item, mode.verbose, mode.dump);
            EXPECT_EQ(d.result, m.result);
            mdlCopyNodeTable(traced);
            ASSERT_EQ(mdlTreeDiff(model, traced), "");
        }
    }
    dh::removeStore(dir);
}

// The long items really pass rebuilds, or the tests above prove less than
// they claim: the -v trace shows the notice once per rebuild.
TEST(Oracle, LongItemsPassSeveralRebuilds) {
    const std::vector<Generated> items = generate();
    const Generated *longest = &items[0];
    for (const Generated &g : items) {
        if (g.expected.size() > longest->expected.size()) longest = &g;
    }
    const std::string dir = dh::storeOf({longest->item});
    const dh::Decoded d = dh::decodeIn(dir, 0, 1, 0);
    int rebuilds = 0;
    for (std::size_t at = d.out.find("WEIGHT FULL"); at != std::string::npos;
         at = d.out.find("WEIGHT FULL", at + 1)) {
        rebuilds++;
    }
    EXPECT_GE(rebuilds, 3);
    dh::removeStore(dir);
}

// The plain decoder keeps the tree in a form of its own; described by order
// number it is the model's tree, also after rebuilds and after a cut item.
TEST(Oracle, PlainDecodingLeavesTheModelsTree) {
    const std::vector<Generated> items = generate();
    const std::string dir = storeOfGenerated(items);
    static MdlTree model;
    for (std::size_t n = 0; n < items.size(); n++) {
        SCOPED_TRACE("item " + std::to_string(n) + (items[n].cut ? " (cut)" : ""));
        dh::modelIn(dir, static_cast<int>(n), &model);
        dh::rawIn(dir, static_cast<int>(n));
        ASSERT_EQ(mdlShapeDiff(mdlShapeOf(model), mdlShapeOfFast()), "");
    }
    dh::removeStore(dir);
}

// The rebuild of the ordered tree against the literal rebuild, on every
// rebuild of the long items: the symbols the model decoded are counted
// again in the ordered tree beside the model's tree, and the two are
// compared right after each rebuild and at the end.
TEST(Oracle, OrderedRebuildsOfTheLongItemsAreTheLiteralOnes) {
    const std::vector<Generated> items = generate();
    const std::string dir = storeOfGenerated(items);
    static MdlTree decoded, model;
    int rebuilds = 0;
    for (std::size_t n = 0; n < items.size(); n++) {
        if (items[n].expected.size() < 32768) continue;
        SCOPED_TRACE("item " + std::to_string(n));
        std::vector<int> symbols;
        dh::modelIn(dir, static_cast<int>(n), &decoded, &symbols);
        mdlInitTree(model);
        hufOrderedInit();
        for (std::size_t i = 0; i < symbols.size(); i++) {
            const bool full = model.nodes[0].weight == 0x8000;
            mdlUpdate(model, mdlLeafOf(model, symbols[i]));
            hufOrderedUpdate(hufOrderedLeaf(symbols[i]));
            if (full || i + 1 == symbols.size()) {
                SCOPED_TRACE("symbol " + std::to_string(i));
                ASSERT_EQ(mdlShapeDiff(mdlShapeOf(model), mdlShapeOfFast()), "");
                rebuilds += full;
            }
        }
    }
    EXPECT_GE(rebuilds, 3);
    dh::removeStore(dir);
}

} // namespace
