// quorlin-unpack: the exact decoded bytes of a store's items, to standard
// output or one file per item, and the store listed or tested. Nothing is
// rendered: what was packed comes back byte for byte.
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include "decode/decode.h"
#include "item/item.h"
#include "place/place.h"

namespace {

const char *const programName = "quorlin-unpack";

void usage(std::FILE *to) {
    std::fprintf(to,
                 "Usage: %s [OPTION]... [ITEM]...\n"
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

// Checked writes of the program's own text (help, version, list) to
// standard output: 0, or -1 with a message.
int finishStdout() {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "%s: write error: %s\n", programName, std::strerror(errno));
        return -1;
    }
    return 0;
}

// ---- Item numbers and ranges ----------------------------------------------

// An item asked for: first to last, last -1 for "to the end of the index".
struct Range {
    std::int64_t first;
    std::int64_t last;
};

// Parses a decimal item number of at most 2^31 - 1; -1 if not one.
std::int64_t parseNumber(const char *s, const char **end) {
    std::int64_t v = 0;
    const char *p = s;
    while (*p >= '0' && *p <= '9') {
        v = v * 10 + (*p - '0');
        if (v > 0x7FFFFFFF) return -1;
        p++;
    }
    *end = p;
    return p == s ? -1 : v;
}

bool parseRange(const char *arg, Range *r) {
    const char *p;
    r->first = parseNumber(arg, &p);
    if (r->first < 0) return false;
    if (*p == '\0') {
        r->last = r->first;
        return true;
    }
    if (*p != '-') return false;
    if (p[1] == '\0') {
        r->last = -1;
        return true;
    }
    r->last = parseNumber(p + 1, &p);
    return r->last >= r->first && *p == '\0';
}

// ---- Where the items go ----------------------------------------------------

enum Mode { toStdout, toFiles, testOnly, listOnly };

struct Sink {
    int fd;            // where the bytes go; -1 to count only
    std::int64_t left; // bytes of the item still to write: its decoded length
    int error;         // errno of a failed write
};

// The decoder hands every byte it makes, those of a last match past the
// item's length too; only the item's own bytes are written.
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

// ---- Files of -o: written aside, moved into place whole -------------------

// The temporary file being written, for the signal handler: its path is
// complete before tempLive is set, and the handler only unlinks it.
char tempPath[4096];
volatile std::sig_atomic_t tempLive = 0;
const int handledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void onSignal(int sig) {
    if (tempLive) unlink(tempPath);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// Creates dir and any missing folders above it (0777 less the umask).
int makeDirs(const char *dir) {
    char path[4096];
    const std::size_t n = std::strlen(dir);
    if (n == 0 || n >= sizeof path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(path, dir, n + 1);
    for (std::size_t i = 1; i <= n; i++) {
        if (path[i] != '/' && path[i] != '\0') continue;
        const char keep = path[i];
        path[i] = '\0';
        if (mkdir(path, 0777) != 0 && errno != EEXIST) return -1;
        path[i] = keep;
    }
    struct stat st;
    if (stat(dir, &st) != 0) return -1;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return -1;
    }
    return 0;
}

// Starts the temporary file of an item in dir; its descriptor, or -1.
int beginFile(const char *dir, const char *name) {
    return placeTemp(tempPath, sizeof tempPath, dir, name, &tempLive);
}

// Closes (fd -1: closed already) and removes the temporary file; errno is
// kept for the caller's message.
void dropFile(int fd) {
    const int error = errno;
    outUsed = 0; // the item's bytes not yet written go with it
    if (fd >= 0) close(fd);
    const sigset_t old = placeHold();
    unlink(tempPath);
    tempLive = 0;
    placeRelease(old);
    errno = error;
}

// Syncs and closes the file and moves it to finalPath, never over an
// existing file unless forced; 0, or -1 with the temporary file removed.
int placeFile(int fd, const char *finalPath, bool force) {
    if (fsync(fd) != 0) {
        dropFile(fd);
        return -1;
    }
    if (close(fd) != 0) {
        dropFile(-1);
        return -1;
    }
    const sigset_t old = placeHold();
    const int r = placeFinal(tempPath, finalPath, force);
    if (r != 0) unlink(tempPath);
    tempLive = 0;
    placeRelease(old);
    return r;
}

// ---- The walk --------------------------------------------------------------

struct Options {
    Mode mode = toStdout;
    bool lines = false;
    bool force = false;
    const char *dir = nullptr;
    const char *outDir = nullptr;
};

// The store's file as the user names it: DIR/item.dat with -C.
const char *storePath(const Options &o, const char *name) {
    static char path[4096];
    if (o.dir == nullptr || o.dir[0] == '\0') return name;
    std::snprintf(path, sizeof path, "%s/%s", o.dir, name);
    return path;
}

struct Totals {
    std::int64_t items = 0;
    std::uint64_t stored = 0;
    std::uint64_t decoded = 0;
};

double ratioOf(std::uint64_t stored, std::uint64_t decoded) {
    return decoded == 0 ? 0.0 : 100.0 * static_cast<double>(stored) / static_cast<double>(decoded);
}

// Outcome of one item: go on with the next, end the walk, or end the run.
enum Step { next, damaged, missing, indexEnds, walkEnds, runEnds };

int nameWidth = 1;

// toEnd: n is part of an open range, which ends quietly where the index does.
Step doItem(const Options &o, std::int64_t n, bool toEnd, Totals &t) {
    const auto item = static_cast<std::int32_t>(n);
    const std::int32_t length = itemSelect(item);
    std::uint32_t offset, stored;
    itemSelectedRecord(&offset, &stored);
    if (length < 0) {
        if (length == -1 && itemIndexEnds(item)) {
            if (toEnd) return indexEnds;
            std::fprintf(stderr, "%s: item %lld: no such item (%s holds %lld)\n", programName,
                         static_cast<long long>(n), storePath(o, "itemloc.dat"),
                         static_cast<long long>(itemIndexRecords()));
            // As a missing file among several: the other arguments are still
            // written; the rest of a range is missing too.
            return missing;
        } else if (length == -1) {
            std::fprintf(stderr,
                         "%s: item %lld: cannot be read (damaged record in %s, or %s cut "
                         "short?)\n",
                         programName, static_cast<long long>(n), storePath(o, "itemloc.dat"),
                         "item.dat");
        } else {
            std::fprintf(stderr, "%s: item %lld: negative decoded length %ld in %s\n", programName,
                         static_cast<long long>(n), static_cast<long>(length),
                         storePath(o, "item.dat"));
        }
        return walkEnds;
    }
    t.items++;
    t.stored += stored;
    t.decoded += static_cast<std::uint32_t>(length);
    if (o.mode == listOnly) {
        std::printf("%10lld %10lu %10lu %10ld %6.1f%%\n", static_cast<long long>(n),
                    static_cast<unsigned long>(offset), static_cast<unsigned long>(stored),
                    static_cast<long>(length), ratioOf(stored, static_cast<std::uint32_t>(length)));
        return next;
    }

    Sink sink{-1, length, 0};
    char finalPath[4096];
    if (o.mode == toStdout) sink.fd = STDOUT_FILENO;
    if (o.mode == toFiles) {
        char name[32];
        std::snprintf(name, sizeof name, "%0*lld", nameWidth, static_cast<long long>(n));
        if (std::snprintf(finalPath, sizeof finalPath, "%s/%s", o.outDir, name) >=
            static_cast<int>(sizeof finalPath)) {
            std::fprintf(stderr, "%s: %s/%s: %s\n", programName, o.outDir, name,
                         std::strerror(ENAMETOOLONG));
            return runEnds;
        }
        struct stat st;
        if (!o.force && lstat(finalPath, &st) == 0) {
            std::fprintf(stderr, "%s: %s: File exists (use -f to replace it)\n", programName,
                         finalPath);
            return runEnds;
        }
        sink.fd = beginFile(o.outDir, name);
        if (sink.fd < 0) {
            std::fprintf(stderr, "%s: %s: %s\n", programName, o.outDir, std::strerror(errno));
            return runEnds;
        }
    }

    int result = decRawToSink(length, putBytes, &sink);
    // Like quorlin's line end, the line feed follows a damaged item's bytes too.
    if (result != -2 && o.lines && sink.fd >= 0) {
        static const std::uint8_t lineFeed = '\n';
        if (outPut(sink.fd, &lineFeed, 1) < 0) {
            sink.error = errno;
            result = -2;
        }
    }
    if (result == -2) {
        const char *where = o.mode == toFiles ? finalPath : "standard output";
        std::fprintf(stderr, "%s: %s: write error: %s\n", programName, where,
                     std::strerror(sink.error));
        if (o.mode == toFiles) dropFile(sink.fd);
        return runEnds;
    }
    if (result < 0) {
        // What came of the item goes out before the message about it.
        if (o.mode == toStdout && outFlush(sink.fd) < 0) {
            std::fprintf(stderr, "%s: standard output: write error: %s\n", programName,
                         std::strerror(errno));
            return runEnds;
        }
        std::fprintf(stderr, "%s: item %lld: data ends early (%s cut short?)\n", programName,
                     static_cast<long long>(n), storePath(o, "item.dat"));
        // A damaged item's file is not placed: no half-written file.
        if (o.mode == toFiles) dropFile(sink.fd);
        return damaged;
    }
    if (o.mode == toFiles && outFlush(sink.fd) < 0) {
        std::fprintf(stderr, "%s: %s: write error: %s\n", programName, finalPath,
                     std::strerror(errno));
        dropFile(sink.fd);
        return runEnds;
    }
    if (o.mode == toFiles && placeFile(sink.fd, finalPath, o.force) != 0) {
        std::fprintf(stderr, "%s: %s: %s\n", programName, finalPath, std::strerror(errno));
        return runEnds;
    }
    return next;
}

// Runs the items of the ranges (all items when there are none); the exit
// status.
int walk(const Options &o, const Range *ranges, int rangeCount) {
    const Range all{0, -1};
    if (rangeCount == 0) {
        ranges = &all;
        rangeCount = 1;
    }
    Totals t;
    bool failed = false;
    if (o.mode == listOnly) {
        std::printf("%10s %10s %10s %10s %7s\n", "item", "offset", "stored", "decoded", "ratio");
    }
    for (int i = 0; i < rangeCount; i++) {
        const Range &r = ranges[i];
        bool stop = false;
        for (std::int64_t n = r.first; (r.last < 0 || n <= r.last) && n <= 0x7FFFFFFF; n++) {
            const Step step = doItem(o, n, r.last < 0, t);
            if (step == next) continue;
            if (step == indexEnds) break;
            failed = true;
            if (step == damaged) continue;
            if (step == missing) break;
            stop = true;
            break;
        }
        if (stop) break;
    }
    if (o.mode == toStdout && outFlush(STDOUT_FILENO) < 0) {
        std::fprintf(stderr, "%s: standard output: write error: %s\n", programName,
                     std::strerror(errno));
        failed = true;
    }
    if (o.mode == listOnly) {
        std::printf("%10s %10s %10llu %10llu %6.1f%%  %lld items\n", "total", "",
                    static_cast<unsigned long long>(t.stored),
                    static_cast<unsigned long long>(t.decoded), ratioOf(t.stored, t.decoded),
                    static_cast<long long>(t.items));
    }
    if (o.mode == listOnly && finishStdout() < 0) failed = true;
    return failed ? 1 : 0;
}

int digitsOf(std::int64_t v) {
    int d = 1;
    while (v >= 10) {
        v /= 10;
        d++;
    }
    return d;
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
    Options o;
    bool test = false, list = false;
    opterr = 0;
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
            usage(stdout);
            return finishStdout() < 0 ? 1 : 0;
        case 'V':
            std::printf("%s %s\n", programName, QUORLIN_VERSION);
            return finishStdout() < 0 ? 1 : 0;
        default:
            if (optopt != 0 && optopt < 256) {
                std::fprintf(stderr, "%s: invalid option -- '%c'\n", programName, optopt);
            } else {
                std::fprintf(stderr, "%s: unrecognized option '%s'\n", programName,
                             argv[optind - 1]);
            }
            std::fprintf(stderr, "Try '%s --help' for more information.\n", programName);
            return 1;
        }
    }
    if ((test ? 1 : 0) + (list ? 1 : 0) + (o.outDir != nullptr ? 1 : 0) > 1) {
        std::fprintf(stderr, "%s: -t, --list and -o cannot be combined\n", programName);
        return 1;
    }
    if (test) o.mode = testOnly;
    if (list) o.mode = listOnly;
    if (o.outDir != nullptr) o.mode = toFiles;

