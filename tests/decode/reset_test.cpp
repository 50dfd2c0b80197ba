// Every item starts from the primed window and the starting tree, whatever
// the item before it wrote: the window is restored only where the last item
// wrote, so items of every reach are followed by one that reads all 4096
// positions back; and items that pass the rebuild at root weight 0x8000 are
// followed by more of them.
#include "harness.h"
#include "huf/traced.h"

#include <algorithm>

namespace {

// Writes n bytes: a literal, then copies of it from one position back.
std::vector<dh::Sym> writer(int n) {
    std::vector<dh::Sym> syms{dh::lit('Z')};
    for (int left = n - 1; left > 0; left -= 60)
        syms.push_back(dh::copy(left < 3 ? 3 : left > 60 ? 60 : left, 0));
    return syms;
}

// Reads the whole window, oldest byte first: f = 4095 copies the byte at the
// write position onto itself, so the copies walk once around the window.
std::vector<dh::Sym> windowReader() {
    std::vector<dh::Sym> syms;
    for (int read = 0; read < 4096; read += 60) syms.push_back(dh::copy(60, 4095));
    return syms;
}

TEST(ItemReset, NextItemSeesThePrimedWindow) {
    const std::vector<dh::Sym> reader = windowReader();
    const fx::Bytes expected = dh::modelBytes(reader);
    // Items that stop short of the wrap, end right at it, and wrap.
    for (int written : {0, 1, 300, 3483, 3484, 3485, 5000, 9000}) {
        const std::vector<dh::Sym> first = written == 0 ? std::vector<dh::Sym>{} : writer(written);
        const int firstLength = static_cast<int>(dh::modelBytes(first).size());
        const std::string dir =
            dh::storeOf({fx::itemOf(firstLength, dh::encode(first)),
                         fx::itemOf(static_cast<int>(expected.size()), dh::encode(reader))});
        const dh::RawDecoded a = dh::rawIn(dir, 0);
        ASSERT_EQ(a.produced, static_cast<std::size_t>(firstLength)) << written;
        const dh::RawDecoded b = dh::rawIn(dir, 1);
        EXPECT_EQ(b.result, 0) << written;
        EXPECT_TRUE(b.bytes == expected) << "after an item of " << written << " bytes";
        dh::removeStore(dir);
    }
}

// An item's last match may run past its decoded length; the bytes it wrote
// beyond are in the window too and must be restored before the next item.
// Item 0 (length 1) ends in a 60-byte match, item 1 (length 10) copies from
// f = 4094, the bytes just after the first write position that item 0
// overwrote. In the walk, plain and traced, every item reads as it does on
// its own.
TEST(ItemReset, OvershootingMatchLeavesNothingForTheNextItem) {
    const std::vector<dh::Sym> first{dh::copy(60, 100)};
    const std::vector<dh::Sym> second{dh::copy(10, 4094)};
    const std::string dir =
        dh::storeOf({fx::itemOf(1, dh::encode(first)), fx::itemOf(10, dh::encode(second))});
    // Item 1 alone reads preset bytes 613 to 622; item 0 wrote others there.
    const fx::Bytes overwritten = dh::modelBytes(first);
    ASSERT_FALSE(std::equal(overwritten.begin() + 1, overwritten.begin() + 11, presetText + 613));
    for (const std::string option : {"", "-v", "-vv", "-d", "-vd"}) {
        SCOPED_TRACE("options \"" + option + "\"");
        const auto args = [&](const char *n) {
            std::vector<std::string> a;
            if (!option.empty()) a.push_back(option);
            if (n != nullptr) a.push_back(n);
            return a;
        };
        // A named item's traces start with its itemno line; the walk has none.
        const auto alone = [&](const char *n) {
            const fx::RunResult r = fx::run(dir, args(n));
            EXPECT_EQ(r.status, 0);
            const std::string itemno = std::string("itemno=") + n + "\r\n";
            return option.find('v') == std::string::npos ? r.out : r.out.substr(itemno.size());
        };
        const std::string item1 = alone("1");
        const fx::RunResult walk = fx::run(dir, args(nullptr));
        EXPECT_EQ(walk.status, 0);
        EXPECT_EQ(walk.err, "");
        EXPECT_TRUE(walk.out == alone("0") + item1) << "the walk differs from the items alone";
    }
    dh::removeStore(dir);
}

// Long enough to pass the rebuild at root weight 0x8000: printable literals
// of a skewed alphabet that shifts along the item, and short copies.
std::vector<dh::Sym> rebuildingItem(int seed) {
    std::vector<dh::Sym> syms;
    for (int i = 0; i < 40000; i++) {
        const int r = (i * 7919 + seed * 104729) % 1000;
        if (r < 100) {
            syms.push_back(dh::copy(3 + r % 20, r % 300));
        } else {
            syms.push_back(dh::lit('a' + (r * r / 997 + i / 5000 + seed) % 26));
        }
    }
    return syms;
}

// Traced decoding resets its own tree too: after an item that counted
// symbols (and one that passed a rebuild), the next item's traces are the
// ones it has after an explicit reset.
TEST(ItemReset, TracedItemsStartFromTheStartingTree) {
    const std::vector<dh::Sym> second = writer(200);
    const int secondLength = static_cast<int>(dh::modelBytes(second).size());
    for (const std::vector<dh::Sym> &first : {writer(300), rebuildingItem(0)}) {
        const int firstLength = static_cast<int>(dh::modelBytes(first).size());
        const std::string dir = dh::storeOf({fx::itemOf(firstLength, dh::encode(first)),
                                             fx::itemOf(secondLength, dh::encode(second))});
        hufInitTree();
        const dh::Decoded alone = dh::decodeIn(dir, 1, 2, 0);
        ASSERT_EQ(alone.result, 0);
        dh::decodeIn(dir, 0, 1, 0);
        const dh::Decoded after = dh::decodeIn(dir, 1, 2, 0);
        EXPECT_EQ(after.result, 0);
        EXPECT_TRUE(after.out == alone.out) << "after an item of " << firstLength << " bytes";
        dh::removeStore(dir);
    }
}

// The walk over all items as the built program runs it, where plain decoding
// resets nothing but its own tree between items: after a rebuild has
// renumbered the tree, the next item must start from the starting tree all
// the same, and so must its own rebuild. Each line is the item's text.
TEST(ItemReset, ItemsAfterARebuildDecodeAsAlone) {
    std::vector<fx::Bytes> items;
    std::string expected;
    for (int seed = 0; seed < 3; seed++) {
        const std::vector<dh::Sym> syms = rebuildingItem(seed);
        const fx::Bytes text = dh::modelBytes(syms);
        items.push_back(fx::itemOf(static_cast<std::int32_t>(text.size()), dh::encode(syms)));
        expected += fx::textOf(text) + "\r\n";
    }
    const std::string dir = dh::storeOf(items);
    const fx::RunResult r = fx::run(dir, {});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(r.out == expected) << "the walk differs from the items' texts";
    dh::removeStore(dir);
}

} // namespace
