// The quorlin program as a user runs it: arguments -> standard output bytes,
// standard error bytes and exit status, in directories with and without a
// store.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <ostream>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "fixture.h"

namespace {

using Args = std::vector<std::string>;

const std::string usageText = fx::crlf("Usage: quorlin [-v] [-d] [itemno]\n"
                                       "  -v: verbose (-vv for double verbose)\n"
                                       "  -d: dump tree each time\n");
const std::string openFailed = fx::crlf("quorlin: itemOpen() failed\n");
const std::string selectFailed = fx::crlf("quorlin: itemSelect() failed\n");
const std::string item1EndsEarly = fx::crlf("quorlin: item 1: data ends early\n");

// An item that decodes to `text`, coded as literals.
fx::Bytes textItem(const std::string &text) {
    fx::BitWriter w;
    fx::codeReset();
    for (char c : text) fx::codeLiteral(w, static_cast<std::uint8_t>(c));
    return fx::itemOf(static_cast<std::int32_t>(text.size()), w);
}

// The directories the cases run in, made once:
//   store:     items 0 to 10, item n decoding to "item<n>"
//   empty:     no files at all
//   indexOnly: itemloc.dat without item.dat
//   noItems:   both files empty
//   indexFolder, dataFolder: itemloc.dat or item.dat a folder, the other
//              file sound
//   dataPipe:  item.dat a named pipe with no writer
//   unreadableIndex: itemloc.dat opens but every read of it fails (a link
//              to /proc/self/mem, whose low addresses are not mapped)
//   oddItems:  item 0 "a", item 1 only a header (decoded length 1, no
//              bits), item 2 a negative decoded length, item 3 a stored
//              length of 5, item 4 "b"
std::map<std::string, std::string> dirs;

// Removes the directories once all tests have run.
struct RemoveDirs : ::testing::Environment {
    void TearDown() override {
        std::error_code ignored;
        for (const auto &entry : dirs) std::filesystem::remove_all(entry.second, ignored);
    }
};
::testing::Environment *const removeDirs = ::testing::AddGlobalTestEnvironment(new RemoveDirs);

const std::string &dirOf(const std::string &name) {
    auto it = dirs.find(name);
    if (it != dirs.end()) return it->second;
    const std::string dir = fx::tempDir();
    if (name == "store") {
        std::vector<fx::Bytes> items;
        for (int n = 0; n <= 10; n++) items.push_back(textItem("item" + std::to_string(n)));
        fx::writeItems(dir, items);
    } else if (name == "indexOnly") {
        fx::writeFile(dir + "/itemloc.dat", fx::indexOf({{0, 10}}));
    } else if (name == "oddItems") {
        const fx::Bytes a = textItem("a");
        const fx::Bytes b = textItem("b");
        const fx::Bytes negative = fx::itemHeader(-2);
        fx::Bytes data = a;
        data.insert(data.end(), negative.begin(), negative.end());
        data.insert(data.end(), b.begin(), b.end());
        const auto at = [&](std::size_t offset, std::size_t stored) {
            return fx::Record{static_cast<std::uint32_t>(offset),
                              static_cast<std::uint32_t>(stored)};
        };
        // Item 1 is the first 6 bytes of item 0 read as a whole item.
        fx::writeStore(dir,
                       fx::indexOf({at(0, a.size()), at(0, 6), at(a.size(), 6), at(0, 5),
                                    at(a.size() + 6, b.size())}),
                       data);
    } else if (name == "noItems") {
        fx::writeStore(dir, {}, {});
    } else if (name == "indexFolder" || name == "dataFolder" || name == "dataPipe") {
        fx::writeItems(dir, {textItem("a")});
        const std::string file = dir + (name == "indexFolder" ? "/itemloc.dat" : "/item.dat");
        std::filesystem::remove(file);
        const int made =
            name == "dataPipe" ? mkfifo(file.c_str(), 0644) : mkdir(file.c_str(), 0755);
        if (made != 0) ADD_FAILURE() << "cannot make " << file;
    } else if (name == "unreadableIndex") {
        fx::writeFile(dir + "/item.dat", textItem("a"));
        if (symlink("/proc/self/mem", (dir + "/itemloc.dat").c_str()) != 0)
            ADD_FAILURE() << "cannot link " << dir << "/itemloc.dat";
    }
    return dirs[name] = dir;
}

std::string allItems() {
    std::string out;
    for (int n = 0; n <= 10; n++) out += "item" + std::to_string(n) + "\r\n";
    return out;
}

struct CliCase {
    const char *name;
    const char *dir;
    Args args;
    std::string out;
    std::string err;
    int status;
};

void PrintTo(const CliCase &c, std::ostream *os) {
    *os << c.name;
}

const CliCase cliCases[] = {
    // Item numbers.
    {"all items", "store", {}, allItems(), "", 0},
    {"one item", "store", {"3"}, "item3\r\n", "", 0},
    {"item 0", "store", {"0"}, "item0\r\n", "", 0},
    {"last item", "store", {"10"}, "item10\r\n", "", 0},
    {"digits end the number", "store", {"5abc"}, "item5\r\n", "", 0},
    {"leading zero is decimal", "store", {"010"}, "item10\r\n", "", 0},
    {"hex prefix is not read", "store", {"0x10"}, "item0\r\n", "", 0},
    {"past the last item", "store", {"11"}, "", selectFailed, 1},
    {"beyond 32 bits", "store", {"99999999999999999999"}, "", selectFailed, 1},
    {"2^31", "store", {"2147483648"}, "", selectFailed, 1},
    // The itemno line shows the number as converted and clamped.
    {"verbose shows the number", "noItems", {"-v", "3"}, "itemno=3\r\n", selectFailed, 1},
    {"verbose, digits end the number", "noItems", {"-v", "5abc"}, "itemno=5\r\n", selectFailed, 1},
    {"verbose, leading zero", "noItems", {"-v", "010"}, "itemno=10\r\n", selectFailed, 1},
    {"verbose, hex prefix", "noItems", {"-v", "0x10"}, "itemno=0\r\n", selectFailed, 1},
    {"verbose, clamped",
     "noItems",
     {"-v", "99999999999999999999"},
     "itemno=2147483647\r\n",
     selectFailed,
     1},
    {"verbose, largest", "noItems", {"-v", "2147483647"}, "itemno=2147483647\r\n", selectFailed, 1},
    // Options.
    {"lone dash", "store", {"-"}, allItems(), "", 0},
    {"lone dash before a number", "store", {"-", "3"}, "item3\r\n", "", 0},
    {"combined letters", "store", {"-vvd", "11"}, "itemno=11\r\n", selectFailed, 1},
    {"repeated options", "store", {"-d", "-v", "-", "-d", "11"}, "itemno=11\r\n", selectFailed, 1},
    {"double dash", "store", {"--"}, "", usageText, 1},
    {"unknown letter", "store", {"-x"}, "", usageText, 1},
    {"unknown letter after good ones", "store", {"-vx", "3"}, "", usageText, 1},
    {"dash inside the letters", "store", {"-v-v"}, "", usageText, 1},
    {"negative number", "store", {"-3"}, "", usageText, 1},
    {"capital letter", "store", {"-V"}, "", usageText, 1},
    // Surplus arguments.
    {"word", "store", {"abc"}, "", usageText, 1},
    {"plus sign", "store", {"+3"}, "", usageText, 1},
    {"leading space", "store", {" 3"}, "", usageText, 1},
    {"empty argument", "store", {""}, "", usageText, 1},
    {"two numbers", "store", {"3", "4"}, "", usageText, 1},
    {"option after the number", "store", {"3", "-v"}, "", usageText, 1},
    {"itemno line before usage", "store", {"-v", "3", "4"}, "itemno=3\r\n", usageText, 1},
    // Usage comes before any file is opened.
    {"no files, unknown letter", "empty", {"-x"}, "", usageText, 1},
    {"no files, double dash", "empty", {"--"}, "", usageText, 1},
    {"no files, two numbers", "empty", {"3", "4"}, "", usageText, 1},
    {"no files, one item", "empty", {"3"}, "", openFailed, 1},
    {"no files, all items", "empty", {}, "", openFailed, 1},
    {"no files, verbose", "empty", {"-v", "3"}, "itemno=3\r\n", openFailed, 1},
    {"no item file", "indexOnly", {"0"}, "", openFailed, 1},
    {"no item file, all items", "indexOnly", {}, "", openFailed, 1},
    // A folder opens on this system, and a pipe would wait for a writer:
    // neither is a store file.
    {"index a folder", "indexFolder", {}, "", openFailed, 1},
    {"item file a folder", "dataFolder", {"0"}, "", openFailed, 1},
    {"item file a folder, all items", "dataFolder", {}, "", openFailed, 1},
    {"item file a pipe", "dataPipe", {}, "", openFailed, 1},
    // Items that decode to nothing or cannot be selected: the walk reports
    // the item without bits and goes on, then fails at the record of item 2.
    {"odd items, all", "oddItems", {}, "a\r\n\r\n", item1EndsEarly + selectFailed, 1},
    {"header-only item", "oddItems", {"1"}, "\r\n", item1EndsEarly, 1},
    {"negative decoded length", "oddItems", {"2"}, "", selectFailed, 1},
    {"stored length 5", "oddItems", {"3"}, "", selectFailed, 1},
    {"after the odd items", "oddItems", {"4"}, "b\r\n", "", 0},
    // An empty store.
    {"empty store, all items", "noItems", {}, "", "", 0},
    {"empty store, item 0", "noItems", {"0"}, "", selectFailed, 1},
    // An index that cannot be read is a damaged store, not an empty one.
    {"unreadable index, all items", "unreadableIndex", {}, "", selectFailed, 1},
    {"unreadable index, item 0", "unreadableIndex", {"0"}, "", selectFailed, 1},
};

std::string nameOf(const char *text) {
    std::string name;
    for (const char *p = text; *p != '\0'; p++) {
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    }
    return name;
}

struct Cli : ::testing::TestWithParam<CliCase> {};

// Every run is bounded to 10 s: a program that would wait for a pipe's
// writer fails its case at once instead of stalling the suite.
TEST_P(Cli, OutputErrorAndStatus) {
    const CliCase &c = GetParam();
    const fx::RunResult r = fx::run(dirOf(c.dir), c.args, false, "", 10);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
}

INSTANTIATE_TEST_SUITE_P(Quorlin, Cli, ::testing::ValuesIn(cliCases),
                         [](const auto &p) { return nameOf(p.param.name); });

// Standard error and a redirected standard output sharing one file: the
// message is written at once, the block-buffered itemno line only at exit.
struct MergedCase {
    const char *name;
    const char *dir;
    Args args;
    std::string merged;
    int status;
};

void PrintTo(const MergedCase &c, std::ostream *os) {
    *os << c.name;
}

const MergedCase mergedCases[] = {
    {"select failure", "store", {"-v", "11"}, selectFailed + "itemno=11\r\n", 1},
    {"usage", "store", {"-v", "3", "x"}, usageText + "itemno=3\r\n", 1},
    {"open failure", "empty", {"-v", "3"}, openFailed + "itemno=3\r\n", 1},
    {"success", "store", {"4"}, "item4\r\n", 0},
};

struct Merged : ::testing::TestWithParam<MergedCase> {};

TEST_P(Merged, MessageBeforeBufferedOutput) {
    const MergedCase &c = GetParam();
    const fx::RunResult r = fx::run(dirOf(c.dir), c.args, true, "", 10);
    EXPECT_EQ(r.out, c.merged);
    EXPECT_EQ(r.status, c.status);
}

INSTANTIATE_TEST_SUITE_P(Quorlin, Merged, ::testing::ValuesIn(mergedCases),
                         [](const auto &p) { return nameOf(p.param.name); });

// Spellings of the same options give the same output on a real item; the
// verbosity count and the dump flag each change it.
TEST(Options, EquivalentSpellings) {
    const std::string &store = dirOf("store");
    const std::vector<std::vector<Args>> groups = {
        {{"3"}, {"-", "3"}, {"-", "-", "3"}},
        {{"-v", "3"}, {"-", "-v", "3"}},
        {{"-vv", "3"}, {"-v", "-v", "3"}, {"-", "-vv", "3"}},
        {{"-d", "3"}, {"-dd", "3"}, {"-d", "-d", "3"}},
        {{"-vd", "3"}, {"-dv", "3"}, {"-d", "-v", "3"}, {"-d", "-v", "-d", "3"}},
        {{"-vvd", "3"}, {"-vdv", "3"}, {"-v", "-d", "-v", "3"}},
    };
    std::vector<std::string> firsts;
    for (const auto &group : groups) {
        const fx::RunResult first = fx::run(store, group[0]);
        EXPECT_EQ(first.status, 0);
        EXPECT_EQ(first.err, "");
        for (std::size_t i = 1; i < group.size(); i++) {
            const fx::RunResult r = fx::run(store, group[i]);
            EXPECT_EQ(r.out, first.out) << "spelling " << i << " of group " << firsts.size();
            EXPECT_EQ(r.status, 0);
        }
        for (std::size_t j = 0; j < firsts.size(); j++) {
            EXPECT_NE(first.out, firsts[j]) << "groups " << j << " and " << firsts.size();
        }
        firsts.push_back(first.out);
    }
    // Verbose output starts with the itemno line.
    EXPECT_EQ(firsts[1].rfind("itemno=3\r\n", 0), 0u);
}

// The loop over all items stops at the first record that cannot be
// selected: here item.dat ends inside item 1, which closes it, so item 2
// fails to select although its record is fine. Item 1 prints the text of
// the symbols whose bits lie in its first 512 bytes; both faults are
// reported and the run fails.
TEST(AllItems, EarlyEndOfItemDataEndsTheRun) {
    std::string text;
    for (int i = 0; i < 900; i++) text += static_cast<char>(' ' + (i * 13) % 95);
    fx::BitWriter w;
    fx::codeReset();
    std::size_t readable = 0; // symbols wholly within stream bytes 6 to 511
    for (char c : text) {
        fx::codeLiteral(w, static_cast<std::uint8_t>(c));
        if (w.used <= (512 - 6) * 8) readable++;
    }
    const fx::Bytes item1 = fx::itemOf(static_cast<std::int32_t>(text.size()), w);
    ASSERT_GT(item1.size(), 700u);
    ASSERT_LT(readable, text.size());

    const fx::Bytes item0 = textItem("first");
    fx::Bytes data = item0;
    data.insert(data.end(), item1.begin(), item1.begin() + 700);
    const std::string dir = fx::tempDir();
    fx::writeStore(dir,
                   fx::indexOf({{0, static_cast<std::uint32_t>(item0.size())},
                                {static_cast<std::uint32_t>(item0.size()),
                                 static_cast<std::uint32_t>(item1.size())},
                                {0, static_cast<std::uint32_t>(item0.size())}}),
                   data);
    const fx::RunResult r = fx::run(dir, {});
    EXPECT_EQ(r.out, "first\r\n" + text.substr(0, readable) + "\r\n");
    EXPECT_EQ(r.err, item1EndsEarly + selectFailed);
    EXPECT_EQ(r.status, 1);
    // Named, the record of item 2 is fine.
    EXPECT_EQ(fx::run(dir, {"2"}).out, "first\r\n");
    std::filesystem::remove_all(dir);
}

// Output that cannot be written turns success into failure, with a message.
TEST(WriteFailure, FullDeviceFailsTheRun) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    const fx::RunResult r = fx::run(
        dirOf("store"), {"-c", "exec \"$0\" 3 >/dev/full", fx::quorlinPath()}, false, "/bin/sh");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("quorlin: ", 0), 0u) << r.err;
    EXPECT_GE(r.err.size(), 2u);
    EXPECT_EQ(r.err.substr(r.err.size() - 2), "\r\n");
}

