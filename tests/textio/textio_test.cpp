// The CR LF text streams: what bytes leave for which calls, when they leave,
// and how a failed write is reported.
#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <ostream>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "fixture.h"
#include "textio/textio.h"

namespace {

// A temporary file that standard output (or standard error) is pointed at.
struct Capture : ::testing::Test {
    int fd = -1;

    void SetUp() override {
        char path[] = "/tmp/quorlin-textio-XXXXXX";
        fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        unlink(path);
    }
    void TearDown() override {
        txtSetOutput(1);
        close(fd);
    }
    // Everything written to the file so far.
    std::string written() const {
        struct stat st {};
        fstat(fd, &st);
        std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
        const ssize_t got = pread(fd, bytes.data(), bytes.size(), 0);
        bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return bytes;
    }
};

void putRaw(const std::string &bytes) {
    std::uint8_t *p = txtReserve(bytes.size());
    std::memcpy(p, bytes.data(), bytes.size());
    txtCommit(p + bytes.size());
}

// Text with a line feed every 7 bytes, long enough to cross the internal
// formatting and translation buffers.
std::string longText(std::size_t n) {
    std::string text;
    for (std::size_t i = 0; i < n; i++) text += i % 7 == 6 ? '\n' : static_cast<char>('a' + i % 26);
    return text;
}

struct FormatCase {
    const char *name;
    std::function<void()> print;
    std::string expected;
};

void PrintTo(const FormatCase &c, std::ostream *os) {
    *os << c.name;
}

const FormatCase formatCases[] = {
    {"line feeds of the format", [] { txtPrintf("a\nb\n\n"); }, "a\r\nb\r\n\r\n"},
    {"line feeds inside a string argument", [] { txtPrintf("<%s>", "x\ny\n"); }, "<x\r\ny\r\n>"},
    {"line feed as a character argument", [] { txtPrintf("%c%c", '\n', 'z'); }, "\r\nz"},
    {"a carriage return is left alone", [] { txtPrintf("\r\n\r"); }, "\r\r\n\r"},
    {"other bytes unchanged", [] { txtPrintf("%s", "\x81\x40\x7f\x1b\t\xff"); },
     "\x81\x40\x7f\x1b\t\xff"},
    {"numbers", [] { txtPrintf("itemno=%ld\n", 2147483647L); }, "itemno=2147483647\r\n"},
    {"nothing", [] { txtPrintf("%s", ""); }, ""},
    {"raw bytes are not translated", [] { putRaw(std::string("\n\r\0\xff\n", 5)); },
     std::string("\n\r\0\xff\n", 5)},
    {"formatted and raw output keep their order",
     [] {
         txtPrintf("a\n");
         putRaw("b\n");
         txtPrintf("%d", 3);
     },
     "a\r\nb\n3"},
    {"line of 1023 bytes", [] { txtPrintf("%s", longText(1023).c_str()); },
     fx::crlf(longText(1023))},
    {"line of 1024 bytes", [] { txtPrintf("%s", longText(1024).c_str()); },
     fx::crlf(longText(1024))},
    {"line of 5000 bytes", [] { txtPrintf("%s", longText(5000).c_str()); },
     fx::crlf(longText(5000))},
    {"line feeds only", [] { txtPrintf("%s", std::string(3000, '\n').c_str()); },
     fx::crlf(std::string(3000, '\n'))},
    {"longer than the output buffer", [] { txtPrintf("%s", longText(200000).c_str()); },
     fx::crlf(longText(200000))},
    {"many pieces beyond the output buffer",
     [] {
         for (int i = 0; i < 20000; i++) {
             txtPrintf("%d\n", i);
             putRaw("r\n");
         }
     },
     [] {
         std::string s;
         for (int i = 0; i < 20000; i++) s += std::to_string(i) + "\r\nr\n";
         return s;
     }()},
};

std::string nameOf(const char *text) {
    std::string name;
    for (const char *p = text; *p != '\0'; p++)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

struct Formats : Capture, ::testing::WithParamInterface<FormatCase> {};

TEST_P(Formats, BytesWritten) {
    txtSetOutput(fd);
    GetParam().print();
    ASSERT_EQ(txtFlush(), 0);
    EXPECT_EQ(written(), GetParam().expected);
    EXPECT_EQ(txtError(), 0);
}

INSTANTIATE_TEST_SUITE_P(Textio, Formats, ::testing::ValuesIn(formatCases),
                         [](const auto &p) { return nameOf(p.param.name); });

// A file is not a terminal: output stays in the buffer (no write per
// print) until it is flushed or the buffer fills.
TEST_F(Capture, RedirectedOutputIsBlockBuffered) {
    txtSetOutput(fd);
    EXPECT_FALSE(txtUnbuffered());
    std::string expected;
    for (int i = 0; i < 1000; i++) {
        txtPrintf("line %d\n", i);
        expected += "line " + std::to_string(i) + "\r\n";
    }
    putRaw("raw");
    EXPECT_EQ(written(), "");
    ASSERT_EQ(txtFlush(), 0);
    EXPECT_EQ(written(), expected + "raw");
}

// Pointing the stream elsewhere writes what is pending to the old target.
TEST_F(Capture, SwitchingTargetsFlushesFirst) {
    txtSetOutput(fd);
    txtPrintf("kept\n");
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    txtSetOutput(pipeFds[1]);
    EXPECT_EQ(written(), "kept\r\n");
    txtPrintf("x");
    txtSetOutput(fd);
    char buf[8] = {};
    EXPECT_EQ(read(pipeFds[0], buf, sizeof buf), 1);
    EXPECT_EQ(buf[0], 'x');
    close(pipeFds[0]);
    close(pipeFds[1]);
}

// On a terminal every print and every commit leaves at once.
TEST_F(Capture, TerminalOutputIsUnbuffered) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        if (master >= 0) close(master);
        GTEST_SKIP() << "no pseudo-terminal available";
    }
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    // Raw mode: the terminal itself must not turn LF into CR LF.
    termios mode{};
    ASSERT_EQ(tcgetattr(slave, &mode), 0);
    cfmakeraw(&mode);
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &mode), 0);

    const auto arrived = [master](std::size_t n) {
        std::string got;
        while (got.size() < n) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 2000) <= 0) break;
            char buf[64];
            const ssize_t r = read(master, buf, sizeof buf);
            if (r <= 0) break;
            got.append(buf, static_cast<std::size_t>(r));
        }
        return got;
    };
    txtSetOutput(slave);
    EXPECT_TRUE(txtUnbuffered());
    txtPrintf("hi\n");
    EXPECT_EQ(arrived(4), "hi\r\n");
    putRaw("ab");
    EXPECT_EQ(arrived(2), "ab");
    txtSetOutput(1);
    close(slave);
    close(master);
}

