// quorlin-corpus: writes the synthetic dictionary corpus, one entry per line
// (entries hold no line ends), for quorlin-pack -l and for measurements.
// Usage: quorlin-corpus [BYTES [SEED]]   (default 20000000 bytes, seed 1)
#include <cstdio>
#include <cstdlib>

#include "corpus.h"

int main(int argc, char **argv) {
    const unsigned long long want = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 20000000ull;
    const unsigned long long seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1ull;
    std::uint8_t entry[corpusEntryMax + 1];
    unsigned long long written = 0;
    for (std::uint64_t i = 0; written < want; i++) {
        std::size_t n = corpusEntry(seed, i, entry);
        entry[n++] = '\n';
        if (std::fwrite(entry, 1, n, stdout) != n) return 1;
        written += n;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
