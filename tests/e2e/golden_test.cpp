// The built quorlin on small stores, every output byte compared with a
// golden file in the test data directory. QUORLIN_REGENERATE=1 rewrites the
// files after a deliberate change; review their diff before committing.
// Each case also checks facts derived by hand, so a wrong golden file
// cannot pass unnoticed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "fixture.h"

namespace {

// Worked item 1: 'A', 'B', a match of 3 at f = 1, then 0x82 0xA0; its 51 bits
// end three bits into the byte 0x80, so the final 0x13 is never read.
const char *const workedItem1 = "0000 07000000 E6F3A30021C58013";
// Worked item 2: one match of 4 at f = 611, the preset's first bytes.
const char *const workedItem2 = "0000 04000000 8D7C60";
// Byte 0x65 four times: codes 111110001, 11000101, 1100001, 1100010 (each
// update moves it closer to the root), one padding bit.
const char *const fourE = "0000 04000000 F8E2E1C4";
// One literal 'A' (111001101) and seven padding bits.
const char *const oneA = "0000 01000000 E680";

std::string storeOne(const char *item) {
    const std::string dir = fx::tempDir();
    fx::writeItems(dir, {fx::hex(item)});
    return dir;
}

// Items apart from each other, between junk bytes, and indexed out of their
// order in item.dat. Record 3 points past the end of item.dat, so the run
// over all items fails there and never reaches record 4.
std::string storeSeveral() {
    const std::string dir = fx::tempDir();
    fx::Bytes data = fx::hex("FFFFFF");         // 0: junk
    const fx::Bytes one = fx::hex(workedItem1); // 3: 14 bytes
    data.insert(data.end(), one.begin(), one.end());
    const fx::Bytes gap = fx::hex("0102030405"); // 17: junk
    data.insert(data.end(), gap.begin(), gap.end());
    const fx::Bytes two = fx::hex(workedItem2); // 22: 9 bytes
    data.insert(data.end(), two.begin(), two.end());
    data.insert(data.end(), 9, 0xEE);      // 31: junk
    const fx::Bytes four = fx::hex(fourE); // 40: 10 bytes
    data.insert(data.end(), four.begin(), four.end());
    const fx::Bytes index = fx::indexOf({{22, 9}, {40, 10}, {3, 14}, {1000, 9}, {3, 14}});
    fx::writeStore(dir, index, data);
    return dir;
}

std::vector<std::string> linesOf(const std::string &out) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at; (at = out.find("\r\n", start)) != std::string::npos; start = at + 2) {
        lines.push_back(out.substr(start, at - start));
    }
    EXPECT_EQ(start, out.size()) << "output ends inside a line";
    return lines;
}

bool regenerating() {
    const char *v = std::getenv("QUORLIN_REGENERATE");
    return v != nullptr && std::string(v) == "1";
}

// Compares out with the golden file byte for byte, naming the first
// difference; rewrites the file instead when regenerating.
void expectGolden(const std::string &name, const std::string &out) {
    const std::string path = std::string(QUORLIN_TEST_DATA) + "/" + name;
    if (regenerating()) {
        fx::writeFile(path, fx::bytesOf(out));
        std::printf("rewrote %s (%zu bytes)\n", path.c_str(), out.size());
        return;
    }
    const std::string golden = fx::textOf(fx::readFile(path));
    ASSERT_FALSE(golden.empty()) << path << " is missing; run with QUORLIN_REGENERATE=1";
    std::size_t i = 0;
    while (i < golden.size() && i < out.size() && golden[i] == out[i]) i++;
    EXPECT_TRUE(i == golden.size() && i == out.size())
        << name << ": first difference at byte " << i << " of " << out.size() << " (golden has "
        << golden.size() << ")";
}

struct GoldenCase {
    const char *name; // also the golden file's name, with .out
    std::function<std::string()> store;
    std::vector<std::string> args;
    std::function<void(const std::string &)> check; // facts derived by hand
    std::string err = "";
    int status = 0;
};

const std::string selectFailed = "quorlin: itemSelect() failed\r\n";

