// Fuzz target: one input is a whole store. Its first two bytes give the
// length of the index part (big-endian); the index follows, and the rest is
// item.dat. Every record is decoded as quorlin does, without options and
// with traces, the output going to /dev/null, and its raw bytes are compared
// with the literal model's.
//
// The code tree is rebuilt only after some 32,000 symbols, 4,057 bytes of
// bits at the least, beyond the stores above. So an input whose first byte
// has its top bit set (an index length of 32 KiB, which no input of the
// fuzzer's length holds) is instead the seed of one long item: the second
// byte says how its bits are made (below), the rest is the seed. The item is
// decoded plainly, and its raw bytes are compared with the model's when it
// passed two rebuilds or more, as long as the comparisons so far took at
// most a fifth of the time since the first input: the model takes a second
// or more on an item this long, and the stores above need the fuzzer's
// pace. A first input is always compared, so a finding replays on its own.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "decode/decode.h"
#include "huf/ordered.h"
#include "item/item.h"
#include "model.h"
#include "textio/textio.h"

namespace {

// Traces print a line or more per symbol and the model scans the whole tree
// per level: they run on small stores only, so that the fuzzer keeps its
// pace on large ones. Tree dumps print 627 lines per symbol.
constexpr std::size_t traceInputMax = 128;
constexpr std::size_t modelInputMax = 96;
constexpr std::size_t dumpInputMax = 48;
// Bounds the all-items walk of a large index.
constexpr std::int32_t recordMax = 8;
// Raw decoded bytes kept per item for the comparison with the model: all
// of a long item's.
constexpr std::size_t rawCapacity = 1 << 22;

// The long item: expandedBytes of bits, the seed over and over, each copy
// followed by (second byte & 15) bytes of a small generator's output, seeded
// by the seed and the second byte; its decoded length ends it only when the
// bits hold more. The plain repeats make skewed counts and deep trees, the
// generator's bytes stir them.
constexpr std::size_t expandedBytes = 64 * 1024;
constexpr std::int32_t expandedLength = static_cast<std::int32_t>(rawCapacity);
constexpr double modelShare = 0.2;
std::chrono::steady_clock::time_point firstInput;
double modelSeconds = 0;
std::uint8_t expanded[6 + expandedBytes];

long inputs = 0;
long rebuilds = 0;
long longItems = 0;
long longCompared = 0;

void report() {
    std::fprintf(stderr,
                 "decode_fuzz: %ld rebuilds reached in %ld inputs (%ld long items, %ld of them "
                 "compared with the model)\n",
                 rebuilds, inputs, longItems, longCompared);
}

std::uint8_t fastBytes[rawCapacity];
std::uint8_t modelBytes[rawCapacity];

bool writeWhole(const char *path, const std::uint8_t *p, std::size_t n) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return false;
    bool ok = n == 0 || write(fd, p, n) == static_cast<ssize_t>(n);
    close(fd);
    return ok;
}

// The store's files live in a private directory, on a memory file system
// where there is one; the decoder reads them from the current directory, so
// each input is run there and the fuzzer's own directory is restored after
// it (the fuzzer writes its corpus to paths that may be relative).
int storeDir = -1;
int homeDir = -1;

void enterStoreDir() {
    if (storeDir < 0) {
        std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        dir += "/quorlin-fuzz-XXXXXX";
        if (mkdtemp(dir.data()) == nullptr) std::abort();
        storeDir = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
        homeDir = open(".", O_RDONLY | O_DIRECTORY);
        if (storeDir < 0 || homeDir < 0) std::abort();
        txtSetOutput(open("/dev/null", O_WRONLY));
    }
    if (fchdir(storeDir) != 0) std::abort();
}

void leaveStoreDir() {
    if (fchdir(homeDir) != 0) std::abort();
}

// The driver's walk over all items, as quorlin runs it.
void decodeAll(int verbose, int dump) {
    if (itemOpen() < 0) return;
    ItemWalk walk = itemWalkFrom(0, recordMax - 1);
    ItemStep step;
    while (itemWalkNext(&walk, &step) && step.status == itemOk) {
        hufDecode(step.length, verbose, dump);
    }
    itemClose();
}

