// quorlin_bench: how fast the decoder prints whole stores, and what its parts
// cost, on a synthetic dictionary corpus packed in three shapes.
//
//   quorlin_bench [benchmark options]         run the measurements
//   quorlin_bench --make-stores DIR [BYTES]   write DIR/entries, DIR/large and
//                                             DIR/single
//
// QUORLIN_BENCH_BYTES sets the text size of the whole-store runs (default
// 20 MB). The literal model and the traces run on a 1 MB part.
//
// limit/...: the whole decode (decode), the tree's half of the loop alone
// (walk_climb: walk and count over a recorded symbol sequence) and the other
// half alone (render: window, rendering and output file), each on 2 MB and
// on the whole-store size of every shape, with the CPU time per decoded
// byte. --benchmark_filter=limit/ runs them.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "corpus.h"
#include "decode/decode.h"
#include "encode/store.h"
#include "huf/ordered.h"
#include "item/item.h"
#include "model.h"
#include "record.h"
#include "replay.h"
#include "stores.h"
#include "textio/textio.h"
#include "traced_internal.h"

namespace {

constexpr std::uint64_t partBytes = 1000000;

std::string baseDir;
int outputFd = -1;

std::uint64_t wholeBytes() {
    const char *env = std::getenv("QUORLIN_BENCH_BYTES");
    return env ? std::strtoull(env, nullptr, 10) : 20000000ull;
}

const BenchStore &storeOf(BenchShape shape, std::uint64_t bytes) {
    static std::map<std::pair<int, std::uint64_t>, BenchStore> made;
    auto key = std::make_pair(static_cast<int>(shape), bytes);
    auto it = made.find(key);
    if (it == made.end()) {
        std::string dir = baseDir + "/" + benchShapeName(shape) + "-" + std::to_string(bytes);
        it = made.emplace(key, benchMakeStore(dir, shape, bytes)).first;
    }
    return it->second;
}

// Decoded text goes to a file, as in `quorlin > file`.
void rewindOutput() {
    if (ftruncate(outputFd, 0) != 0 || lseek(outputFd, 0, SEEK_SET) != 0) std::abort();
}

// The driver's walk over all items.
void decodeAll(int verbose, int dump) {
    if (itemOpen() < 0) std::abort();
    for (std::int32_t j = 0;; j++) {
        const std::int32_t length = itemSelect(j);
        if (length < 0) break;
        hufDecode(length, verbose, dump);
    }
    itemClose();
    txtFlush();
}

// The same walk with the literal model's decoder, raw bytes kept in part.
void decodeAllModel() {
    static MdlTree tree;
    static std::uint8_t bytes[1 << 16];
    if (itemOpen() < 0) std::abort();
    for (std::int32_t j = 0;; j++) {
        const std::int32_t length = itemSelect(j);
        if (length < 0) break;
        std::size_t produced = 0;
        mdlDecodeRaw(tree, length, bytes, sizeof bytes, &produced);
        benchmark::DoNotOptimize(produced);
    }
    itemClose();
}

void runDecode(benchmark::State &state, BenchShape shape, std::uint64_t bytes, bool model,
               int verbose) {
    const BenchStore &store = storeOf(shape, bytes);
    if (chdir(store.dir.c_str()) != 0) std::abort();
    for (auto _ : state) {
        rewindOutput();
        if (model) {
            decodeAllModel();
        } else {
            decodeAll(verbose, 0);
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(store.textBytes));
    state.counters["items"] = static_cast<double>(store.items);
    state.counters["ratio"] =
        static_cast<double>(store.storeBytes) / static_cast<double>(store.textBytes);
}

const BenchRecord &recordOf(const BenchStore &store) {
    static std::map<std::string, BenchRecord> made;
    auto it = made.find(store.dir);
    if (it == made.end()) it = made.emplace(store.dir, benchRecordStore(store.dir)).first;
    return it->second;
}

// What the last runs wrote to the output file.
std::string outputText() {
    std::string text;
    FILE *f = std::fopen((baseDir + "/output.txt").c_str(), "rb");
    if (f == nullptr) std::abort();
    char chunk[65536];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) text.append(chunk, n);
    std::fclose(f);
    return text;
}

// CPU time per decoded byte beside the rate.
void countPerByte(benchmark::State &state, const BenchStore &store, const BenchRecord &r) {
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(store.textBytes));
    state.counters["time/byte"] = benchmark::Counter(static_cast<double>(store.textBytes),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
    state.counters["symbols"] = static_cast<double>(r.symbols.size());
}

// The walk and the count alone, on the symbols the store's items decode to.
void runReplayTree(benchmark::State &state, BenchShape shape, std::uint64_t bytes) {
    const BenchStore &store = storeOf(shape, bytes);
    const BenchRecord &r = recordOf(store);
    const std::uint64_t expected = benchCheckReplayTree(r, store.dir.c_str());
    for (auto _ : state) {
        const std::uint64_t sum = benchReplayTree(r);
        if (sum != expected) {
            state.SkipWithError("the replay walked to other leaves than the checked run");
            break;
        }
    }
    countPerByte(state, store, r);
}

// The window, the rendering and the output alone, into the file the whole
// decode writes; the replay's text is first held against the decoder's.
void runReplayRender(benchmark::State &state, BenchShape shape, std::uint64_t bytes) {
    const BenchStore &store = storeOf(shape, bytes);
    const BenchRecord &r = recordOf(store);
    if (chdir(store.dir.c_str()) != 0) std::abort();
    rewindOutput();
    decodeAll(0, 0);
    const std::string decoded = outputText();
    rewindOutput();
    benchReplayRender(r);
    txtFlush();
    if (outputText() != decoded) {
        std::fprintf(stderr,
                     "quorlin_bench: %s: the rendering replay's text is not the decoder's\n",
                     store.dir.c_str());
        std::exit(1);
    }
    for (auto _ : state) {
        rewindOutput();
        benchReplayRender(r);
        txtFlush();
    }
    countPerByte(state, store, r);
}

// The whole decode on the stores of the replays, with the same counters.
void runLimitDecode(benchmark::State &state, BenchShape shape, std::uint64_t bytes) {
    const BenchStore &store = storeOf(shape, bytes);
    const BenchRecord &r = recordOf(store);
    if (chdir(store.dir.c_str()) != 0) std::abort();
    for (auto _ : state) {
        rewindOutput();
        decodeAll(0, 0);
    }
    countPerByte(state, store, r);
}

void benchPack(benchmark::State &state, BenchShape shape) {
    BenchStore store{};
    for (auto _ : state) store = benchMakeStore(baseDir + "/pack", shape, 2000000);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(store.textBytes));
    state.counters["ratio"] =
        static_cast<double>(store.storeBytes) / static_cast<double>(store.textBytes);
}

