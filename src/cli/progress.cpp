// The packer's progress line, rewritten with a carriage return.
#include "progress.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// Seconds between updates of the line: a few a second are enough to see it
// move, and more would only flicker and cost writes.
constexpr double updateEvery = 0.25;

const char *name = "";
ProgMode shown = progOff;
double started = 0;
double lastUpdate = 0;
std::uint64_t readBytes = 0;
std::uint64_t packedBytes = 0;
// Length of the line on the screen, to blank out what a shorter one leaves.
std::size_t lineLength = 0;

double now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

} // namespace

void progFormatBytes(char *out, std::size_t size, double bytes) {
    static const char *const units[] = {"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024) {
        std::snprintf(out, size, "%.0f B", bytes);
        return;
    }
    int unit = 0;
    bytes /= 1024;
    while (bytes >= 1024 && unit < 3) {
        bytes /= 1024;
        unit++;
    }
    std::snprintf(out, size, "%.1f %s", bytes, units[unit]);
}

namespace {

void formatRate(char *out, std::size_t size, double seconds) {
    progFormatBytes(out, size, seconds > 0 ? static_cast<double>(packedBytes) / seconds : 0.0);
}

// Writes line over the one on the screen, padded to cover all of it.
void show(const char *line, const char *end) {
    const std::size_t n = std::strlen(line);
    const int pad = lineLength > n ? static_cast<int>(lineLength - n) : 0;
    std::fprintf(stderr, "\r%s%*s%s", line, pad, "", end);
    lineLength = n;
}

void update(double t) {
    char packed[32];
    char read[32];
    char rate[32];
    progFormatBytes(packed, sizeof packed, static_cast<double>(packedBytes));
    progFormatBytes(read, sizeof read, static_cast<double>(readBytes));
    formatRate(rate, sizeof rate, t - started);
    char line[160];
    std::snprintf(line, sizeof line, "%s: %s packed of %s read, %s/s", name, packed, read, rate);
    show(line, "");
    lastUpdate = t;
}

void maybeUpdate() {
    const double t = now();
    if (t - lastUpdate >= updateEvery) update(t);
}

// Blanks the line and leaves the cursor at its start.
void clear() {
    if (lineLength > 0) std::fprintf(stderr, "\r%*s\r", static_cast<int>(lineLength), "");
    lineLength = 0;
}

} // namespace

void progBegin(const char *program, ProgMode mode) {
    name = program;
    shown = mode;
    started = now();
    lastUpdate = started;
    readBytes = 0;
    packedBytes = 0;
    lineLength = 0;
}

void progRead(std::uint64_t bytes) {
    if (shown == progOff) return;
    readBytes += bytes;
    maybeUpdate();
}

void progPacked(std::uint64_t bytes) {
    if (shown == progOff) return;
    packedBytes = bytes;
    maybeUpdate();
}

void progFinish() {
    if (shown == progLive) clear();
    if (shown == progLogged) {
        const double seconds = now() - started;
        char packed[32];
        char rate[32];
        progFormatBytes(packed, sizeof packed, static_cast<double>(packedBytes));
        formatRate(rate, sizeof rate, seconds);
        char line[160];
        std::snprintf(line, sizeof line, "%s: %s packed in %.2f s, %s/s", name, packed, seconds,
                      rate);
        show(line, "\n");
    }
    shown = progOff;
}

void progStop() {
    if (shown == progLive) clear();
    if (shown == progLogged && lineLength > 0) std::fputc('\n', stderr);
    shown = progOff;
}
