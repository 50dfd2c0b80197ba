// Streams the encoder never makes, written field by field with a bit writer
// of their own, so that none of the decoder's tables or its tree helps to
// make the bits it then reads.
//
// Every code here is the starting tree's, or follows from it by hand: bytes
// 0x74-0xFF have the 8-bit codes 0x00-0x8B, lengths 3-60 the 8-bit codes
// 0x8C-0xC5, bytes 0x00-0x73 the 9-bit codes 0x18C-0x1FF. The one adapted
// code used is length 3's after its first update: a leaf of weight 1 trades
// places with the highest-numbered node of its weight, the leaf of length 60
// at 0xC5, and no node above it has an equal weight of a higher order number
// (0xC4-0xC5's parent is the last depth-7 node over 8-bit leaves), so it is
// found at 0xC5 from then on.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "decode/decode.h"
#include "fixture.h"
#include "item/item.h"
#include "textio/textio.h"

namespace {

// One field of a stream: its value, written in width bits, most significant
// bit first, and why it is there.
struct Field {
    std::uint32_t bits;
    int width;
    const char *why;
};

// The item: a header with the decoded length, then the fields back to back,
// padded with zero bits to a whole byte.
fx::Bytes itemOfFields(std::int32_t length, const std::vector<Field> &fields) {
    fx::Bytes item = fx::itemHeader(length);
    int used = 0;
    for (const Field &f : fields) {
        for (int i = f.width - 1; i >= 0; i--) {
            if (used % 8 == 0) item.push_back(0);
            if (f.bits >> i & 1) item.back() |= static_cast<std::uint8_t>(0x80 >> (used % 8));
            used++;
        }
    }
    return item;
}

struct Decoded {
    std::string out;
    int result = -2;
};

// Item 0 of the store in dir, decoded as the driver does for a named item,
// with standard output captured.
Decoded decodeItem(const std::string &dir, int verbose) {
    Decoded d;
    const std::string outPath = dir + "/.out";
    const int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    char cwd[4096];
    if (fd < 0 || getcwd(cwd, sizeof cwd) == nullptr || chdir(dir.c_str()) != 0) {
        ADD_FAILURE() << "cannot decode in " << dir;
        if (fd >= 0) close(fd);
        return d;
    }
    if (itemOpen() == 0) {
        const std::int32_t length = itemSelect(0);
        if (length >= 0) {
            txtSetOutput(fd);
            d.result = hufDecode(length, verbose, 0);
            EXPECT_EQ(txtFlush(), 0);
            txtSetOutput(1);
        } else {
            ADD_FAILURE() << "item 0 cannot be selected";
        }
        itemClose();
    } else {
        ADD_FAILURE() << "store cannot be opened";
    }
    EXPECT_EQ(chdir(cwd), 0);
    close(fd);
    d.out = fx::textOf(fx::readFile(outPath));
    std::remove(outPath.c_str());
    return d;
}

struct Case {
    const char *name;
    std::int32_t length; // the header's decoded length
    std::vector<Field> fields;
    std::string plain;  // the item's line without options
    std::string traced; // with -v, "\n" for each line end
    int result;         // 0: the length was reached; -1: the bits ran out
};

// Preset bytes the copies below read: offsets 0-2 "<TO", 611 '0', 612-615
// "11:>". Past the preset's end (1320) the window holds 0x40 '@'.
const std::vector<Case> cases = {
    {"f4095OnTheFirstSymbolCopiesTheWritePosition",
     4,
     {
         {0x8D, 8, "length 4: 0x8C + (4 - 3)"},
         {31, 5, "prefix 31: class a, 9 extra bits"},
         {0x1FF, 9, "disp 31 * 512 + 511 = 16383; f = 16383 - 0x3000 = 4095"},
         // The source is 612 - 4095 - 1 + 4096 = 612, the write position
         // itself: each byte is read just before it is overwritten.
     },
     "11:>\r\n",
     "10001101: len=4, disp=16383(11111111111111[a])->4095 '11:>'\n\nrdispmax = 4095\n",
     0},
    {"rdispmaxKeepsTheLargerFirstDistance",
     6,
     {
         {0x8C, 8, "length 3"},
         {15, 5, "prefix 15: class d, 6 extra bits"},
         {35, 6, "disp 15 * 64 + 35 = 995; f = 995 - 0x180 = 611: preset offset 0"},
         {0xC5, 8, "length 3 at its adapted code"},
         {0, 5, "prefix 0: class f, 4 extra bits"},
         {1, 4, "f = 1: two bytes back, overlapping the copy's own output"},
     },
     "<TOTOT\r\n",
     "10001100: len=3, disp=995(01111100011[d])->611 '<TO'\n"
     "11000101: len=3, disp=1(000000001[f])->1 'TOT'\n\nrdispmax = 611\n",
     0},
    {"matchOvershootsTheDecodedLength",
     2,
     {
         {0x8E, 8, "length 5"},
         {0, 5, "prefix 0"},
         {0, 4, "f = 0: the byte before the write position, preset offset 611"},
         {0x1CD, 9, "'A' (0x18C + 0x41), never read: the length is already passed"},
     },
     "00000\r\n",
     "10001110: len=5, disp=0(000000000[f])->0 '00000'\n\nrdispmax = 0\n",
     0},
    {"bitsRunOutInsideASymbolsCode",
     1,
     {
         {0xE6, 8, "the first 8 of the 9 bits of 'A', 0x1CD; the item ends"},
     },
     "\r\n",
     "11100110\nrdispmax = 0\n",
     -1},
    {"cutInsideThePositionPrefix",
     10,
     {
         {0x8C, 8, "length 3"},
         {18, 5, "prefix 18: class c, 7 extra bits"},
         {0, 7, "disp 18 * 128 = 2304; f = 2304 - 0x600 = 768: window position 3939"},
         {0xC5, 8, "length 3 at its adapted code"},
         {0xF, 4, "4 of the 5 prefix bits; the item ends on a byte boundary"},
     },
     "@@@\r\n",
     "10001100: len=3, disp=2304(100100000000[c])->768 '@@@'\n11000101: \nrdispmax = 768\n",
     -1},
    {"cutInsideTheExtraBitsCopiesNothing",
     3,
     {
         {0x8C, 8, "length 3"},
         {31, 5, "prefix 31: class a, 9 extra bits"},
         {0x7, 3, "3 of the 9 extra bits; the item ends"},
     },
     "\r\n",
     "10001100: len=3, \nrdispmax = 0\n",
     -1},
};

TEST(Crafted, StreamsWrittenFieldByField) {
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = fx::tempDir();
        fx::writeItems(dir, {itemOfFields(c.length, c.fields)});
        const Decoded plain = decodeItem(dir, 0);
        EXPECT_EQ(plain.out, c.plain);
        EXPECT_EQ(plain.result, c.result);
        const Decoded traced = decodeItem(dir, 1);
        EXPECT_EQ(traced.out, fx::crlf(c.traced));
        EXPECT_EQ(traced.result, c.result);
        std::remove((dir + "/itemloc.dat").c_str());
        std::remove((dir + "/item.dat").c_str());
        rmdir(dir.c_str());
    }
}

} // namespace
