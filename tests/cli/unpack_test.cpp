// quorlin-unpack as a program: the exact bytes that quorlin-pack stored come
// back, every option does what its help says, and damage, bad arguments and
// write errors end in a message naming the item, file and reason, status 1.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <dirent.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "fixture.h"

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
        {{"-V"}, "quorlin-unpack " QUORLIN_VERSION "\n", "", 0},
        {{"--version"}, "quorlin-unpack " QUORLIN_VERSION "\n", "", 0},
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
        {{"-t", "--list"}, "", "quorlin-unpack: -t, --list and -o cannot be combined\n", 1},
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
         "quorlin-unpack: itemloc.dat: No such file or directory\n"},
        {"item.dat a folder",
         [](const std::string &d) {
             unlink((d + "/item.dat").c_str());
             mkdir((d + "/item.dat").c_str(), 0755);
         },
         {},
         "",
         "quorlin-unpack: item.dat: Is a directory\n"},
        {"itemloc.dat a folder",
         [](const std::string &d) {
             unlink((d + "/itemloc.dat").c_str());
             mkdir((d + "/itemloc.dat").c_str(), 0755);
         },
         {"-t"},
         "",
         "quorlin-unpack: itemloc.dat: Is a directory\n"},
        {"last record cut short",
         [](const std::string &d) { truncate((d + "/itemloc.dat").c_str(), 40); },
         {},
         "applebanana",
         "quorlin-unpack: item 2: cannot be read (damaged record in itemloc.dat, or item.dat cut "
         "short?)\n"},
        {"item.dat cut within the last item's first run",
         [](const std::string &d) {
             const Bytes data = fx::readFile(d + "/item.dat");
             truncate((d + "/item.dat").c_str(), static_cast<off_t>(data.size() - 2));
         },
         {"-t"},
         "",
         "quorlin-unpack: item 2: cannot be read (damaged record in itemloc.dat, or item.dat cut "
         "short?)\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string d = fruitStore();
        c.damage(d);
        const auto r = unpack(d, c.args);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.status, 1);
    }
    // quorlin refuses a folder at open, with its own message.
    const std::string d = fruitStore();
    unlink((d + "/item.dat").c_str());
    mkdir((d + "/item.dat").c_str(), 0755);
    const auto q = fx::run(d, {});
    EXPECT_EQ(q.err, fx::crlf("quorlin: itemOpen() failed\n"));
    EXPECT_EQ(q.status, 1);
}

// A run whose bits run out in the middle of the store: reported, and the
// walk goes on with the next item.
TEST(UnpackCli, DamagedItemIsReportedAndTheWalkGoesOn) {
    const std::string d = fx::tempDir();
    // Item 0 says 50 bytes but holds the bits of 5; item 1 is sound.
    fx::codeReset();
    fx::BitWriter w;
    for (char ch : std::string("short")) fx::codeLiteral(w, static_cast<std::uint8_t>(ch));
    const Bytes first = fx::itemOf(50, w);
    fx::codeReset();
    fx::BitWriter w2;
    for (char ch : std::string("next")) fx::codeLiteral(w2, static_cast<std::uint8_t>(ch));
    fx::writeItems(d, {first, fx::itemOf(4, w2)});
    const auto r = unpack(d, {});
    EXPECT_EQ(r.out.substr(0, 5), "short");
    EXPECT_EQ(r.out.substr(r.out.size() - 4), "next");
    EXPECT_EQ(r.err, "quorlin-unpack: item 0: data ends early (item.dat cut short?)\n");
    EXPECT_EQ(r.status, 1);
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
        {"\"$0\" --list > /dev/full", "quorlin-unpack: write error: No space left on device\n"},
        {"\"$0\" -h > /dev/full", "quorlin-unpack: write error: No space left on device\n"},
        {"\"$0\" -V > /dev/full", "quorlin-unpack: write error: No space left on device\n"},
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

// SIGTERM at many points of a run of -o: whatever it stopped, no temporary
// file is left, and every file there is whole.
TEST(UnpackCli, StoppedOutputLeavesNoPart) {
    const std::string d = fx::tempDir();
    Bytes text;
    for (int i = 0; text.size() < 300000; i++) {
        const std::string line = "<TOC>entry " + std::to_string(i) + "</TOC>";
        text.insert(text.end(), line.begin(), line.end());
    }
    std::vector<Bytes> texts(12, text);
    packTexts(d, texts);
    for (int round = 0; round < 40; round++) {
        const std::string out = d + "/out" + std::to_string(round);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (chdir(d.c_str()) != 0) _exit(127);
            execl(unpackPath().c_str(), "quorlin-unpack", "-o", out.c_str(), nullptr);
            _exit(127);
        }
        const timespec pause{0, (round % 20) * 2000000L};
        nanosleep(&pause, nullptr);
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        for (const std::string &name : filesIn(out)) {
            SCOPED_TRACE("round " + std::to_string(round) + ": " + name);
            ASSERT_NE(name[0], '.') << "a temporary file was left";
            EXPECT_TRUE(fx::readFile(out + "/" + name) == text) << "a file is not whole";
        }
    }
}

} // namespace