// Every item decodes to the same bytes, with the same result, in the
// product and in the literal model; anything else is a finding.
void compareWithModel() {
    static MdlTree tree;
    for (std::int32_t j = 0; j < recordMax; j++) {
        int result[2];
        std::size_t produced[2];
        for (int model = 0; model < 2; model++) {
            // Each pass opens the files anew: a short read closes item.dat.
            if (itemOpen() < 0) return;
            std::int32_t length;
            if (itemSelectStatus(j, &length) != itemOk) {
                itemClose();
                return;
            }
            result[model] =
                model ? mdlDecodeRaw(tree, length, modelBytes, rawCapacity, &produced[model])
                      : decRawToArray(length, fastBytes, rawCapacity, &produced[model]);
            itemClose();
        }
        const std::size_t kept = produced[0] < rawCapacity ? produced[0] : rawCapacity;
        if (result[0] != result[1] || produced[0] != produced[1] ||
            std::memcmp(fastBytes, modelBytes, kept) != 0) {
            std::fprintf(stderr, "item %d: product and model decode differently\n",
                         static_cast<int>(j));
            std::abort();
        }
    }
}

std::uint32_t hashOf(const std::uint8_t *data, std::size_t size) {
    std::uint32_t h = 2166136261u; // FNV-1a
    for (std::size_t i = 0; i < size; i++) h = (h ^ data[i]) * 16777619u;
    return h;
}

// Writes the long item's store (one record) from the input's second byte
// and seed; false when there is no seed.
bool writeLongItem(const std::uint8_t *data, std::size_t size) {
    if (size < 3) return false;
    const std::size_t noise = data[1] & 15;
    std::uint32_t x = hashOf(data + 2, size - 2) ^ (static_cast<std::uint32_t>(data[1]) << 24);
    if (x == 0) x = 1;
    std::uint8_t *bits = expanded + 6;
    std::size_t n = 0;
    while (n < expandedBytes) {
        for (std::size_t i = 2; i < size && n < expandedBytes; i++) bits[n++] = data[i];
        for (std::size_t i = 0; i < noise && n < expandedBytes; i++) {
            x ^= x << 13; // xorshift32
            x ^= x >> 17;
            x ^= x << 5;
            bits[n++] = static_cast<std::uint8_t>(x >> 24);
        }
    }
    expanded[0] = expanded[1] = 0;
    for (int i = 0; i < 4; i++)
        expanded[2 + i] = static_cast<std::uint8_t>(expandedLength >> (8 * i));
    std::uint8_t record[16] = {};
    const std::size_t stored = sizeof expanded;
    for (int i = 0; i < 4; i++) record[4 + i] = static_cast<std::uint8_t>(stored >> (24 - 8 * i));
    if (!writeWhole("itemloc.dat", record, sizeof record) ||
        !writeWhole("item.dat", expanded, sizeof expanded))
        std::abort();
    return true;
}

void longItem(const std::uint8_t *data, std::size_t size) {
    if (!writeLongItem(data, size)) return;
    longItems++;
    const long before = hufOrderedRebuildCount();
    decodeAll(0, 0);
    const long reached = hufOrderedRebuildCount() - before;
    rebuilds += reached;
    using Seconds = std::chrono::duration<double>;
    const auto start = std::chrono::steady_clock::now();
    if (reached >= 2 && modelSeconds <= modelShare * Seconds(start - firstInput).count()) {
        longCompared++;
        compareWithModel();
        modelSeconds += Seconds(std::chrono::steady_clock::now() - start).count();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (inputs++ == 0) {
        firstInput = std::chrono::steady_clock::now();
        std::atexit(report);
    }
    if (size < 2) return 0;
    enterStoreDir();
    if (data[0] & 0x80) {
        longItem(data, size);
        txtFlush();
        leaveStoreDir();
        return 0;
    }
    std::size_t indexLen = static_cast<std::size_t>(data[0]) << 8 | data[1];
    if (indexLen > size - 2) indexLen = size - 2;
    if (!writeWhole("itemloc.dat", data + 2, indexLen)) std::abort();
    if (!writeWhole("item.dat", data + 2 + indexLen, size - 2 - indexLen)) std::abort();

    const long before = hufOrderedRebuildCount();
    decodeAll(0, 0);
    rebuilds += hufOrderedRebuildCount() - before;
    if (size <= traceInputMax) decodeAll(2, 0);
    if (size <= dumpInputMax) decodeAll(1, 1);
    if (size <= modelInputMax) compareWithModel();
    txtFlush();
    leaveStoreDir();
    return 0;
}
