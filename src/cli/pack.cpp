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

#include "encode/encode.h"
#include "encode/store.h"

namespace {

constexpr const char *programName = "quorlin-pack";

void usage(std::FILE *to) {
    std::fprintf(to,
                 "Usage: %s [-f] [-l] [-s] [-o DIR] FILE...\n"
                 "Writes itemloc.dat and item.dat; item n is the text of the n-th FILE.\n"
                 "  -o DIR      write the store into DIR, created if missing (default: the\n"
                 "              current directory)\n"
                 "  -f          replace an existing store\n"
                 "  -l          one item per line of each FILE, without its line end\n"
                 "  -s          print a summary: items, bytes in and out, ratio, speed\n"
                 "  -h, --help  print this help\n",
                 programName);
}

// The option getopt refused. optopt holds a short one's letter; it is 0 for
// an unknown long one, which getopt has then stepped over, and 'h' for
// --help with an argument (-h itself is always accepted).
void badOption(const char *const *argv) {
    if (optopt == 'h') {
        std::fprintf(stderr, "%s: option --help takes no argument\n", programName);
    } else if (optopt == 0) {
        std::fprintf(stderr, "%s: unknown option %s\n", programName, argv[optind - 1]);
    } else {
        std::fprintf(stderr, "%s: unknown option -%c\n", programName, optopt);
    }
}

[[noreturn]] void fail(const char *format, const char *a, const char *b) {
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

// An interrupted run leaves no temporary file behind.
void onSignal(int sig) {
    encStoreAbortFromSignal();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// The whole file in buffer; a file too large for one item is refused before
// it is read.
void readWhole(const char *path, std::vector<std::uint8_t> &buffer, bool oneItem) {
    const int fd = open(path, O_RDONLY);
    if (fd < 0) fail("cannot read %s: %s", path, std::strerror(errno));
    struct stat st;
    if (fstat(fd, &st) != 0) fail("cannot read %s: %s", path, std::strerror(errno));
    if (S_ISDIR(st.st_mode)) fail("cannot read %s: %s", path, std::strerror(EISDIR));
    if (oneItem && S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) > encItemMax) {
        fail("%s is too large: an item holds at most 2147483647 bytes%s", path, "");
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
        if (oneItem && buffer.size() > encItemMax) {
            fail("%s is too large: an item holds at most 2147483647 bytes%s", path, "");
        }
    }
    close(fd);
}

void add(const std::uint8_t *text, std::size_t n) {
    if (encStoreAdd(text, n) != 0) failStore();
}

// Each line without its line end (LF or CR LF) is an item; a last line
// without a line end counts too, an empty file has no items.
void addLines(const char *path, const std::vector<std::uint8_t> &text) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = start;
        while (end < text.size() && text[end] != '\n') end++;
        std::size_t lineEnd = end;
        if (end < text.size() && lineEnd > start && text[lineEnd - 1] == '\r') lineEnd--;
        if (lineEnd - start > encItemMax) {
            fail("%s: a line is too large: an item holds at most 2147483647 bytes%s", path, "");
        }
        add(text.data() + start, lineEnd - start);
        start = end + 1;
    }
}

double now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

} // namespace

int main(int argc, char **argv) {
    const char *dir = nullptr;
    bool overwrite = false;
    bool lines = false;
    bool summary = false;
    // getopt's own messages would name the tool by the path it was started
    // with, so it stays silent and ours name it by its constant name. The
    // leading ':' silences it too, and tells a missing argument (':') from an
    // unknown option ('?').
    opterr = 0;
    const option longOptions[] = {{"help", no_argument, nullptr, 'h'}, {nullptr, 0, nullptr, 0}};
    int letter;
    while ((letter = getopt_long(argc, argv, ":o:flsh", longOptions, nullptr)) != -1) {
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
        case 'h':
            usage(stdout);
            return 0;
        case ':':
            std::fprintf(stderr, "%s: option -%c needs an argument\n", programName, optopt);
            usage(stderr);
            return 1;
        default:
            badOption(argv);
            usage(stderr);
            return 1;
        }
    }
    if (optind >= argc) {
        std::fprintf(stderr, "%s: no input files\n", programName);
        usage(stderr);
        return 1;
    }

    for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, onSignal);
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
    if (summary) {
        const double seconds = now() - started;
        const std::uint64_t storeBytes = dataBytes + 16 * items;
        std::printf(
            "%llu items, %llu bytes of text, store %llu bytes (%.1f%%), %.2f s, "
            "%.2f MB/s\n",
            static_cast<unsigned long long>(items), static_cast<unsigned long long>(textBytes),
            static_cast<unsigned long long>(storeBytes),
            textBytes ? 100.0 * static_cast<double>(storeBytes) / static_cast<double>(textBytes)
                      : 0.0,
            seconds, seconds > 0 ? static_cast<double>(textBytes) / seconds / 1e6 : 0.0);
    }
    return 0;
}
