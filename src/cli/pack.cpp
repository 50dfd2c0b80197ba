// quorlin-pack: writes a store (itemloc.dat and item.dat) that quorlin reads
// back, one item per input file, or with -l one item per line.
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <getopt.h>
#include <initializer_list>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "cli.h"
#include "encode/encode.h"
#include "encode/store.h"
#include "format/format.h"
#include "place/place.h"
#include "progress.h"

namespace {

constexpr const char *programName = "quorlin-pack";

void usage(std::FILE *to) {
    std::fprintf(to,
                 "Usage: %s [-f] [-l] [-s] [-P|-q] [-o DIR] FILE...\n"
                 "Writes itemloc.dat and item.dat; item n is the text of the n-th FILE.\n"
                 "With FILE -, reads standard input.\n"
                 "  -o, --output DIR  write the store into DIR, created if missing (default:\n"
                 "                    the current directory)\n"
                 "  -f, --force       replace an existing store\n"
                 "  -l, --lines       one item per line of each FILE, without its line end\n"
                 "  -s, --summary     print a summary: items, bytes in and out, ratio, speed\n"
                 "  -P, --progress    show progress on standard error even when it is not a\n"
                 "                    terminal, and the final figures at the end\n"
                 "  -q, --quiet       show no progress, not even on a terminal\n"
                 "  -h, --help        print this help\n"
                 "  -V, --version     print the version\n",
                 programName);
}

[[noreturn]] void fail(const char *format, const char *a, const char *b) {
    progStop();
    std::fprintf(stderr, "%s: ", programName);
    std::fprintf(stderr, format, a, b);
    std::fputc('\n', stderr);
    encStoreAbort();
    std::exit(1);
}

[[noreturn]] void failStore() {
    const char *hint = encStoreErrno() == EEXIST ? " (use -f to replace the store)" : "";
    fail("%s%s", encStoreFailure(), hint);
}

constexpr const char *stdinName = "standard input";

// "an item holds at most 2147483647 bytes", from the encoder's bound.
const char *itemLimit() {
    static char text[64];
    std::snprintf(text, sizeof text, "an item holds at most %zu bytes", encItemMax);
    return text;
}

// The whole file in buffer ("-": standard input); a file too large for one
// item is refused before it is read.
void readWhole(const char *arg, std::vector<std::uint8_t> &buffer, bool oneItem) {
    const bool isStdin = std::strcmp(arg, "-") == 0;
    const char *path = isStdin ? stdinName : arg;
    const int fd = isStdin ? 0 : open(path, O_RDONLY);
    if (fd < 0) fail("cannot read %s: %s", path, std::strerror(errno));
    struct stat st;
    if (fstat(fd, &st) != 0) fail("cannot read %s: %s", path, std::strerror(errno));
    if (S_ISDIR(st.st_mode)) fail("cannot read %s: %s", path, std::strerror(EISDIR));
    if (oneItem && S_ISREG(st.st_mode) && !isStdin &&
        static_cast<std::uint64_t>(st.st_size) > encItemMax) {
        fail("%s is too large: %s", path, itemLimit());
    }
    buffer.clear();
    std::uint8_t chunk[1 << 16];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) continue;
            fail("cannot read %s: %s", path, std::strerror(errno));
        }
        if (got == 0) break;
        buffer.insert(buffer.end(), chunk, chunk + got);
        progRead(static_cast<std::uint64_t>(got));
        if (oneItem && buffer.size() > encItemMax) {
            fail("%s is too large: %s", path, itemLimit());
        }
    }
    if (!isStdin) close(fd);
}

// Bytes of text packed by the items before the current one, line ends
// included, and the bytes of the items' own texts.
std::uint64_t packedBefore = 0;
std::uint64_t itemTextBytes = 0;

void onItemProgress(std::size_t done) {
    progPacked(packedBefore + done);
}

void add(const std::uint8_t *text, std::size_t n) {
    if (encStoreAdd(text, n) != 0) failStore();
    packedBefore += n;
    itemTextBytes += n;
    progPacked(packedBefore);
}

// Each line without its line end (LF or CR LF) is an item; a last line
// without a line end counts too, an empty file has no items.
void addLines(const char *arg, const std::vector<std::uint8_t> &text) {
    const char *path = std::strcmp(arg, "-") == 0 ? stdinName : arg;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = start;
        while (end < text.size() && text[end] != '\n') end++;
        std::size_t lineEnd = end;
        if (end < text.size() && lineEnd > start && text[lineEnd - 1] == '\r') lineEnd--;
        if (lineEnd - start > encItemMax) {
            fail("%s: a line is too large: %s", path, itemLimit());
        }
        add(text.data() + start, lineEnd - start);
        // The line end is text taken in too.
        packedBefore += end - lineEnd + (end < text.size() ? 1 : 0);
        start = end + 1;
    }
}

