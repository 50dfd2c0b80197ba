// quorlin-unpack: the exact decoded bytes of a store's items, to standard
// output or one file per item, and the store listed or tested. Nothing is
// rendered: what was packed comes back byte for byte. This file reads the
// options; unpack_walk.cpp runs the items.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <getopt.h>

#include "cli.h"
#include "format/format.h"
#include "item/item.h"
#include "place/place.h"
#include "unpack.h"

namespace {

constexpr const char *programName = "quorlin-unpack";

void usage() {
    std::printf("Usage: %s [OPTION]... [ITEM]...\n"
                "Write the exact bytes of a store's items (all of them when no ITEM is\n"
                "given) to standard output, one after another.\n"
                "ITEM is a number (3), a range (10-20) or a range to the end (7-).\n"
                "\n"
                "  -C, --directory=DIR  read the store in DIR (default: the current folder)\n"
                "  -l, --lines          end every item with a line feed (undoes quorlin-pack -l)\n"
                "  -o, --output=DIR     write item N to the file DIR/N instead\n"
                "  -f, --force          with -o, replace files that exist\n"
                "  -t, --test           decode the items, write nothing, report damage\n"
                "      --list           list the items: offset, sizes and ratio\n"
                "  -h, --help           print this help\n"
                "  -V, --version        print the version\n"
                "\n"
                "Exit status: 0 when every item asked for is sound, 1 otherwise.\n",
                programName);
}

// A decimal item number (0 to 2^31 - 1) at s; -1 if there is none or it is
// larger. *end is set past its digits.
std::int64_t parseNumber(const char *s, const char **end) {
    std::int64_t v = 0;
    const char *p = s;
    while (*p >= '0' && *p <= '9') {
        v = v * 10 + (*p - '0');
        if (v > fmtItemNumberMax) return -1;
        p++;
    }
    *end = p;
    return p == s ? -1 : v;
}

// N, N-M (M at least N) or N-.
bool parseRange(const char *arg, UnpackRange *r) {
    const char *p;
    r->first = parseNumber(arg, &p);
    if (r->first < 0) return false;
    if (*p == '\0') {
        r->last = r->first;
        return true;
    }
    if (*p != '-') return false;
    if (p[1] == '\0') {
        r->last = itemToEnd;
        return true;
    }
    r->last = parseNumber(p + 1, &p);
    return r->last >= r->first && *p == '\0';
}

// An empty name names no folder, as everywhere else on the system; it is not
// taken for the current one.
bool emptyFolder(const char *dir) {
    if (dir == nullptr || dir[0] != '\0') return false;
    std::fprintf(stderr, "%s: '': %s\n", programName, std::strerror(ENOENT));
    return true;
}

} // namespace

int main(int argc, char **argv) {
    enum { listOption = 256 };
    const option longOptions[] = {
        {"directory", required_argument, nullptr, 'C'},
        {"lines", no_argument, nullptr, 'l'},
        {"output", required_argument, nullptr, 'o'},
        {"force", no_argument, nullptr, 'f'},
        {"test", no_argument, nullptr, 't'},
        {"list", no_argument, nullptr, listOption},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    cliBegin(programName, argv);
    UnpackOptions o;
    bool test = false, list = false;
    int c;
    while ((c = getopt_long(argc, argv, "C:lo:fthV", longOptions, nullptr)) != -1) {
        switch (c) {
        case 'C':
            o.dir = optarg;
            break;
        case 'l':
            o.lines = true;
            break;
        case 'o':
            o.outDir = optarg;
            break;
        case 'f':
            o.force = true;
            break;
        case 't':
            test = true;
            break;
        case listOption:
            list = true;
            break;
        case 'h':
            usage();
            return cliCloseStdout();
        case 'V':
            std::printf("%s %s\n", programName, QUORLIN_VERSION);
            return cliCloseStdout();
        default:
            return cliTryHelp();
        }
    }
    if ((test ? 1 : 0) + (list ? 1 : 0) + (o.outDir != nullptr ? 1 : 0) > 1) {
        std::fprintf(stderr, "%s: -t, --list and -o cannot be combined\n", programName);
        return 1;
    }
    if (emptyFolder(o.dir) || emptyFolder(o.outDir)) return 1;
    if (test) o.mode = unpackTest;
    if (list) o.mode = unpackList;
    if (o.outDir != nullptr) o.mode = unpackToFiles;

    const int rangeCount = argc - optind;
    // At most one range per argument: the array is sized once, before any item.
    auto *ranges = new UnpackRange[static_cast<std::size_t>(rangeCount > 0 ? rangeCount : 1)];
    for (int i = 0; i < rangeCount; i++) {
        if (!parseRange(argv[optind + i], &ranges[i])) {
            std::fprintf(stderr, "%s: '%s': not an item number or range (N, N-M or N-)\n",
                         programName, argv[optind + i]);
            delete[] ranges;
            return 1;
        }
    }
    if (o.mode == unpackToFiles) placeCatchSignals();
    const int status = unpackRun(o, ranges, rangeCount);
    delete[] ranges;
    return status;
}
