#include "textio/textio.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// 64 KiB: large enough that a redirected run makes one write per 64 KiB of
// text, small enough to stay in the second-level cache.
constexpr std::size_t outCapacity = 65536;

std::uint8_t outBuffer[outCapacity];
std::size_t outUsed = 0;
int outFd = 1;
int outMode = -1; // -1 not yet decided, 0 block-buffered, 1 unbuffered (terminal)
int outErrno = 0;
bool flushRegistered = false;

void flushAtExit() {
    txtFlush();
}

void decideMode() {
    outMode = isatty(outFd) ? 1 : 0;
    if (!flushRegistered) {
        flushRegistered = true;
        std::atexit(flushAtExit);
    }
}

// Writes all n bytes, retrying short writes; returns 0 or an errno value.
int writeAll(int fd, const std::uint8_t *p, std::size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return 0;
}

void flushOut() {
    if (outUsed == 0) return;
    if (outErrno == 0) outErrno = writeAll(outFd, outBuffer, outUsed);
    outUsed = 0;
}

// Formats into a stack buffer (or a heap one for rare long lines) and copies
// the result with each LF turned into CR LF; calls emit(bytes, count).
template <typename Emit> int formatCrlf(const char *format, va_list args, Emit emit) {
    char text[1024];
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(text, sizeof text, format, args);
    if (n < 0) {
        va_end(again);
        return -1;
    }
    char *src = text;
    char *large = nullptr;
    if (static_cast<std::size_t>(n) >= sizeof text) {
        large = static_cast<char *>(std::malloc(static_cast<std::size_t>(n) + 1));
        if (large == nullptr) {
            va_end(again);
            return -1;
        }
        std::vsnprintf(large, static_cast<std::size_t>(n) + 1, format, again);
        src = large;
    }
    va_end(again);
    std::uint8_t chunk[2048];
    std::size_t used = 0;
    for (int i = 0; i < n; i++) {
        if (used + 2 > sizeof chunk) {
            emit(chunk, used);
            used = 0;
        }
        if (src[i] == '\n') chunk[used++] = 0x0D;
        chunk[used++] = static_cast<std::uint8_t>(src[i]);
    }
    emit(chunk, used);
    std::free(large);
    return n;
}

void appendOut(const std::uint8_t *p, std::size_t n) {
    if (outMode < 0) decideMode();
    if (outUsed + n > outCapacity) flushOut();
    if (n > outCapacity) {
        if (outErrno == 0) outErrno = writeAll(outFd, p, n);
        return;
    }
    std::memcpy(outBuffer + outUsed, p, n);
    outUsed += n;
    if (outMode == 1) flushOut();
}

} // namespace

int txtPrintf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int n = formatCrlf(format, args, appendOut);
    va_end(args);
    return n;
}

void txtLineEnd() {
    static const std::uint8_t lineEnd[2] = {0x0D, 0x0A};
    appendOut(lineEnd, sizeof lineEnd);
}

int txtErrPrintf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    // Unbuffered: each message leaves in one write, before anything pending on
    // a redirected standard output.
    int n = formatCrlf(format, args,
                       [](const std::uint8_t *p, std::size_t count) { writeAll(2, p, count); });
    va_end(args);
    return n;
}

std::uint8_t *txtReserve(std::size_t n) {
    if (outMode < 0) decideMode();
    if (outCapacity - outUsed < n) flushOut();
    return outBuffer + outUsed;
}

void txtCommit(std::uint8_t *end) {
    outUsed = static_cast<std::size_t>(end - outBuffer);
    if (outMode == 1) flushOut();
}

int txtFlush() {
    flushOut();
    return outErrno == 0 ? 0 : -1;
}

int txtError() {
    return outErrno;
}

bool txtUnbuffered() {
    if (outMode < 0) decideMode();
    return outMode == 1;
}

void txtSetOutput(int fd) {
    flushOut();
    outFd = fd;
    outErrno = 0;
    decideMode();
}
