#pragma once
// The packer's progress line on standard error: bytes of text read and
// packed and the rate, one line rewritten in place a few times a second.
#include <cstddef>
#include <cstdint>

enum ProgMode {
    progOff,
    // On a terminal: the line shows while the run works and is cleared at
    // the end, so a finished run leaves the screen as it found it.
    progLive,
    // Asked for: the same line, and at the end the final figures on a line
    // of their own, so that a log keeps them.
    progLogged,
};

void progBegin(const char *program, ProgMode mode);
// Adds bytes of text read.
void progRead(std::uint64_t bytes);
// Sets the bytes of text packed so far.
void progPacked(std::uint64_t bytes);
// The run succeeded: the final figures (logged) or a cleared line (live).
void progFinish();
// The run failed: the line is ended (logged) or cleared (live), so that the
// message that follows starts a line of its own.
void progStop();

// bytes in binary units, as "812 B", "12.3 KiB", "4.5 MiB", into out.
void progFormatBytes(char *out, std::size_t size, double bytes);