const std::vector<GoldenCase> goldenCases = {
    {"worked1",
     [] { return storeOne(workedItem1); },
     {},
     [](const std::string &out) { EXPECT_EQ(out, "ABABA\x82\xa0\r\n"); }},
    {"worked1-v",
     [] { return storeOne(workedItem1); },
     {"-v"},
     [](const std::string &out) {
         EXPECT_EQ(out, fx::crlf("111001101: char=0x41 'A'\n"
                                 "111001110: char=0x42 'B'\n"
                                 "10001100: len=3, disp=1(000000001[f])->1 'ABA'\n"
                                 "00001110: char=0x82 ''\n"
                                 "00101100: char=0xa0 '\x82\xa0'\n"
                                 "\n"
                                 "rdispmax = 1\n"));
     }},
    {"worked2",
     [] { return storeOne(workedItem2); },
     {},
     [](const std::string &out) { EXPECT_EQ(out, "<TOC\r\n"); }},
    {"worked2-v",
     [] { return storeOne(workedItem2); },
     {"-v"},
     [](const std::string &out) {
         EXPECT_EQ(out, fx::crlf("10001101: len=4, disp=995(01111100011[d])->611 '<TOC'\n"
                                 "\n"
                                 "rdispmax = 611\n"));
     }},
    {"several-items",
     storeSeveral,
     {},
     [](const std::string &out) { EXPECT_EQ(out, "<TOC\r\neeee\r\nABABA\x82\xa0\r\n"); },
     selectFailed,
     1},
    {"several-items-v",
     storeSeveral,
     {"-v"},
     [](const std::string &out) {
         // Every item starts from the reset tree: 0x65 has its 9-bit code
         // again after the first item.
         const std::vector<std::string> lines = linesOf(out);
         std::vector<std::string> rdispmax;
         for (const std::string &line : lines) {
             if (line.rfind("rdispmax", 0) == 0) rdispmax.push_back(line);
         }
         EXPECT_EQ(rdispmax,
                   (std::vector<std::string>{"rdispmax = 611", "rdispmax = 0", "rdispmax = 1"}));
         ASSERT_GE(lines.size(), 4u);
         EXPECT_EQ(lines[3], "111110001: char=0x65 'e'");
     },
     selectFailed,
     1},
    {"several-items-4",
     storeSeveral,
     {"4"},
     [](const std::string &out) { EXPECT_EQ(out, "ABABA\x82\xa0\r\n"); }},
    {"exchanges-vv",
     [] { return storeOne(fourE); },
     {"-vv"},
     [](const std::string &out) {
         const std::vector<std::string> lines = linesOf(out);
         ASSERT_EQ(lines.size(), 4u + 4u * 2u + 2u); // symbols, pairs, line end, rdispmax
         EXPECT_EQ(lines[0], "111110001: char=0x65 'e'");
         EXPECT_EQ(lines[1], "swap: current: 111110001: weight=1, order=102, ch=0x65");
         EXPECT_EQ(lines[2], "       target: 11000101: weight=1, order=314, len=60");
         EXPECT_EQ(lines[3], "11000101: char=0x65 'e'");
         EXPECT_EQ(lines[4], "swap: current: 11000101: weight=2, order=314, ch=0x65 *");
         EXPECT_EQ(lines[5], "       target: 1100001: weight=2, order=470, (intermediate)");
         EXPECT_EQ(lines[6], "1100001: char=0x65 'e'");
         EXPECT_EQ(lines[9], "1100010: char=0x65 'e'");
         EXPECT_EQ(lines[12], "");
         EXPECT_EQ(lines[13], "rdispmax = 0");
     }},
    {"one-symbol-d",
     [] { return storeOne(oneA); },
     {"-d"},
     [](const std::string &out) {
         // The text, then 627 node lines of which the first continues the
         // text line, then the item's own line end.
         const std::vector<std::string> lines = linesOf(out);
         ASSERT_EQ(lines.size(), 628u);
         EXPECT_EQ(lines[0], "A110001100: weight=1, order=1, ch=0x00");
         EXPECT_EQ(lines[626], ": weight=315, order=627, (intermediate)");
         EXPECT_EQ(lines[627], "");
         // 'A' took the place of length 60, the last leaf of weight 1.
         int marked = 0;
         for (const std::string &line : lines) marked += line.ends_with(" *");
         EXPECT_EQ(marked, 2);
         EXPECT_NE(out.find("\r\n11000101: weight=2, order=314, ch=0x41 *\r\n"), std::string::npos);
         EXPECT_NE(out.find("\r\n111001101: weight=1, order=66, len=60 *\r\n"), std::string::npos);
     }},
};

TEST(Golden, OutputsMatchByteForByte) {
    for (const GoldenCase &c : goldenCases) {
        SCOPED_TRACE(c.name);
        const std::string dir = c.store();
        const fx::RunResult r = fx::run(dir, c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, c.err);
        expectGolden(std::string(c.name) + ".out", r.out);
        c.check(r.out);
        std::remove((dir + "/itemloc.dat").c_str());
        std::remove((dir + "/item.dat").c_str());
        rmdir(dir.c_str());
    }
}

} // namespace
