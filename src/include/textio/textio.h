#pragma once
// Standard output and standard error as text streams whose line end is CR LF.
//
// Every line feed that a formatted print produces is written as the two bytes
// 0x0D 0x0A; no other byte changes. Standard error is unbuffered. Standard
// output is unbuffered on a terminal and block-buffered otherwise; decoded
// text reaches its buffer through txtReserve/txtCommit without any format
// parsing or system call per byte.
//
// A failed write is remembered (txtError) and all later output is dropped, so
// callers can decide the exit status once, at the end.
#include <cstddef>
#include <cstdint>

// Largest n that txtReserve accepts.
inline constexpr std::size_t txtReserveMax = 4096;

int txtPrintf(const char *format, ...) __attribute__((format(printf, 1, 2)));
int txtErrPrintf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// One line end on standard output, as a formatted line feed writes it,
// without the formatting.
void txtLineEnd();

// Room for at least n raw bytes (n <= txtReserveMax) in the standard output
// buffer; write them there, then pass the end of what was written to txtCommit.
// Raw bytes are not translated.
std::uint8_t *txtReserve(std::size_t n);
void txtCommit(std::uint8_t *end);

// True when standard output is a terminal: output leaves at every commit.
bool txtUnbuffered();

// Writes everything pending; -1 if this or any earlier write failed.
int txtFlush();
// 0, or the errno of the first failed write to standard output.
int txtError();

// Where standard output goes: a file descriptor (1 by default). Tests and the
// fuzz target point it elsewhere; buffering follows the new target.
void txtSetOutput(int fd);
