// Fuzz target: one input is a whole store. Its first two bytes give the
// length of the index part (big-endian); the index follows, and the rest is
// item.dat. Every record is decoded as quorlin does, without options and
// with traces, the output going to /dev/null, and its raw bytes are compared
// with the literal model's.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "decode/decode.h"
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
// Raw decoded bytes kept per item for the comparison with the model.
constexpr std::size_t rawCapacity = 1 << 16;

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
    for (std::int32_t j = 0; j < recordMax; j++) {
        const std::int32_t length = itemSelect(j);
        if (length < 0) break;
        hufDecode(length, verbose, dump);
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
            const std::int32_t length = itemSelect(j);
            if (length < 0) {
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 2) return 0;
    enterStoreDir();
    std::size_t indexLen = static_cast<std::size_t>(data[0]) << 8 | data[1];
    if (indexLen > size - 2) indexLen = size - 2;
    if (!writeWhole("itemloc.dat", data + 2, indexLen)) std::abort();
    if (!writeWhole("item.dat", data + 2 + indexLen, size - 2 - indexLen)) std::abort();

    decodeAll(0, 0);
    if (size <= traceInputMax) decodeAll(2, 0);
    if (size <= dumpInputMax) decodeAll(1, 1);
    if (size <= modelInputMax) compareWithModel();
    txtFlush();
    leaveStoreDir();
    return 0;
}
