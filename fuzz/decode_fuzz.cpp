// Fuzz target: one input is a whole store. Its first two bytes give the
// length of the index part (big-endian); the index follows, and the rest is
// item.dat. Every record is decoded without options and with traces, the
// output going to /dev/null.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "decode/decode.h"
#include "decode/decode_internal.h"
#include "huf/huf.h"
#include "item/item.h"
#include "textio/textio.h"

namespace {

// Tree dumps print 627 lines per symbol: only small stores get them, so that
// one input stays well under a second.
constexpr std::size_t dumpInputMax = 48;
// Bounds the all-items walk of a large index.
constexpr std::int32_t recordMax = 64;

bool writeWhole(const char *path, const std::uint8_t *p, std::size_t n) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return false;
    bool ok = n == 0 || write(fd, p, n) == static_cast<ssize_t>(n);
    close(fd);
    return ok;
}

void setUp() {
    static bool done = false;
    if (done) return;
    done = true;
    // A private directory on a memory file system where there is one.
    std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    dir += "/quorlin-fuzz-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr || chdir(dir.c_str()) != 0) std::abort();
    txtSetOutput(open("/dev/null", O_WRONLY));
}

void decodeAll(int verbose, int dump) {
    if (itemOpen() < 0) return;
    for (std::int32_t j = 0; j < recordMax; j++) {
        const std::int32_t length = itemSelect(j);
        if (length < 0) break;
        hufInitTree();
        hufDecode(length, verbose, dump);
    }
    itemClose();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    setUp();
    if (size < 2) return 0;
    std::size_t indexLen = static_cast<std::size_t>(data[0]) << 8 | data[1];
    if (indexLen > size - 2) indexLen = size - 2;
    if (!writeWhole("itemloc.dat", data + 2, indexLen)) std::abort();
    if (!writeWhole("item.dat", data + 2 + indexLen, size - 2 - indexLen)) std::abort();

    decodeAll(0, 0);
    decodeAll(2, 0);
    if (size <= dumpInputMax) decodeAll(1, 1);
    hufDecodeUseOracle(true);
    decodeAll(0, 0);
    hufDecodeUseOracle(false);
    txtFlush();
    return 0;
}
