#pragma once
// Test-only builders of stores and runners of the built programs.
#include <cstdint>
#include <string>
#include <vector>

namespace fx {

using Bytes = std::vector<std::uint8_t>;

// "00 0a FF" -> bytes; spaces are optional.
Bytes hex(const std::string &text);
Bytes bytesOf(const std::string &text);
std::string textOf(const Bytes &bytes);

// A fresh empty directory under the build tree's test-tmp directory.
std::string tempDir();
void writeFile(const std::string &path, const Bytes &bytes);
Bytes readFile(const std::string &path);

struct Record {
    std::uint32_t offset;
    std::uint32_t stored;
};
// itemloc.dat: 16-byte records, offset and stored length big-endian, the
// unread tail zero.
Bytes indexOf(const std::vector<Record> &records);
// The 6-byte item header: two ignored bytes, the decoded length little-endian.
Bytes itemHeader(std::int32_t decodedLength);
// Writes itemloc.dat and item.dat into dir.
void writeStore(const std::string &dir, const Bytes &index, const Bytes &data);
// A store of whole items laid out one after another in record order.
void writeItems(const std::string &dir, const std::vector<Bytes> &items);

// Bits, most significant first, padded with zeros to whole bytes.
struct BitWriter {
    Bytes bytes;
    int used = 0; // bits written
};
void putBits(BitWriter &w, std::uint32_t value, int n);
// Symbols coded with the literal model's adaptive tree: codeReset() lays
// down the starting tree, codeLiteral/codeMatch write a symbol's path bits
// and update the tree as the decoder will. codeMatch writes length len (3 to 60)
// and distance value f (0 to 4095).
void codeReset();
void codeLiteral(BitWriter &w, std::uint8_t byte);
void codeMatch(BitWriter &w, int len, int f);
// Writes only the position code of f (5-bit prefix and extra bits).
void codePosition(BitWriter &w, int f);
// The path bits of a symbol's leaf (0-255 bytes, 256 + n length n + 3) in
// the current tree, as a string of '0' and '1'.
std::string pathOf(int symbol);
// A whole item: header with the decoded length, then the written bits.
Bytes itemOf(std::int32_t decodedLength, const BitWriter &w);

struct RunResult {
    std::string out;
    std::string err;
    int status = -1; // exit status, or 128 + signal number
};
// Runs a program (default: the built quorlin) with args in dir. mergeErr
// sends standard error into the same file as standard output (2>&1). With
// seconds, a program that runs longer is ended by SIGALRM (status 142), so
// that a test of something that could hang fails at once.
RunResult run(const std::string &dir, const std::vector<std::string> &args, bool mergeErr = false,
              const std::string &program = "", unsigned seconds = 0);
// In a child about to run a program: every signal that ends a run back to
// its default action and none held, whatever the test was started with (a
// shell's background job ignores SIGINT and SIGQUIT, and the programs keep
// what they inherit ignored).
void defaultSignals();

// Path of the built quorlin binary.
std::string quorlinPath();

// Line ends as the tool writes them: each "\n" becomes CR LF.
std::string crlf(const std::string &text);

// Ends a forked child at once, as _exit does: no handlers of the parent's
// atexit, no flush of its buffers. A child that ran product code in the test
// process must leave this way, for in a coverage build its counts are written
// first, which _exit alone would drop. A child that limits the size of the
// files it writes lowers the soft limit only: the counts are written past it.
[[noreturn]] void exitChild(int status);

} // namespace fx