// Standard error is unbuffered and translated like standard output.
TEST_F(Capture, ErrorStreamWritesAtOnce) {
    const int savedErr = dup(2);
    ASSERT_GE(savedErr, 0);
    ASSERT_EQ(dup2(fd, 2), 2);
    txtErrPrintf("%s: itemOpen() failed\n", "quorlin");
    const std::string now = written();
    txtErrPrintf("%s", longText(3000).c_str());
    const std::string later = written();
    dup2(savedErr, 2);
    close(savedErr);
    EXPECT_EQ(now, "quorlin: itemOpen() failed\r\n");
    EXPECT_EQ(later, now + fx::crlf(longText(3000)));
}

struct FailedWrite : ::testing::Test {
    void TearDown() override { txtSetOutput(1); }
};

TEST_F(FailedWrite, FullDeviceIsReported) {
    const int full = open("/dev/full", O_WRONLY);
    if (full < 0) GTEST_SKIP() << "no /dev/full";
    txtSetOutput(full);
    txtPrintf("text\n");
    EXPECT_EQ(txtFlush(), -1);
    EXPECT_EQ(txtError(), ENOSPC);
    // The failure stays reported.
    txtPrintf("more\n");
    EXPECT_EQ(txtFlush(), -1);
    EXPECT_EQ(txtError(), ENOSPC);
    // A new target starts without it.
    txtSetOutput(1);
    EXPECT_EQ(txtError(), 0);
    close(full);
}

TEST_F(FailedWrite, ClosedPipeIsReported) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    close(pipeFds[0]);
    const auto oldHandler = std::signal(SIGPIPE, SIG_IGN);
    txtSetOutput(pipeFds[1]);
    putRaw("bytes");
    EXPECT_EQ(txtFlush(), -1);
    EXPECT_EQ(txtError(), EPIPE);
    txtSetOutput(1);
    std::signal(SIGPIPE, oldHandler);
    close(pipeFds[1]);
}

TEST_F(FailedWrite, NothingWrittenNothingReported) {
    const int full = open("/dev/full", O_WRONLY);
    if (full < 0) GTEST_SKIP() << "no /dev/full";
    txtSetOutput(full);
    EXPECT_EQ(txtFlush(), 0);
    EXPECT_EQ(txtError(), 0);
    txtSetOutput(1);
    close(full);
}

} // namespace