// Symbols with a skewed distribution, as text gives: a few very common.
std::vector<int> skewedSymbols(std::size_t n) {
    std::mt19937 rng(7);
    std::vector<double> weights(hufSymbolCount);
    for (int s = 0; s < hufSymbolCount; s++)
        weights[static_cast<std::size_t>(s)] = 1.0 / (1 + (s * 37) % hufSymbolCount);
    std::discrete_distribution<int> pick(weights.begin(), weights.end());
    std::vector<int> symbols(n);
    for (int &s : symbols) s = pick(rng);
    return symbols;
}

// The update of the traces, on nodeTable; the leaves are looked up before.
void benchUpdate(benchmark::State &state) {
    const std::vector<int> symbols = skewedSymbols(1 << 20);
    hufInitTree();
    std::vector<int> leaves(hufSymbolCount);
    for (int s = 0; s < hufSymbolCount; s++) leaves[static_cast<std::size_t>(s)] = hufLeafOf(s);
    std::size_t i = 0;
    for (auto _ : state) {
        const int leaf = leaves[static_cast<std::size_t>(symbols[i])];
        // A rebuild moves the leaves.
        const bool full = nodeTable[0].weight == hufWeightFull;
        hufUpdate(leaf, 0);
        if (full) {
            for (int s = 0; s < hufSymbolCount; s++) {
                leaves[static_cast<std::size_t>(s)] = hufLeafOf(s);
            }
        }
        i = (i + 1) & ((1 << 20) - 1);
    }
    state.SetItemsProcessed(state.iterations());
}

