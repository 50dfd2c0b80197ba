#include "decode/decode.h"

#include <cstring>

#include "loops.h"

int hufDecode(std::int32_t length, int verbose, int dump) {
    if (verbose >= 1 || dump) return decTraced(length, verbose, dump);
    return decPlain(length);
}

namespace {

// The fixed-array form of the raw output: bytes kept up to the capacity,
// all of them counted.
struct ArrayOut {
    std::uint8_t *bytes;
    std::size_t capacity;
    std::size_t count;
};

int putArray(void *context, const std::uint8_t *bytes, std::size_t n) {
    auto &a = *static_cast<ArrayOut *>(context);
    if (a.count < a.capacity) {
        const std::size_t room = a.capacity - a.count;
        std::memcpy(a.bytes + a.count, bytes, n < room ? n : room);
    }
    a.count += n;
    return 0;
}

} // namespace

int decRawToArray(std::int32_t length, std::uint8_t *out, std::size_t capacity,
                  std::size_t *produced) {
    ArrayOut a{out, capacity, 0};
    const int result = decRawToSink(length, putArray, &a);
    *produced = a.count;
    return result;
}
