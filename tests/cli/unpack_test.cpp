// quorlin-unpack as a program: the exact bytes that quorlin-pack stored come
// back, every option does what its help says, and damage, bad arguments and
// write errors end in a message naming the item, file and reason, status 1.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "fixture.h"
#include "format/format.h"

namespace {

using fx::Bytes;

std::string unpackPath() {
    return fx::quorlinPath() + "-unpack";
}

fx::RunResult unpack(const std::string &dir, const std::vector<std::string> &args) {
    return fx::run(dir, args, false, unpackPath());
}

// Packs the texts as a store in dir, one file each.
void packTexts(const std::string &dir, const std::vector<Bytes> &texts) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < texts.size(); i++) {
        std::string name = "t";
        name += std::to_string(i);
        names.push_back(name);
        fx::writeFile(dir + "/" + names.back(), texts[i]);
    }
    const auto r = fx::run(dir, names, false, fx::quorlinPath() + "-pack");
    ASSERT_EQ(r.status, 0) << r.err;
}

std::vector<std::string> filesIn(const std::string &dir) {
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) return names;
    while (dirent *e = readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

Bytes allBytes() {
    Bytes b;
    for (int i = 0; i < 256; i++) b.push_back(static_cast<std::uint8_t>(i));
    return b;
}

// Texts that quorlin's rendering cannot give back: escapes, a backslash
// written as text, half-width katakana, control bytes, every byte value.
TEST(UnpackCli, GivesBackWhatWasPacked) {
    Bytes big;
    for (int i = 0; big.size() < 1000000; i++) {
        const std::string line = "<TOC>" + std::to_string(i * 7919 % 1000) + "\t\\x0a</TOC>\r\n";
        big.insert(big.end(), line.begin(), line.end());
        big.push_back(static_cast<std::uint8_t>(0xB1 + i % 40)); // half-width katakana
    }
    const std::vector<Bytes> texts = {
        fx::hex("b1 b2 b3 df 20 83 41 5c"),         // katakana, a pair, a lone backslash
        fx::bytesOf("tab\there\\x0a and \\ alone"), // text that looks like an escape
        fx::bytesOf("cr\rlf\ncrlf\r\n"),
        allBytes(),
        {}, // an empty item
        big,
    };
    const std::string d = fx::tempDir();
    packTexts(d, texts);

    Bytes whole;
    for (const Bytes &t : texts) whole.insert(whole.end(), t.begin(), t.end());
    const auto all = unpack(d, {});
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(all.err, "");
    EXPECT_TRUE(all.out == fx::textOf(whole)) << "all items differ";

    for (std::size_t i = 0; i < texts.size(); i++) {
        const auto one = unpack(d, {std::to_string(i)});
        EXPECT_EQ(one.status, 0) << one.err;
        EXPECT_TRUE(one.out == fx::textOf(texts[i])) << "item " << i;
    }
}

TEST(UnpackCli, LinesUndoPackLines) {
    struct Case {
        const char *name;
        std::string text;
    };
    const Case cases[] = {
        {"lines", "apple\nbanana\n\ncherry\n"},
        {"a bare cr stays in its line", "one\rtwo\n\rthree\n"},
        {"backslashes and tabs", "a\\x0a\tb\n\\\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string d = fx::tempDir();
        fx::writeFile(d + "/f.txt", fx::bytesOf(c.text));
        const auto packed =
            fx::run(d, {"-l", "-o", "s", "f.txt"}, false, fx::quorlinPath() + "-pack");
        ASSERT_EQ(packed.status, 0) << packed.err;
        const auto back = unpack(d, {"-l", "-C", "s"});
        EXPECT_EQ(back.status, 0) << back.err;
        EXPECT_EQ(back.out, c.text);
    }
}

// A store of three items: apple, banana, cherry.
std::string fruitStore() {
    const std::string d = fx::tempDir();
    packTexts(d, {fx::bytesOf("apple"), fx::bytesOf("banana"), fx::bytesOf("cherry")});
    return d;
}

TEST(UnpackCli, ItemsRangesAndOptions) {
    struct Case {
        std::vector<std::string> args;
        std::string out;
        std::string err;
        int status;
    };
    const std::string noItem = "quorlin-unpack: item 3: no such item (itemloc.dat holds 3)\n";
    const std::string try_ = "Try 'quorlin-unpack --help' for more information.\n";
    const std::string version = std::string("quorlin-unpack ") + QUORLIN_VERSION + "\n";
    const Case cases[] = {
        {{}, "applebananacherry", "", 0},
        {{"1"}, "banana", "", 0},
        {{"0-1"}, "applebanana", "", 0},
        {{"1-"}, "bananacherry", "", 0},
        {{"2", "0"}, "cherryapple", "", 0},
        {{"1-1"}, "banana", "", 0},
        {{"-l", "0", "2"}, "apple\ncherry\n", "", 0},
        {{"--lines"}, "apple\nbanana\ncherry\n", "", 0},
        {{"3"}, "", noItem, 1},
        {{"1", "3", "0"}, "bananaapple", noItem, 1},
        {{"2-5"}, "cherry", noItem, 1},
        {{"-t"}, "", "", 0},
        {{"--test", "0-2"}, "", "", 0},
        {{"-V"}, version, "", 0},
        {{"--version"}, version, "", 0},
        {{"5-3"}, "", "quorlin-unpack: '5-3': not an item number or range (N, N-M or N-)\n", 1},
        {{"x"}, "", "quorlin-unpack: 'x': not an item number or range (N, N-M or N-)\n", 1},
        {{"1x"}, "", "quorlin-unpack: '1x': not an item number or range (N, N-M or N-)\n", 1},
        {{""}, "", "quorlin-unpack: '': not an item number or range (N, N-M or N-)\n", 1},
        {{"--", "-"}, "", "quorlin-unpack: '-': not an item number or range (N, N-M or N-)\n", 1},
        {{"2147483648"},
         "",
         "quorlin-unpack: '2147483648': not an item number or range (N, N-M or N-)\n",
         1},
        {{"-x"}, "", "quorlin-unpack: invalid option -- 'x'\n" + try_, 1},
        {{"--lies"}, "", "quorlin-unpack: unrecognized option '--lies'\n" + try_, 1},
        {{"-C"}, "", "quorlin-unpack: option requires an argument -- 'C'\n" + try_, 1},
        {{"--directory"},
         "",
         "quorlin-unpack: option '--directory' requires an argument\n" + try_,
         1},
        {{"--list=3"}, "", "quorlin-unpack: option '--list' doesn't allow an argument\n" + try_, 1},
        {{"--l"},
         "",
         "quorlin-unpack: option '--l' is ambiguous; possibilities: '--lines' '--list'\n" + try_,
         1},
        {{"-t", "--list"}, "", "quorlin-unpack: -t, --list and -o cannot be combined\n", 1},
        {{"-t", "-o", "out"}, "", "quorlin-unpack: -t, --list and -o cannot be combined\n", 1},
        {{"--list", "-o", "out"}, "", "quorlin-unpack: -t, --list and -o cannot be combined\n", 1},
        // The last item number is a number, and there is no such item.
        {{"2147483647"},
         "",
         "quorlin-unpack: item 2147483647: no such item (itemloc.dat holds 3)\n",
         1},
        {{"2147483647-"},
         "",
         "quorlin-unpack: item 2147483647: no such item (itemloc.dat holds 3)\n",
         1},
        // An open range that starts past the end names an item that is not
        // there; one that starts at the end of a store with items too.
        {{"5000-"}, "", "quorlin-unpack: item 5000: no such item (itemloc.dat holds 3)\n", 1},
        {{"3-"}, "", noItem, 1},
        {{"2-1"}, "", "quorlin-unpack: '2-1': not an item number or range (N, N-M or N-)\n", 1},
        {{"1-2x"}, "", "quorlin-unpack: '1-2x': not an item number or range (N, N-M or N-)\n", 1},
        // An empty name names no folder; it is not the current one.
        {{"-C", ""}, "", "quorlin-unpack: '': No such file or directory\n", 1},
        {{"-o", ""}, "", "quorlin-unpack: '': No such file or directory\n", 1},
    };
    const std::string d = fruitStore();
    for (const Case &c : cases) {
        std::string shown;
        for (const auto &a : c.args) shown += "[" + a + "]";
        SCOPED_TRACE(shown);
        const auto r = unpack(d, c.args);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.status, c.status);
    }
}

TEST(UnpackCli, HelpListAndDirectory) {
    const std::string d = fruitStore();
    const auto help = unpack(d, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: quorlin-unpack [OPTION]... [ITEM]...\n", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("--list"), std::string::npos);

    const auto list = unpack(d, {"--list"});
    EXPECT_EQ(list.status, 0) << list.err;
    // Items of 5 or 6 bytes take a 6-byte header and a few bytes of bits.
    const std::string header = "      item     offset     stored    decoded   ratio\n";
    ASSERT_EQ(list.out.rfind(header, 0), 0u) << list.out;
    const auto listed = fx::readFile(d + "/itemloc.dat");
    ASSERT_EQ(listed.size(), 48u);
    EXPECT_NE(list.out.find("\n         1 "), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("      5 "), std::string::npos) << list.out; // decoded apple
    EXPECT_NE(list.out.find("     total "), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("%  3 items\n"), std::string::npos) << list.out;
    const auto one = unpack(d, {"--list", "2"});
    EXPECT_NE(one.out.find("%  1 items\n"), std::string::npos) << one.out;

    // -C reads the store in another folder, as the user names it.
    const std::string elsewhere = fx::tempDir();
    const auto r = unpack(elsewhere, {"-C", d, "2"});
    EXPECT_EQ(r.out, "cherry");
    EXPECT_EQ(r.status, 0);
    const auto missing = unpack(elsewhere, {"--directory", "nowhere"});
    EXPECT_EQ(missing.err, "quorlin-unpack: nowhere: No such file or directory\n");
    EXPECT_EQ(missing.status, 1);
}

// Sets item n's decoded length in item.dat (the header's bytes 2-5).
void setDecodedLength(const std::string &dir, int n, std::int32_t length) {
    const Bytes index = fx::readFile(dir + "/itemloc.dat");
    Bytes data = fx::readFile(dir + "/item.dat");
    const std::size_t at = fmtBigEndian32(index.data() + fmtRecordSize * n + fmtOffsetAt);
    fmtPutLittleEndian32(data.data() + at + fmtDecodedLengthAt, static_cast<std::uint32_t>(length));
    fx::writeFile(dir + "/item.dat", data);
}

// Sets bytes 0-7 of item n's record: its offset and stored length.
void setRecord(const std::string &dir, int n, std::uint32_t offset, std::uint32_t stored) {
    Bytes index = fx::readFile(dir + "/itemloc.dat");
    const Bytes record = fx::indexOf({{offset, stored}});
    std::copy(record.begin(), record.begin() + 8, index.begin() + fmtRecordSize * n);
    fx::writeFile(dir + "/itemloc.dat", index);
}

void replaceByFolder(const std::string &path) {
    unlink(path.c_str());
    mkdir(path.c_str(), 0755);
}

// Every way the fruit store can be damaged, each named truly, with the -C
// folder in every path it names (S/ in the table stands for it). A record
// that is there but wrong costs its item only; the index's end or an
// item.dat that ends early ends the run.
TEST(UnpackCli, DamagedStores) {
    struct Case {
        const char *name;
        void (*damage)(const std::string &dir);
        std::vector<std::string> args;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {"no store",
         [](const std::string &d) { unlink((d + "/itemloc.dat").c_str()); },
         {},
         "",
         "quorlin-unpack: S/itemloc.dat: No such file or directory\n"},
        {"item.dat a folder",
         [](const std::string &d) { replaceByFolder(d + "/item.dat"); },
         {},
         "",
         "quorlin-unpack: S/item.dat: Is a directory\n"},
        {"itemloc.dat a folder",
         [](const std::string &d) { replaceByFolder(d + "/itemloc.dat"); },
         {"-t"},
         "",
         "quorlin-unpack: S/itemloc.dat: Is a directory\n"},
        // A pipe would wait for a writer: it is refused at once.
        {"item.dat a pipe",
         [](const std::string &d) {
             unlink((d + "/item.dat").c_str());
             mkfifo((d + "/item.dat").c_str(), 0600);
         },
         {},
         "",
         "quorlin-unpack: S/item.dat: Invalid argument\n"},
        {"itemloc.dat a pipe",
         [](const std::string &d) {
             unlink((d + "/itemloc.dat").c_str());
             mkfifo((d + "/itemloc.dat").c_str(), 0600);
         },
         {"-t"},
         "",
         "quorlin-unpack: S/itemloc.dat: Invalid argument\n"},
        {"last record cut short",
         [](const std::string &d) { truncate((d + "/itemloc.dat").c_str(), 40); },
         {},
         "applebanana",
         "quorlin-unpack: item 2: record cut short (S/itemloc.dat ends inside it)\n"},
        {"item.dat cut within the last item's first run",
         [](const std::string &d) {
             const Bytes data = fx::readFile(d + "/item.dat");
             truncate((d + "/item.dat").c_str(), static_cast<off_t>(data.size() - 2));
         },
         {"-t"},
         "",
         "quorlin-unpack: item 2: S/item.dat ends before the item (cut short, or a damaged "
         "record in S/itemloc.dat?)\n"},
        {"decoded length -1",
         [](const std::string &d) { setDecodedLength(d, 1, -1); },
         {},
         "applecherry",
         "quorlin-unpack: item 1: negative decoded length -1 in S/item.dat\n"},
        {"decoded length -2",
         [](const std::string &d) { setDecodedLength(d, 1, -2); },
         {"-l"},
         "apple\ncherry\n",
         "quorlin-unpack: item 1: negative decoded length -2 in S/item.dat\n"},
        {"stored length below the header",
         [](const std::string &d) { setRecord(d, 1, 0, 3); },
         {},
         "applecherry",
         "quorlin-unpack: item 1: damaged record in S/itemloc.dat: stored length 3 is shorter "
         "than a header\n"},
        {"offset past 2 GiB",
         [](const std::string &d) { setRecord(d, 0, 0x80000000u, 12); },
         {"--list", "0"},
         "      item     offset     stored    decoded   ratio\n"
         "     total                     0          0    0.0%  0 items\n",
         "quorlin-unpack: item 0: damaged record in S/itemloc.dat: offset 2147483648 is past 2 "
         "GiB\n"},
    };
    for (const Case &c : cases) {
        for (const bool elsewhere : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (elsewhere ? ", with -C" : ""));
            const std::string d = fruitStore();
            c.damage(d);
            std::vector<std::string> args = c.args;
            std::string err = c.err;
            const std::string shown = elsewhere ? d + "/" : "";
            // From past each replacement on: the folder's own name may hold
            // an "S/".
            for (std::size_t at = 0; (at = err.find("S/", at)) != std::string::npos;
                 at += shown.size())
                err.replace(at, 2, shown);
            if (elsewhere) args.insert(args.begin(), {"-C", d});
            const auto r = fx::run(elsewhere ? fx::tempDir() : d, args, false, unpackPath(), 10);
            EXPECT_EQ(r.out, c.out);
            EXPECT_EQ(r.err, err);
            EXPECT_EQ(r.status, 1);
        }
    }
    // quorlin refuses a folder at open, with its own message.
    const std::string d = fruitStore();
    replaceByFolder(d + "/item.dat");
    const auto q = fx::run(d, {});
    EXPECT_EQ(q.err, fx::crlf("quorlin: itemOpen() failed\n"));
    EXPECT_EQ(q.status, 1);
}

// The store of "short" and "next" with item 0's decoded length set to 50:
// item 0 is selected, then its bits run out after "short".
std::string damagedStore() {
    const std::string d = fx::tempDir();
    packTexts(d, {fx::bytesOf("short"), fx::bytesOf("next")});
    setDecodedLength(d, 0, 50);
    return d;
}

// An item whose bits run out is reported after its bytes, in every mode,
// and the walk goes on with the next item: its bytes, and only its, come
// next.
TEST(UnpackCli, DamagedItemIsReportedAndTheWalkGoesOn) {
    const std::string message = "quorlin-unpack: item 0: data ends early (item.dat cut short?)\n";
    struct Case {
        std::vector<std::string> args;
        bool mergeErr;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {{}, false, "shortnext", message},
        {{"-l"}, false, "short\nnext\n", message},
        {{"-t"}, false, "", message},
        // Both streams into one file: the damaged item's bytes come before
        // the message about it, the next item's after.
        {{}, true, "short" + message + "next", ""},
        {{"-l"}, true, "short\n" + message + "next\n", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args) + (c.mergeErr ? " 2>&1" : ""));
        const auto r = fx::run(damagedStore(), c.args, c.mergeErr, unpackPath());
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.status, 1);
    }
}