// The literal model's update: a scan of every node per level climbed.
void benchModelUpdate(benchmark::State &state) {
    const std::vector<int> symbols = skewedSymbols(1 << 20);
    static MdlTree tree;
    mdlInitTree(tree);
    std::size_t i = 0;
    for (auto _ : state) {
        mdlUpdate(tree, mdlLeafOf(tree, symbols[i]));
        i = (i + 1) & ((1 << 20) - 1);
    }
    state.SetItemsProcessed(state.iterations());
}

// The update the plain decoder runs: the count on the tree laid out by order
// number, for the same symbols.
void benchOrderedCount(benchmark::State &state) {
    const std::vector<int> symbols = skewedSymbols(1 << 20);
    hufOrderedInit();
    std::size_t i = 0;
    for (auto _ : state) {
        hufOrderedUpdate(hufOrderedLeaf(symbols[i]));
        i = (i + 1) & ((1 << 20) - 1);
    }
    state.SetItemsProcessed(state.iterations());
}

void benchRebuild(benchmark::State &state) {
    const std::vector<int> symbols = skewedSymbols(100000);
    hufInitTree();
    for (int s : symbols) hufUpdate(hufLeafOf(s), 0);
    static HufNode savedNodes[hufNodeMax];
    static std::int32_t savedOrder[hufNodeMax + 1];
    std::memcpy(savedNodes, nodeTable, sizeof savedNodes);
    std::memcpy(savedOrder, orderTable, sizeof savedOrder);
    for (auto _ : state) {
        // The copy back (about 20 KB) is part of each measured rebuild.
        std::memcpy(nodeTable, savedNodes, sizeof savedNodes);
        std::memcpy(orderTable, savedOrder, sizeof savedOrder);
        hufRebuildTree();
        benchmark::DoNotOptimize(nodeTable[0].weight);
    }
}

// The rebuild of plain decoding, on the tree laid out by order number.
void benchOrderedRebuild(benchmark::State &state) {
    const std::vector<int> symbols = skewedSymbols(100000);
    hufOrderedInit();
    for (int s : symbols) hufOrderedUpdate(hufOrderedLeaf(s));
    static HufOrdered saved;
    saved = hufOrderedTree;
    for (auto _ : state) {
        // The copy back of what the rebuild reads (about 5 KB) is part of
        // each measured rebuild.
        std::memcpy(hufOrderedTree.weight, saved.weight, sizeof saved.weight);
        std::memcpy(hufOrderedTree.child, saved.child, sizeof saved.child);
        std::memcpy(hufOrderedTree.parent, saved.parent, sizeof saved.parent);
        benchmark::DoNotOptimize(hufOrderedRebuild(0));
    }
}

