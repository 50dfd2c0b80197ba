#include "fixture.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "format/format.h"
#include "model.h"

#ifdef QUORLIN_COVERAGE_DUMP
// Writes the coverage counts gathered so far (gcov's runtime, in every
// --coverage build).
extern "C" void __gcov_dump(void);
#endif

namespace fx {

Bytes hex(const std::string &text) {
    Bytes out;
    int high = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        } else {
            continue;
        }
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    return out;
}

Bytes bytesOf(const std::string &text) {
    return Bytes(text.begin(), text.end());
}
std::string textOf(const Bytes &bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string tempDir() {
    // The base lives in the build tree; a test run on its own makes it. The
    // cleanup after every CTest run removes the folders of test processes
    // that are gone, so each folder's name carries its maker's process id.
    if (mkdir(QUORLIN_TEST_TMP, 0755) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot make " QUORLIN_TEST_TMP);
    std::string pattern = QUORLIN_TEST_TMP "/quorlin-test-" + std::to_string(getpid()) + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

void writeFile(const std::string &path, const Bytes &bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char *>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + path);
}

Bytes readFile(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

static void putBig32(Bytes &out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

Bytes indexOf(const std::vector<Record> &records) {
    Bytes out;
    for (const Record &r : records) {
        putBig32(out, r.offset);
        putBig32(out, r.stored);
        out.insert(out.end(), 8, 0);
    }
    return out;
}

Bytes itemHeader(std::int32_t decodedLength) {
    auto v = static_cast<std::uint32_t>(decodedLength);
    return Bytes{0,
                 0,
                 static_cast<std::uint8_t>(v),
                 static_cast<std::uint8_t>(v >> 8),
                 static_cast<std::uint8_t>(v >> 16),
                 static_cast<std::uint8_t>(v >> 24)};
}

void writeStore(const std::string &dir, const Bytes &index, const Bytes &data) {
    writeFile(dir + "/itemloc.dat", index);
    writeFile(dir + "/item.dat", data);
}

void writeItems(const std::string &dir, const std::vector<Bytes> &items) {
    std::vector<Record> records;
    Bytes data;
    for (const Bytes &item : items) {
        records.push_back(
            {static_cast<std::uint32_t>(data.size()), static_cast<std::uint32_t>(item.size())});
        data.insert(data.end(), item.begin(), item.end());
    }
    writeStore(dir, indexOf(records), data);
}

void putBits(BitWriter &w, std::uint32_t value, int n) {
    for (int i = n - 1; i >= 0; i--) {
        if (w.used % 8 == 0) w.bytes.push_back(0);
        if (value >> i & 1) w.bytes.back() |= static_cast<std::uint8_t>(0x80 >> (w.used % 8));
        w.used++;
    }
}

// The coder's tree: the literal model's, so that a fault of the product's
// tree is not shared by the streams it is tested on.
static MdlTree coder;

void codeReset() {
    mdlInitTree(coder);
}

std::string pathOf(int symbol) {
    return mdlPathOf(coder, mdlLeafOf(coder, symbol));
}

static void codeSymbol(BitWriter &w, int symbol) {
    for (char c : pathOf(symbol)) putBits(w, c == '1', 1);
    mdlUpdate(coder, mdlLeafOf(coder, symbol));
}

void codeLiteral(BitWriter &w, std::uint8_t byte) {
    codeSymbol(w, byte);
}

void codePosition(BitWriter &w, int f) {
    if (f < 0 || f >= fmtDistanceCount) throw std::invalid_argument("distance value out of range");
    const FmtPositionCode code = fmtPositionCodeOf(f);
    putBits(w, static_cast<std::uint32_t>(code.value), code.bits);
}

void codeMatch(BitWriter &w, int len, int f) {
    codeSymbol(w, 256 + len - 3);
    codePosition(w, f);
}

Bytes itemOf(std::int32_t decodedLength, const BitWriter &w) {
    Bytes item = itemHeader(decodedLength);
    item.insert(item.end(), w.bytes.begin(), w.bytes.end());
    return item;
}

std::string quorlinPath() {
    return QUORLIN_BINARY;
}

void defaultSignals() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) std::signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

RunResult run(const std::string &dir, const std::vector<std::string> &args, bool mergeErr,
              const std::string &program, unsigned seconds) {
    const std::string exe = program.empty() ? quorlinPath() : program;
    const std::string outPath = dir + "/.stdout";
    const std::string errPath = dir + "/.stderr";
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        defaultSignals();
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = mergeErr ? out : open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0) _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(exe.c_str()));
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        // The alarm outlives the exec.
        if (seconds > 0) alarm(seconds);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    RunResult r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = textOf(readFile(outPath));
    r.err = mergeErr ? "" : textOf(readFile(errPath));
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return r;
}

void exitChild(int status) {
#ifdef QUORLIN_COVERAGE_DUMP
    // A child that plays a full disk lowers the size its files may grow to;
    // the counts' files must not be cut short by it.
    rlimit size{};
    if (getrlimit(RLIMIT_FSIZE, &size) == 0) {
        size.rlim_cur = size.rlim_max;
        setrlimit(RLIMIT_FSIZE, &size);
    }
    __gcov_dump();
#endif
    _exit(status);
}

std::string crlf(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

} // namespace fx
