// The decoding loop on crafted items: copies at the edges of the window,
// the position-code classes, early ends and the rendering across symbols.
#include "harness.h"

#include <algorithm>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "render.h"

namespace {

using dh::copy;
using dh::lit;
using dh::lits;
using dh::Sym;

// The item coded from syms, with the given decoded length (-1: the number of
// bytes the symbols make).
fx::Bytes itemFrom(const std::vector<Sym> &syms, std::int32_t length = -1) {
    if (length == -1) length = static_cast<std::int32_t>(dh::modelBytes(syms).size());
    return fx::itemOf(length, dh::encode(syms));
}

struct EdgeCase {
    const char *name;
    std::vector<Sym> syms;
    std::int32_t length; // -1: what the symbols make
    std::string printed; // the item's line without its line end
};

// Writing starts at 612: the first match's source is 611 - f, wrapping
// below 0. The preset ends at 1320 and the rest of the window holds 0x40 '@'.
const std::vector<EdgeCase> edgeCases = {
    {"f0FirstCopiesPresetByte611", {copy(3, 0)}, -1, "000"},
    {"f0RepeatsTheLastLiteral", {lit('x'), copy(4, 0)}, -1, "xxxxx"},
    {"f4095CopiesTheWritePositionItself", {copy(4, 4095)}, -1, "11:>"},
    {"f611ReachesPresetStart", {copy(4, 611)}, -1, "<TOC"},
    {"f612WrapsTheSourceBelowZero", {copy(3, 612)}, -1, "@<T"},
    {"f3386ReadsTheFillPastThePreset", {copy(3, 3386)}, -1, "@@@"},
    {"f3387ReadsThePresetsLastByte", {copy(3, 3387)}, -1, "\\x00@@"},
    {"f3400ReadsThePresetTail", {copy(4, 3400)}, -1, "\\x0d\\x0a</"},
    {"presetPairCopiedWhole", {copy(3, 527)}, -1, "\x81\xcb<"},
    {"overlappingCopyRepeatsItsOutput", lits("ab") + std::vector{copy(7, 1)}, -1, "ababababa"},
    {"longestMatchOverlapping", {copy(60, 0)}, -1, std::string(60, '0')},
    // Shift-JIS pairs across symbol boundaries.
    {"leadEndingMatchTrailLiteral", {copy(5, 4095), lit(0x79)}, -1, "11:>\x81\x79"},
    {"leadEndingMatchBadTrailLiteral", {copy(5, 4095), lit(0x3c)}, -1, "11:>\\x81\\x3c"},
    {"leadEndingMatchTrailMatch", {copy(5, 4095), copy(3, 0)}, -1, "11:>\x81\x81\x81\x81"},
    {"leadLiteralBadTrailMatch", {lit(0x82), copy(3, 612)}, -1, "\\x82\\x3cTO"},
    {"loneLeadLiteralDropped", lits("A\x81"), -1, "A"},
    {"loneLeadEndingMatchDropped", {copy(5, 4095)}, -1, "11:>"},
    // The decoded length only stops the loop: a match is copied in full.
    {"finalMatchOvershoots", {lit('A'), copy(5, 0), lit('Z')}, 2, "AAAAAA"},
    {"firstMatchOvershootsLengthOne", {copy(3, 611), lit('Z')}, 1, "<TO"},
    {"lengthZeroPrintsOnlyTheLineEnd", lits("AB"), 0, ""},
};

TEST(Decode, EdgesOfTheWindowAndTheRendering) {
    for (const EdgeCase &c : edgeCases) {
        SCOPED_TRACE(c.name);
        const std::string dir = dh::storeOf({itemFrom(c.syms, c.length)});
        const dh::Decoded d = dh::decodeIn(dir, 0, 0, 0);
        EXPECT_EQ(d.out, c.printed + "\r\n");
        EXPECT_EQ(d.result, 0);
        dh::removeStore(dir);
    }
}

// Each class of the position code at both ends of its range: the prefix and
// extra bits as decoded, the class letter and the distance value, in the
// trace of one match of length 3 at the start of an item.
TEST(Decode, PositionCodeClassesInTheTrace) {
    struct Case {
        int f;
        const char *trace; // disp=...->f part
    };
    const Case cases[] = {
        {0, "disp=0(000000000[f])->0"},
        {63, "disp=63(000111111[f])->63"},
        {64, "disp=128(0010000000[e])->64"},
        {255, "disp=319(0100111111[e])->255"},
        {256, "disp=640(01010000000[d])->256"},
        {767, "disp=1151(10001111111[d])->767"},
        {768, "disp=2304(100100000000[c])->768"},
        {1535, "disp=3071(101111111111[c])->1535"},
        {1536, "disp=6144(1100000000000[b])->1536"},
        {3071, "disp=7679(1110111111111[b])->3071"},
        {3072, "disp=15360(11110000000000[a])->3072"},
        {4095, "disp=16383(11111111111111[a])->4095"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.f);
        const std::vector<Sym> syms = {copy(3, c.f)};
        const std::string dir = dh::storeOf({itemFrom(syms)});
        const fx::Bytes copied = dh::modelBytes(syms);
        std::uint8_t lead = 0;
        std::uint8_t rendered[64];
        const std::string text(rendered, renderBytes(copied.data(), 3, &lead, rendered));
        const dh::Decoded d = dh::decodeIn(dir, 0, 1, 0);
        EXPECT_EQ(d.out, "10001100: len=3, " + std::string(c.trace) + " '" + text + "'\r\n\r\n" +
                             "rdispmax = " + std::to_string(c.f) + "\r\n");
        dh::removeStore(dir);
    }
}

// Items whose bits run out before the decoded length is reached: the line
// ends there, -1, and a match cut inside its position code copies nothing
// and leaves rdispmax alone.
TEST(Decode, BitsRunningOutEndTheItem) {
    struct Case {
        const char *name;
        const char *item; // hex: header, then the bit stream
        std::string plain;
        std::string traced;
    };
    const Case cases[] = {
        {"insideTheTreeWalk",
         // decoded length 5; 'A' 111001101, then 7 of the 8 bits of the next
         // 'A' (11000101 once the first has been counted)
         "0000 05000000 E6E2", "A\r\n",
         fx::crlf("111001101: char=0x41 'A'\n1100010\nrdispmax = 0\n")},
        {"insideTheWalkAfterAMatch",
         // worked item 1 cut after 40 bits: 'A', 'B', the match, 5 bits of 0x82
         "0000 07000000 E6F3A30021", "ABABA\r\n",
         fx::crlf("111001101: char=0x41 'A'\n111001110: char=0x42 'B'\n"
                  "10001100: len=3, disp=1(000000001[f])->1 'ABA'\n00001\nrdispmax = 1\n")},
        {"atASymbolBoundary",
         // worked item 2 with a decoded length of 10: after the match only the
         // 5 padding bits are left
         "0000 0A000000 8D7C60", "<TOC\r\n",
         fx::crlf("10001101: len=4, disp=995(01111100011[d])->611 '<TOC'\n00000\n"
                  "rdispmax = 611\n")},
        {"insideThePositionPrefix",
         // 'A' 'B' 'C' 'D' (fresh 9-bit codes), length 3 10001100, then 4 of
         // the 5 prefix bits
         "0000 0A000000 E6F3B9FD08C0", "ABCD\r\n",
         fx::crlf("111001101: char=0x41 'A'\n111001110: char=0x42 'B'\n"
                  "111001111: char=0x43 'C'\n111010000: char=0x44 'D'\n10001100: \n"
                  "rdispmax = 0\n")},
        {"insideTheExtraBits",
         // 'A', length 3 10001100, prefix 00000, 2 of its 4 extra bits
         "0000 05000000 E6C600", "A\r\n",
         fx::crlf("111001101: char=0x41 'A'\n10001100: len=3, \nrdispmax = 0\n")},
        {"noBitsAtAll", "0000 05000000", "\r\n", fx::crlf("\nrdispmax = 0\n")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = dh::storeOf({fx::hex(c.item)});
        const dh::Decoded plain = dh::decodeIn(dir, 0, 0, 0);
        EXPECT_EQ(plain.out, c.plain);
        EXPECT_EQ(plain.result, -1);
        const dh::Decoded traced = dh::decodeIn(dir, 0, 1, 0);
        EXPECT_EQ(traced.out, c.traced);
        EXPECT_EQ(traced.result, -1);
        dh::removeStore(dir);
    }
}

// Pseudo-random literal bytes: every value, so copies show where they read.
std::vector<Sym> noise(int n, unsigned seed) {
    std::vector<Sym> out;
    for (int i = 0; i < n; i++) {
        seed = seed * 1103515245u + 12345u;
        out.push_back(lit(static_cast<int>(seed >> 16 & 0xff)));
    }
    return out;
}

// Copies around the wrap of the window and the overlaps that must take the
// byte-by-byte path, against the plain model of the window. 3484 stored
// bytes bring the write position from 612 to the end of the window.
TEST(Decode, CopiesAgreeWithTheWindowModel) {
    struct Case {
        const char *name;
        int before; // literals written first
        std::vector<Sym> tail;
    };
    std::vector<Sym> manyMatches;
    for (int i = 0; i < 150; i++) manyMatches.push_back(copy(3 + i % 58, (i * 977) % 4096));
    const Case cases[] = {
        {"writeWrapsBeforeACopy", 3484, {copy(3, 0)}},
        {"literalWrapsToPositionZero", 3484, {lit(0x41), copy(5, 0)}},
        {"writeWrapsInsideACopy", 3480, {copy(10, 100)}},
        {"overlappingCopyWrapsTheWrite", 3480, {copy(10, 3)}},
        {"sourceWrapsInsideACopy", 3490, {copy(10, 8)}},
        {"sourceIsTheWritePosition", 3490, {copy(20, 4095)}},
        {"sourceJustAheadOfTheWrite", 3490, {copy(20, 4093)}},
        {"sourceEndsWhereTheWriteStarts", 100, {copy(60, 59)}},
        {"sourceOverlapsTheWriteByOne", 100, {copy(60, 58)}},
        {"copyEndsAtTheWindowEnd", 3424, {copy(60, 200), copy(3, 0)}},
        {"preambleOverwrittenAfterWrap", 4200, {copy(40, 3000), copy(40, 4095)}},
        {"manyMatchesWrappingTwice", 200, manyMatches},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<Sym> syms = noise(c.before, 7) + c.tail;
        const fx::Bytes expected = dh::modelBytes(syms);
        const std::string dir = dh::storeOf({itemFrom(syms)});
        std::vector<std::uint8_t> rendered(expected.size() * 4 + 8);
        std::uint8_t lead = 0;
        std::uint8_t *end =
            renderBytes(expected.data(), static_cast<int>(expected.size()), &lead, rendered.data());
        const std::string printed = std::string(rendered.data(), end) + "\r\n";
        const dh::RawDecoded raw = dh::rawIn(dir, 0);
        EXPECT_EQ(raw.result, 0);
        EXPECT_EQ(raw.bytes, expected);
        const dh::Decoded d = dh::decodeIn(dir, 0, 0, 0);
        EXPECT_EQ(d.result, 0);
        EXPECT_TRUE(d.out == printed) << "rendered output differs from the model's bytes";
        dh::removeStore(dir);
    }
}

// Raw decoding stores no byte past the capacity it is given, whatever the
// item holds (here a last match that runs past the decoded length), and
// still counts every byte it decoded.
TEST(Decode, RawOutputStopsAtItsCapacity) {
    const std::vector<Sym> syms = noise(40, 5) + std::vector{copy(60, 7)};
    const fx::Bytes expected = dh::modelBytes(syms);
    const std::string dir = dh::storeOf({fx::itemOf(50, dh::encode(syms))});
    for (std::size_t capacity : {std::size_t{0}, std::size_t{1}, std::size_t{49}, std::size_t{50},
                                 expected.size() - 1, expected.size()}) {
        SCOPED_TRACE("capacity " + std::to_string(capacity));
        constexpr std::uint8_t untouched = 0xA5;
        std::vector<std::uint8_t> out(expected.size() + 8, untouched);
        std::size_t produced = 0;
        int result = -2;
        dh::withItem(dir, 0, [&](std::int32_t length) {
            result = decRawToArray(length, out.data(), capacity, &produced);
        });
        EXPECT_EQ(result, 0);
        EXPECT_EQ(produced, expected.size());
        const auto cut = static_cast<std::ptrdiff_t>(capacity);
        EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + cut, out.begin()));
        EXPECT_TRUE(std::all_of(out.begin() + cut, out.end(),
                                [](std::uint8_t b) { return b == untouched; }));
    }
    dh::removeStore(dir);
}