void benchGetBits(benchmark::State &state) {
    // One item of 256 KiB of random bits.
    const std::string dir = baseDir + "/bits";
    mkdir(dir.c_str(), 0755);
    constexpr std::uint32_t stored = 262144;
    std::vector<std::uint8_t> data(stored);
    std::mt19937 rng(3);
    for (auto &b : data) b = static_cast<std::uint8_t>(rng());
    // The header: two unused bytes, then a positive decoded length.
    data[0] = data[1] = data[3] = data[4] = data[5] = 0;
    data[2] = 1;
    const std::uint8_t index[16] = {
        0, 0, 0, 0, stored >> 24, (stored >> 16) & 255, (stored >> 8) & 255, stored & 255};
    FILE *f = std::fopen((dir + "/itemloc.dat").c_str(), "wb");
    std::fwrite(index, 1, 16, f);
    std::fclose(f);
    f = std::fopen((dir + "/item.dat").c_str(), "wb");
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
    if (chdir(dir.c_str()) != 0 || itemOpen() < 0 || itemSelect(0) < 0) std::abort();
    const int k = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::int32_t bits = itemGetBits(k);
        if (bits < 0) itemSelect(0);
        benchmark::DoNotOptimize(bits);
    }
    itemClose();
    state.SetItemsProcessed(state.iterations() * k);
}

void registerAll() {
    const std::uint64_t whole = wholeBytes();
    for (BenchShape shape : benchShapes) {
        const std::string name = benchShapeName(shape);
        benchmark::RegisterBenchmark(("decode_store/" + name).c_str(), runDecode, shape, whole,
                                     false, 0)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(2.0);
        benchmark::RegisterBenchmark(("decode_part_fast/" + name).c_str(), runDecode, shape,
                                     partBytes, false, 0)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("decode_part_literal_model/" + name).c_str(), runDecode,
                                     shape, partBytes, true, 0)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
        benchmark::RegisterBenchmark(("trace_v_part/" + name).c_str(), runDecode, shape, partBytes,
                                     false, 1)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("pack_2MB/" + name).c_str(), benchPack, shape)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(2);
    }
    // The limit: the whole decode, the tree's half and the rendering's half
    // on the same stores, 2 MB and the whole-store size.
    std::vector<std::uint64_t> limitSizes{2000000};
    if (whole != limitSizes[0]) limitSizes.push_back(whole);
    for (BenchShape shape : benchShapes) {
        for (const std::uint64_t bytes : limitSizes) {
            const std::string suffix =
                std::string(benchShapeName(shape)) + "/" + std::to_string(bytes / 1000000) + "MB";
            benchmark::RegisterBenchmark(("limit/decode/" + suffix).c_str(), runLimitDecode, shape,
                                         bytes)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("limit/walk_climb/" + suffix).c_str(), runReplayTree,
                                         shape, bytes)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("limit/render/" + suffix).c_str(), runReplayRender, shape,
                                         bytes)
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::RegisterBenchmark("huf_update/ordered", benchOrderedCount);
    benchmark::RegisterBenchmark("huf_update/traced", benchUpdate);
    benchmark::RegisterBenchmark("huf_update/literal_model", benchModelUpdate);
    benchmark::RegisterBenchmark("huf_rebuild/traced", benchRebuild)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("huf_rebuild/ordered", benchOrderedRebuild)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("item_get_bits", benchGetBits)->Arg(1)->Arg(9);
}

} // namespace

int main(int argc, char **argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--make-stores") == 0) {
        const std::uint64_t bytes = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : wholeBytes();
        for (BenchShape shape : benchShapes) {
            const std::string dir = std::string(argv[2]) + "/" + benchShapeName(shape);
            const BenchStore s = benchMakeStore(dir, shape, bytes);
            std::printf(
                "%s: %llu items, %llu text bytes, %llu store bytes (%.1f%%), packed at %.1f MB/s\n",
                dir.c_str(), static_cast<unsigned long long>(s.items),
                static_cast<unsigned long long>(s.textBytes),
                static_cast<unsigned long long>(s.storeBytes),
                100.0 * static_cast<double>(s.storeBytes) / static_cast<double>(s.textBytes),
                static_cast<double>(s.textBytes) / 1e6 / s.packSeconds);
        }
        return 0;
    }
    char pattern[] = "/tmp/quorlin-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    baseDir = pattern;
    outputFd = open((baseDir + "/output.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    txtSetOutput(outputFd);
    registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::string cleanup = "rm -rf '" + baseDir + "'";
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