double now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Why a store came out larger than its text. Every item costs a 16-byte
// index record, a 6-byte header and up to a byte of padding, and starts from
// the fixed code and the preset window with nothing learnt from the items
// before it, so that items of a few dozen bytes hardly compress: when these
// costs explain the excess, or the items are that short, the items are too
// short; otherwise the text itself does not compress.
void noteLargerStore(std::uint64_t items, std::uint64_t textBytes, std::uint64_t storeBytes) {
    if (storeBytes <= textBytes) return;
    // An index record, a header and up to a byte of padding.
    constexpr std::uint64_t perItem = fmtRecordSize + fmtHeaderSize + 1;
    constexpr std::uint64_t shortItem = 64;
    const bool shortItems =
        storeBytes - perItem * items <= textBytes || itemTextBytes < shortItem * items;
    if (shortItems) {
        std::fprintf(stderr,
                     "%s: note: the store is larger than its text: its %llu items average %.1f "
                     "bytes, and items this short do not compress (each adds a 16-byte index "
                     "record and a 6-byte header, and its code starts afresh)\n",
                     programName, static_cast<unsigned long long>(items),
                     static_cast<double>(itemTextBytes) / static_cast<double>(items));
    } else {
        std::fprintf(stderr,
                     "%s: note: the store is larger than its text: the text does not compress "
                     "(is it compressed or random data?)\n",
                     programName);
    }
}

} // namespace

int main(int argc, char **argv) {
    const char *dir = nullptr;
    bool overwrite = false;
    bool lines = false;
    bool summary = false;
    // Progress shows on a terminal unless -q; -P asks for it anywhere. The
    // last of -P and -q given wins.
    int progressWanted = -1;
    cliBegin(programName, argv);
    const option longOptions[] = {{"output", required_argument, nullptr, 'o'},
                                  {"force", no_argument, nullptr, 'f'},
                                  {"lines", no_argument, nullptr, 'l'},
                                  {"summary", no_argument, nullptr, 's'},
                                  {"progress", no_argument, nullptr, 'P'},
                                  {"quiet", no_argument, nullptr, 'q'},
                                  {"help", no_argument, nullptr, 'h'},
                                  {"version", no_argument, nullptr, 'V'},
                                  {nullptr, 0, nullptr, 0}};
    int letter;
    while ((letter = getopt_long(argc, argv, "o:flsPqhV", longOptions, nullptr)) != -1) {
        switch (letter) {
        case 'o':
            dir = optarg;
            break;
        case 'f':
            overwrite = true;
            break;
        case 'l':
            lines = true;
            break;
        case 's':
            summary = true;
            break;
        case 'P':
            progressWanted = 1;
            break;
        case 'q':
            progressWanted = 0;
            break;
        case 'h':
            usage(stdout);
            return cliCloseStdout();
        case 'V':
            std::printf("%s %s\n", programName, QUORLIN_VERSION);
            return cliCloseStdout();
        default:
            return cliTryHelp();
        }
    }
    // An empty name names no folder, as everywhere else on the system; it is
    // not taken for the current one.
    if (dir != nullptr && dir[0] == '\0') {
        std::fprintf(stderr, "%s: '': %s\n", programName, std::strerror(ENOENT));
        return 1;
    }
    if (optind >= argc) {
        std::fprintf(stderr, "%s: no input files\n", programName);
        return cliTryHelp();
    }
    // A second read of standard input would find it drained and make an
    // empty item without a word.
    int stdinArgs = 0;
    for (int arg = optind; arg < argc; arg++) stdinArgs += std::strcmp(argv[arg], "-") == 0;
    if (stdinArgs > 1) {
        std::fprintf(stderr, "%s: standard input (-) given more than once\n", programName);
        return 1;
    }

    placeCatchSignals();
    const bool progress = progressWanted == -1 ? isatty(2) != 0 : progressWanted == 1;
    progBegin(programName, !progress ? progOff : progressWanted == 1 ? progLogged : progLive);
    if (progress) encSetProgress(onItemProgress);
    const double started = now();
    if (encStoreBegin(dir, overwrite) != 0) failStore();
    std::vector<std::uint8_t> text;
    std::uint64_t textBytes = 0;
    for (int arg = optind; arg < argc; arg++) {
        readWhole(argv[arg], text, !lines);
        textBytes += text.size();
        if (lines) {
            addLines(argv[arg], text);
        } else {
            add(text.data(), text.size());
        }
    }
    const std::uint64_t items = encStoreItems();
    const std::uint64_t dataBytes = encStoreBytes();
    if (encStoreCommit() != 0) failStore();
    progFinish();
    if (!summary) return 0;
    const double seconds = now() - started;
    const std::uint64_t storeBytes = dataBytes + fmtRecordSize * items;
    std::printf("%llu items, %llu bytes of text, store %llu bytes (%.1f%%), %.2f s, "
                "%.2f MB/s\n",
                static_cast<unsigned long long>(items), static_cast<unsigned long long>(textBytes),
                static_cast<unsigned long long>(storeBytes),
                textBytes ? 100.0 * static_cast<double>(storeBytes) / static_cast<double>(textBytes)
                          : 0.0,
                seconds, seconds > 0 ? static_cast<double>(textBytes) / seconds / 1e6 : 0.0);
    noteLargerStore(items, textBytes, storeBytes);
    // The store is in place and sound by now; a lost summary fails the run
    // but does not take the store away.
    return cliCloseStdout();
}