// The rebuild notice stands in the trace right after the symbol whose update
// found the root weight at 0x8000: the 32455th, since the tree starts at 314.
TEST(Decode, WeightFullNoticeFollowsSymbol32455) {
    const int symbols = 32460;
    const std::string dir = dh::storeOf({itemFrom(noise(symbols, 11))});
    const dh::Decoded d = dh::decodeIn(dir, 0, 1, 0);
    EXPECT_EQ(d.result, 0);
    const std::string notice = "'\r\n\r\nWEIGHT FULL\r\n";
    const std::size_t at = d.out.find(notice);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(d.out.find(notice, at + 1), std::string::npos) << "only one rebuild";
    std::size_t linesBefore = 0;
    for (std::size_t i = 0; i <= at; i++) linesBefore += d.out[i] == '\n';
    // Each literal's trace is one line; the notice follows the 32455th.
    EXPECT_EQ(linesBefore, 32454u);
    ASSERT_GT(d.out.size(), at + notice.size());
    const char next = d.out[at + notice.size()];
    EXPECT_TRUE(next == '0' || next == '1') << "the next symbol's code follows the notice";
    dh::removeStore(dir);
}

} // namespace

// On a terminal the plain path hands over every symbol's text at once
// instead of filling the buffer; the bytes must be the same as on a file.
TEST(Decode, TerminalOutputIsTheSameText) {
    const std::vector<Sym> syms = noise(300, 3) + std::vector{copy(60, 4095), copy(20, 5)} +
                                  lits("\x82") + std::vector{copy(9, 0)};
    const std::string dir = dh::storeOf({itemFrom(syms)});
    const dh::Decoded onFile = dh::decodeIn(dir, 0, 0, 0);

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    termios raw{};
    ASSERT_EQ(tcgetattr(slave, &raw), 0);
    cfmakeraw(&raw); // no CR LF translation by the terminal itself
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &raw), 0);

    // The terminal is drained while the item decodes, so no amount of
    // output can block the writer, however slow the machine. Reading stops
    // once the decode has returned and the terminal has nothing more.
    std::string onTerminal;
    std::atomic<bool> decoded{false};
    std::thread drain([&] {
        char chunk[4096];
        for (;;) {
            pollfd p{master, POLLIN, 0};
            const int ready = poll(&p, 1, 100);
            if (ready < 0) break;
            if (ready == 0) {
                if (decoded) break;
                continue;
            }
            const ssize_t got = read(master, chunk, sizeof chunk);
            if (got <= 0) break;
            onTerminal.append(chunk, static_cast<std::size_t>(got));
        }
    });
    int result = -2;
    dh::withItem(dir, 0, [&](std::int32_t length) {
        txtSetOutput(slave);
        EXPECT_TRUE(txtUnbuffered());
        result = hufDecode(length, 0, 0);
        txtSetOutput(1);
    });
    decoded = true;
    drain.join();
    close(slave);
    close(master);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(onTerminal == onFile.out) << onTerminal.size() << " bytes vs " << onFile.out.size();
    dh::removeStore(dir);
}
