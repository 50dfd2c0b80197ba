#include "decode/decode.h"

#include "loops.h"

int hufDecode(std::int32_t length, int verbose, int dump) {
    if (verbose >= 1 || dump) return decTraced(length, verbose, dump);
    return decPlain(length);
}

int hufDecodeRaw(std::int32_t length, std::uint8_t *out, std::size_t capacity,
                 std::size_t *produced) {
    return decRaw(length, out, capacity, produced);
}