// Under -o the damaged item leaves no file, and nothing of its bytes leaks
// into the next item's file.
TEST(UnpackCli, DamagedItemLeavesNoFile) {
    const std::string d = damagedStore();
    const auto r = unpack(d, {"-o", "out"});
    EXPECT_EQ(r.err, "quorlin-unpack: item 0: data ends early (item.dat cut short?)\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(filesIn(d + "/out"), std::vector<std::string>{"1"});
    EXPECT_EQ(fx::textOf(fx::readFile(d + "/out/1")), "next");
}

// A last match that runs past the item's decoded length: only the item's
// own bytes are written (quorlin prints the rest of the match too).
TEST(UnpackCli, MatchPastTheLengthIsCut) {
    const std::string d = fx::tempDir();
    fx::codeReset();
    fx::BitWriter w;
    fx::codeLiteral(w, 'a');
    fx::codeMatch(w, 60, 0); // repeats the 'a': 60 bytes where 2 are left
    fx::writeItems(d, {fx::itemOf(3, w)});
    const auto r = unpack(d, {});
    EXPECT_EQ(r.out, "aaa");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

// Write errors: a full device, and a closed pipe when SIGPIPE is ignored.
TEST(UnpackCli, WriteErrorsFailTheRun) {
    const std::string d = fruitStore();
    struct Case {
        const char *script;
        const char *err;
    };
    const Case cases[] = {
        {"\"$0\" > /dev/full", "quorlin-unpack: standard output: write error: No space left on "
                               "device\n"},
        {"\"$0\" -l > /dev/full", "quorlin-unpack: standard output: write error: No space left "
                                  "on device\n"},
        {"\"$0\" --list > /dev/full", "quorlin-unpack: standard output: write error: No space "
                                      "left on device\n"},
        {"\"$0\" -h > /dev/full", "quorlin-unpack: standard output: write error: No space left "
                                  "on device\n"},
        {"\"$0\" -V > /dev/full", "quorlin-unpack: standard output: write error: No space left "
                                  "on device\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.script);
        const auto r = fx::run(d, {"-c", c.script, unpackPath()}, false, "/bin/sh");
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.status, 1);
    }
    // The closed pipe: the reader is gone before the first write.
    const auto r = fx::run(d,
                           {"-c",
                            "trap '' PIPE; exec 3>&1; "
                            "{ sleep 0.3; \"$0\"; echo \"status $?\" >&3; } | :",
                            unpackPath()},
                           false, "/bin/sh");
    EXPECT_NE(r.out.find("status 1"), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.err.find("write error: Broken pipe"), std::string::npos) << r.err;
}

TEST(UnpackCli, OutputFolderWritesWholeFilesOnly) {
    const std::string d = fruitStore();
    // Created with the folders above it; names as wide as the last item's.
    const auto r = unpack(d, {"-o", "out/a", "0-"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(filesIn(d + "/out/a"), (std::vector<std::string>{"0", "1", "2"}));
    EXPECT_EQ(fx::textOf(fx::readFile(d + "/out/a/1")), "banana");

    // Never replaced without -f; the file stays as it was.
    fx::writeFile(d + "/out/a/1", fx::bytesOf("mine"));
    const auto kept = unpack(d, {"-o", "out/a", "1"});
    EXPECT_EQ(kept.status, 1);
    EXPECT_EQ(kept.err, "quorlin-unpack: out/a/1: File exists (use -f to replace it)\n");
    EXPECT_EQ(fx::textOf(fx::readFile(d + "/out/a/1")), "mine");
    const auto forced = unpack(d, {"-f", "--output", "out/a", "1"});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(fx::textOf(fx::readFile(d + "/out/a/1")), "banana");

    // A damaged item leaves no file and no temporary file.
    const Bytes data = fx::readFile(d + "/item.dat");
    truncate((d + "/item.dat").c_str(), static_cast<off_t>(data.size() - 2));
    const auto cut = unpack(d, {"-o", "out/b"});
    EXPECT_EQ(cut.status, 1);
    EXPECT_EQ(filesIn(d + "/out/b"), (std::vector<std::string>{"0", "1"}));

    // The folder cannot be made.
    fx::writeFile(d + "/plain", {});
    const auto bad = unpack(d, {"-o", "plain/x"});
    EXPECT_EQ(bad.err, "quorlin-unpack: plain/x: Not a directory\n");
    EXPECT_EQ(bad.status, 1);
}

// -o names are zero-padded to the width of the last item's number, so that
// they sort as the items do.
TEST(UnpackCli, OutputNamesSortAsTheItems) {
    struct Case {
        int items;
        std::vector<std::string> some; // names that must be there
        std::size_t width;
    };
    const Case cases[] = {
        {1, {"0"}, 1},
        {10, {"0", "9"}, 1},
        {11, {"00", "09", "10"}, 2},
        {100, {"00", "42", "99"}, 2},
        {101, {"000", "099", "100"}, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.items) + " items");
        const std::string d = fx::tempDir();
        std::string lines;
        for (int i = 0; i < c.items; i++) lines += "item " + std::to_string(i) + "\n";
        fx::writeFile(d + "/lines", fx::bytesOf(lines));
        ASSERT_EQ(fx::run(d, {"-l", "lines"}, false, fx::quorlinPath() + "-pack").status, 0);
        const auto r = unpack(d, {"-o", "out"});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<std::string> names = filesIn(d + "/out");
        ASSERT_EQ(names.size(), static_cast<std::size_t>(c.items));
        for (const std::string &name : names) EXPECT_EQ(name.size(), c.width) << name;
        for (const std::string &name : c.some) {
            EXPECT_EQ(fx::textOf(fx::readFile(d + "/out/" + name)),
                      "item " + std::to_string(std::stoi(name)));
        }
    }
}

// A run of -o that fails takes back the folders it made, unless files it
// placed are in them, and leaves no temporary file; the files it writes
// get the mode any new file of the user gets.
TEST(UnpackCli, OutputFailuresLeaveNothingOfTheirOwn) {
    // Nothing placed: the folders made for the files go again.
    const std::string d = damagedStore();
    setDecodedLength(d, 1, 50);
    const auto none = unpack(d, {"-o", "new/deeper"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(filesIn(d), (std::vector<std::string>{"item.dat", "itemloc.dat", "t0", "t1"}));

    // A file placed: it stays, with its folders.
    const std::string f = fruitStore();
    setDecodedLength(f, 2, 50);
    const auto some = unpack(f, {"-o", "new/deeper"});
    EXPECT_EQ(some.status, 1);
    EXPECT_EQ(filesIn(f + "/new/deeper"), (std::vector<std::string>{"0", "1"}));

    // Placing fails (a folder holds the name): no temporary file is left.
    mkdir((f + "/out").c_str(), 0755);
    mkdir((f + "/out/1").c_str(), 0755);
    const auto blocked = unpack(f, {"-f", "-o", "out", "1"});
    EXPECT_EQ(blocked.status, 1);
    EXPECT_EQ(blocked.err, "quorlin-unpack: out/1: Is a directory\n");
    EXPECT_EQ(filesIn(f + "/out"), std::vector<std::string>{"1"});

    // Modes: 0666 less the umask, whatever the temporary file was made with.
    for (const mode_t mask : {mode_t{022}, mode_t{077}, mode_t{0}}) {
        const std::string g = fruitStore();
        const mode_t old = umask(mask);
        const auto r = unpack(g, {"-o", "m", "0"});
        umask(old);
        ASSERT_EQ(r.status, 0) << r.err;
        struct stat st;
        ASSERT_EQ(stat((g + "/m/0").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask) << "umask " << mask;
    }
}

// Each signal that ends a run, at many points of a run of -o: whatever it
// stopped, no temporary file is left, every file there is whole, and the
// folder the run made holds files or is gone. A signal the extractor was
// started with ignored (nohup) stays ignored: that run writes every file.
TEST(UnpackCli, StoppedOutputLeavesNoPart) {
    const std::string d = fx::tempDir();
    Bytes text;
    for (int i = 0; text.size() < 300000; i++) {
        const std::string line = "<TOC>entry " + std::to_string(i) + "</TOC>";
        text.insert(text.end(), line.begin(), line.end());
    }
    std::vector<Bytes> texts(12, text);
    packTexts(d, texts);
    const std::string exe = unpackPath();
    struct Case {
        int sig;
        bool ignored;
    };
    const Case cases[] = {{SIGTERM, false}, {SIGINT, false},  {SIGHUP, false},
                          {SIGQUIT, false}, {SIGPIPE, false}, {SIGHUP, true}};
    int round = 0;
    for (const Case &c : cases) {
        for (int delay = 0; delay < 20; delay++, round++) {
            SCOPED_TRACE(std::string(strsignal(c.sig)) + (c.ignored ? " ignored" : "") +
                         ", delay " + std::to_string(delay));
            const std::string out = d + "/out" + std::to_string(round) + "/deeper";
            // Ignored before the fork, so that the child never runs without.
            const auto before = std::signal(c.sig, c.ignored ? SIG_IGN : SIG_DFL);
            const pid_t pid = fork();
            if (pid != 0) std::signal(c.sig, before);
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                if (chdir(d.c_str()) != 0) _exit(127);
                for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
                    if (sig != c.sig) std::signal(sig, SIG_DFL);
                }
                const rlimit noCore{0, 0};
                setrlimit(RLIMIT_CORE, &noCore);
                execl(exe.c_str(), "quorlin-unpack", "-o", out.c_str(), nullptr);
                _exit(127);
            }
            const timespec pause{0, delay * 2000000L};
            nanosleep(&pause, nullptr);
            kill(pid, c.sig);
            int status = 0;
            waitpid(pid, &status, 0);
            if (c.ignored) {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
                EXPECT_EQ(filesIn(out).size(), 12u);
            }
            if (!std::filesystem::exists(out)) continue;
            const std::vector<std::string> names = filesIn(out);
            EXPECT_FALSE(names.empty()) << "an empty folder the run made was left";
            for (const std::string &name : names) {
                SCOPED_TRACE(name);
                ASSERT_NE(name[0], '.') << "a temporary file was left";
                EXPECT_TRUE(fx::readFile(out + "/" + name) == text) << "a file is not whole";
            }
        }
    }
}

} // namespace