// Runs quorlin with standard output and standard error on a terminal in raw
// mode: *out is everything it wrote there, in order. False when the system
// has no terminals to offer.
bool runOnTerminal(const std::string &dir, const Args &args, std::string *out) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        if (master >= 0) close(master);
        return false;
    }
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    termios mode{};
    if (slave < 0 || tcgetattr(slave, &mode) != 0) {
        close(master);
        return false;
    }
    cfmakeraw(&mode);
    tcsetattr(slave, TCSANOW, &mode);
    const std::string exe = fx::quorlinPath();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        dup2(slave, 1);
        dup2(slave, 2);
        close(slave);
        close(master);
        std::vector<char *> argv{const_cast<char *>(exe.c_str())};
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    close(slave);
    out->clear();
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) break;
        char buf[256];
        const ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) break; // EIO once the program has closed the terminal
        out->append(buf, static_cast<std::size_t>(n));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);
    return true;
}

// On a terminal standard output is unbuffered, so the itemno line comes
// before the message.
TEST(Terminal, OutputLeavesAtOnce) {
    std::string out;
    if (!runOnTerminal(dirOf("store"), {"-v", "11"}, &out)) GTEST_SKIP() << "no terminal";
    EXPECT_EQ(out, "itemno=11\r\n" + selectFailed);
}

} // namespace
