// quorlin-unpack's walk: every item asked for, selected, decoded to its
// exact bytes and written where the options say, or listed; every item that
// cannot be read is named with what is wrong with it.
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "cli.h"
#include "decode/decode.h"
#include "format/format.h"
#include "item/item.h"
#include "place/place.h"
#include "unpack.h"

namespace {

constexpr std::size_t pathMax = 4096;

// The store's two files as the user names them, set when the store opens.
char indexShown[pathMax];
char dataShown[pathMax];

// ---- Where the bytes go ------------------------------------------------------

// Bytes on their way to a file or standard output, gathered so that a store
// of many short items costs a write per 128 KiB, not one per item.
std::uint8_t outBytes[1 << 17];
std::size_t outUsed = 0;

// Writes out what is gathered; 0, or -1 with errno.
int outFlush(int fd) {
    const int r = placeWriteAll(fd, outBytes, outUsed);
    outUsed = 0;
    return r;
}

int outPut(int fd, const std::uint8_t *bytes, std::size_t n) {
    if (outUsed + n > sizeof outBytes && outFlush(fd) < 0) return -1;
    if (n >= sizeof outBytes) return placeWriteAll(fd, bytes, n);
    std::memcpy(outBytes + outUsed, bytes, n);
    outUsed += n;
    return 0;
}

struct Sink {
    int fd;            // where the bytes go; -1 to count only
    std::int64_t left; // bytes of the item still to write: its decoded length
    int error;         // errno of a failed write
};

// The decoder hands every byte it makes, those of a last match past the
// item's length too; only the item's own bytes are written.
int putBytes(void *context, const std::uint8_t *bytes, std::size_t n) {
    auto &s = *static_cast<Sink *>(context);
    if (static_cast<std::int64_t>(n) > s.left) n = static_cast<std::size_t>(s.left);
    s.left -= static_cast<std::int64_t>(n);
    if (s.fd < 0 || n == 0) return 0;
    if (outPut(s.fd, bytes, n) < 0) {
        s.error = errno;
        return -1;
    }
    return 0;
}

// ---- Messages ------------------------------------------------------------------

UnpackMode mode = unpackToStdout;
bool failed = false;

// Reports a fault of the run. Whatever the items before it wrote to
// standard output goes out first, so that the message follows their bytes
// where both streams meet (2>&1).
[[gnu::format(printf, 1, 2)]] void report(const char *format, ...) {
    failed = true;
    if (mode == unpackToStdout && outFlush(STDOUT_FILENO) < 0) {
        std::fprintf(stderr, "%s: standard output: write error: %s\n", cliName(),
                     std::strerror(errno));
    }
    std::fprintf(stderr, "%s: ", cliName());
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

// What the walk does after an item.
enum Next { goOn, endRun };

// An item the walk could not select, named with what is wrong with it. A
// record that is there but wrong leaves the items after it readable; an
// item.dat that ends before an item, or cannot be read, leaves none.
Next reportUnselectable(const ItemStep &s) {
    std::uint32_t offset, stored;
    itemSelectedRecord(&offset, &stored);
    const long long n = s.n;
    switch (s.status) {
    case itemOk:
        return goOn;
    case itemIndexEnds:
        // As a missing file among several: the other arguments still run.
        report("item %lld: no such item (%s holds %lld)", n, indexShown,
               static_cast<long long>(itemIndexRecords()));
        return goOn;
    case itemRecordCut:
        report("item %lld: record cut short (%s ends inside it)", n, indexShown);
        return goOn;
    case itemOffsetTooLarge:
        report("item %lld: damaged record in %s: offset %lu is past 2 GiB", n, indexShown,
               static_cast<unsigned long>(offset));
        return goOn;
    case itemStoredTooShort:
        report("item %lld: damaged record in %s: stored length %lu is shorter than a header", n,
               indexShown, static_cast<unsigned long>(stored));
        return goOn;
    case itemNegativeLength:
        report("item %lld: negative decoded length %ld in %s", n, static_cast<long>(s.length),
               dataShown);
        return goOn;
    case itemDataEnds:
        report("item %lld: %s ends before the item (cut short, or a damaged record in %s?)", n,
               dataShown, indexShown);
        return endRun;
    case itemDataClosed:
        report("items from %lld on cannot be read: %s was found cut short", n, dataShown);
        return endRun;
    case itemIndexUnreadable:
        report("%s: %s", indexShown, std::strerror(errno));
        return endRun;
    case itemDataUnreadable:
        report("%s: %s", dataShown, std::strerror(errno));
        return endRun;
    }
    return endRun;
}

// ---- Files of -o -----------------------------------------------------------------

// Names as wide as the store's last item number, so that they sort.
int nameWidth = 1;

int digitsOf(std::int64_t v) {
    int d = 1;
    while (v >= 10) {
        v /= 10;
        d++;
    }
    return d;
}

// Removes a file in flight; the item's bytes not yet written go with it.
void dropFile(int slot) {
    outUsed = 0;
    placeDrop(slot);
}

// ---- One item ------------------------------------------------------------------------

struct Totals {
    std::int64_t items = 0;
    std::uint64_t stored = 0;
    std::uint64_t decoded = 0;
};

double ratioOf(std::uint64_t stored, std::uint64_t decoded) {
    return decoded == 0 ? 0.0 : 100.0 * static_cast<double>(stored) / static_cast<double>(decoded);
}

Next doItem(const UnpackOptions &o, const ItemStep &s, Totals &t) {
    std::uint32_t offset, stored;
    itemSelectedRecord(&offset, &stored);
    const long long n = s.n;
    t.items++;
    t.stored += stored;
    t.decoded += static_cast<std::uint32_t>(s.length);
    if (o.mode == unpackList) {
        std::printf("%10lld %10lu %10lu %10ld %6.1f%%\n", n, static_cast<unsigned long>(offset),
                    static_cast<unsigned long>(stored), static_cast<long>(s.length),
                    ratioOf(stored, static_cast<std::uint32_t>(s.length)));
        return goOn;
    }

    Sink sink{-1, s.length, 0};
    int slot = -1;
    char finalPath[pathMax];
    if (o.mode == unpackToStdout) sink.fd = STDOUT_FILENO;
    if (o.mode == unpackToFiles) {
        char name[32];
        std::snprintf(name, sizeof name, "%0*lld", nameWidth, n);
        if (placeJoin(finalPath, sizeof finalPath, o.outDir, name) != 0) {
            report("%s/%s: %s", o.outDir, name, std::strerror(errno));
            return endRun;
        }
        struct stat st;
        if (!o.force && lstat(finalPath, &st) == 0) {
            report("%s: File exists (use -f to replace it)", finalPath);
            return endRun;
        }
        slot = placeBegin(o.outDir, name);
        if (slot < 0) {
            report("%s: %s", o.outDir, std::strerror(errno));
            return endRun;
        }
        sink.fd = placeFd(slot);
    }

    int result = decRawToSink(s.length, putBytes, &sink);
    // Like quorlin's line end, the line feed follows a damaged item's bytes too.
    if (result != -2 && o.lines && sink.fd >= 0) {
        static const std::uint8_t lineFeed = '\n';
        if (outPut(sink.fd, &lineFeed, 1) < 0) {
            sink.error = errno;
            result = -2;
        }
    }
    if (result == -2) {
        const int error = sink.error;
        if (slot >= 0) dropFile(slot);
        outUsed = 0; // nothing more can go where the write failed
        report("%s: write error: %s", slot >= 0 ? finalPath : "standard output",
               std::strerror(error));
        return endRun;
    }
    if (result < 0) {
        // A damaged item's file is not placed: no half-written file.
        if (slot >= 0) dropFile(slot);
        report("item %lld: data ends early (%s cut short?)", n, dataShown);
        return goOn;
    }
    if (slot >= 0 && outFlush(sink.fd) < 0) {
        const int error = errno;
        dropFile(slot);
        report("%s: write error: %s", finalPath, std::strerror(error));
        return endRun;
    }
    if (slot >= 0 && placeCommit(slot, finalPath, o.force) != 0) {
        report("%s: %s", finalPath, std::strerror(errno));
        return endRun;
    }
    return goOn;
}

// Makes the folder of -o; 0, or -1 after a message.
int makeOutDir(const char *dir) {
    if (placeMakeDirs(dir) == 0) return 0;
    report("%s: %s", dir, std::strerror(errno));
    return -1;
}

} // namespace

int unpackRun(const UnpackOptions &o, const UnpackRange *ranges, int rangeCount) {
    mode = o.mode;
    if (placeJoin(indexShown, pathMax, o.dir, "itemloc.dat") != 0 ||
        placeJoin(dataShown, pathMax, o.dir, "item.dat") != 0) {
        report("%s: %s", o.dir, std::strerror(ENAMETOOLONG));
        return 1;
    }
    if (itemOpenAt(o.dir) < 0) {
        const int error = errno;
        const char *name = itemOpenFailedName();
        const char *shown = std::strcmp(name, "item.dat") == 0 ? dataShown : indexShown;
        report("%s: %s", name[0] != '\0' ? shown : o.dir, std::strerror(error));
        return 1;
    }
    if (o.mode == unpackToFiles) {
        if (makeOutDir(o.outDir) < 0) {
            itemClose();
            return 1;
        }
        const std::int64_t records = itemIndexRecords();
        nameWidth = digitsOf(records > 1 ? records - 1 : 0);
    }

    const UnpackRange all{0, itemToEnd};
    if (rangeCount == 0) {
        ranges = &all;
        rangeCount = 1;
    }
    Totals t;
    if (o.mode == unpackList) {
        std::printf("%10s %10s %10s %10s %7s\n", "item", "offset", "stored", "decoded", "ratio");
    }
    Next next = goOn;
    for (int i = 0; i < rangeCount && next == goOn; i++) {
        ItemWalk walk = itemWalkFrom(ranges[i].first, ranges[i].last);
        ItemStep step;
        while (next == goOn && itemWalkNext(&walk, &step)) {
            next = step.status == itemOk ? doItem(o, step, t) : reportUnselectable(step);
        }
    }
    itemClose();

    if (o.mode == unpackToFiles) {
        // A failed run takes back the folders it made, unless files it
        // placed are in them: only empty folders are removed.
        if (failed) {
            placeDropDirs();
        } else {
            placeKeepDirs();
        }
    }
    if (o.mode == unpackToStdout && outFlush(STDOUT_FILENO) < 0) {
        report("standard output: write error: %s", std::strerror(errno));
    }
    if (o.mode == unpackList) {
        std::printf("%10s %10s %10llu %10llu %6.1f%%  %lld items\n", "total", "",
                    static_cast<unsigned long long>(t.stored),
                    static_cast<unsigned long long>(t.decoded), ratioOf(t.stored, t.decoded),
                    static_cast<long long>(t.items));
        if (cliCloseStdout() != 0) failed = true;
    }
    return failed ? 1 : 0;
}