    const int rangeCount = argc - optind;
    // At most one range per argument: the array is sized once, before any item.
    Range *ranges = rangeCount > 0 ? new Range[static_cast<std::size_t>(rangeCount)] : nullptr;
    for (int i = 0; i < rangeCount; i++) {
        if (!parseRange(argv[optind + i], &ranges[i])) {
            std::fprintf(stderr, "%s: '%s': not an item number or range (N, N-M or N-)\n",
                         programName, argv[optind + i]);
            delete[] ranges;
            return 1;
        }
    }

    if (itemOpenAt(o.dir) < 0) {
        const int error = errno;
        const char *name = itemOpenFailedName();
        std::fprintf(stderr, "%s: %s: %s\n", programName,
                     name[0] != '\0' ? storePath(o, name) : o.dir, std::strerror(error));
        delete[] ranges;
        return 1;
    }
    if (o.mode == toFiles) {
        if (makeDirs(o.outDir) < 0) {
            std::fprintf(stderr, "%s: %s: %s\n", programName, o.outDir, std::strerror(errno));
            itemClose();
            delete[] ranges;
            return 1;
        }
        // Names as wide as the store's last item number, so that they sort.
        const std::int64_t records = itemIndexRecords();
        nameWidth = digitsOf(records > 1 ? records - 1 : 0);
        for (int sig : handledSignals) std::signal(sig, onSignal);
    }
    const int status = walk(o, ranges, rangeCount);
    itemClose();
    delete[] ranges;
    return status;
}
