// quorlin-pack as a program: what it writes reads back with quorlin, and
// every failure leaves the directory as it was, with a message and status 1.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <regex>
#include <unistd.h>

#include "pack_helpers.h"

namespace {

using fx::Bytes;

// quorlin-pack lands beside quorlin at the top of the build tree. The tests
// start it through a link of another name, so every message they check shows
// that the tool names itself "quorlin-pack" whatever it was started as.
std::string packPath() {
    static const pk::TempDir bin;
    static const std::string alias = bin.path + "/packer";
    static const int linked = symlink((fx::quorlinPath() + "-pack").c_str(), alias.c_str());
    EXPECT_EQ(linked, 0) << "cannot link " << alias;
    return alias;
}

fx::RunResult pack(const std::string &dir, const std::vector<std::string> &args) {
    return fx::run(dir, args, false, packPath());
}

// Files the tool leaves: the run's own capture files are gone by then.
std::vector<std::string> after(const std::string &dir) {
    return pk::filesIn(dir);
}

TEST(PackCli, FilesBecomeItemsInOrder) {
    pk::TempDir d;
    fx::writeFile(d.path + "/b.txt", fx::bytesOf("second <TOC> item"));
    fx::writeFile(d.path + "/a.txt", fx::bytesOf("first"));
    fx::writeFile(d.path + "/e.txt", {});
    const auto r = pack(d.path, {"b.txt", "a.txt", "e.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    const auto shown = fx::run(d.path, {});
    EXPECT_EQ(shown.out, fx::crlf("second <TOC> item\nfirst\n\n"));
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(after(d.path),
              (std::vector<std::string>{"a.txt", "b.txt", "e.txt", "item.dat", "itemloc.dat"}));
}

TEST(PackCli, LinesBecomeItems) {
    struct Case {
        const char *name;
        const char *file;
        std::vector<std::string> items;
    };
    const Case cases[] = {
        {"line feeds", "one\ntwo\n", {"one", "two"}},
        {"carriage returns dropped", "one\r\ntwo\r\n", {"one", "two"}},
        {"last line without end", "one\ntwo", {"one", "two"}},
        {"empty lines are empty items", "\none\n\n", {"", "one", ""}},
        {"empty file has no items", "", {}},
        {"lone carriage return kept inside", "a\rb\n", {"a\rb"}},
        // Only CR LF is a line end: a CR that ends the file is text.
        {"carriage return ending the file kept", "one\ntwo\r", {"one", "two\r"}},
        {"file of one carriage return", "\r", {"\r"}},
    };
    for (const Case &c : cases) {
        pk::TempDir d;
        fx::writeFile(d.path + "/in.txt", fx::bytesOf(c.file));
        const auto r = pack(d.path, {"-l", "in.txt"});
        ASSERT_EQ(r.status, 0) << c.name << ": " << r.err;
        std::vector<Bytes> want;
        for (const auto &s : c.items) want.push_back(fx::bytesOf(s));
        EXPECT_EQ(pk::unpack(d.path), want) << c.name;
    }
}

TEST(PackCli, OutputDirectoryAndOverwrite) {
    pk::TempDir d;
    ASSERT_EQ(mkdir((d.path + "/out").c_str(), 0755), 0);
    fx::writeFile(d.path + "/a.txt", fx::bytesOf("old"));
    ASSERT_EQ(pack(d.path, {"-o", "out", "a.txt"}).status, 0);
    const Bytes oldData = fx::readFile(d.path + "/out/item.dat");
    const Bytes oldIndex = fx::readFile(d.path + "/out/itemloc.dat");

    fx::writeFile(d.path + "/a.txt", fx::bytesOf("new text"));
    const auto refused = pack(d.path, {"-o", "out", "a.txt"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err,
              "quorlin-pack: out/itemloc.dat already exists (use -f to replace the store)\n");
    EXPECT_EQ(fx::readFile(d.path + "/out/item.dat"), oldData);
    EXPECT_EQ(fx::readFile(d.path + "/out/itemloc.dat"), oldIndex);
    EXPECT_EQ(after(d.path + "/out"), (std::vector<std::string>{"item.dat", "itemloc.dat"}));

    const auto replaced = pack(d.path, {"-f", "-o", "out", "a.txt"});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(pk::unpack(d.path + "/out"), std::vector<Bytes>{fx::bytesOf("new text")});
    EXPECT_EQ(after(d.path + "/out"), (std::vector<std::string>{"item.dat", "itemloc.dat"}));
}

// -o makes the folder and every missing one above it, with what the umask
// leaves of 0777 (002 here, so that a fixed 0755 or 0700 shows). The store
// reads back, and a second run still does not replace it.
TEST(PackCli, OutputDirectoryIsCreated) {
    struct Case {
        const char *name;
        bool absolute; // dir given below the test directory's absolute path
        std::string dir;
        std::vector<std::string> made;
    };
    const Case cases[] = {
        {"one folder", false, "new", {"new"}},
        {"nested folders", false, "a/b/c", {"a", "a/b", "a/b/c"}},
        {"repeated and trailing slashes", false, "a//b/", {"a", "a/b"}},
        {"in an existing folder", false, "sub/new", {"sub/new"}},
        {"absolute path", true, "abs/store", {"abs", "abs/store"}},
    };
    const mode_t oldMask = umask(002);
    for (const Case &c : cases) {
        pk::TempDir d;
        ASSERT_EQ(mkdir((d.path + "/sub").c_str(), 0755), 0);
        fx::writeFile(d.path + "/a.txt", fx::bytesOf("first"));
        fx::writeFile(d.path + "/b.txt", fx::bytesOf("second"));
        const std::string dir = c.absolute ? d.path + "/" + c.dir : c.dir;
        const auto r = pack(d.path, {"-o", dir, "a.txt", "b.txt"});
        EXPECT_EQ(r.status, 0) << c.name << ": " << r.err;
        EXPECT_EQ(r.out, "") << c.name;
        EXPECT_EQ(r.err, "") << c.name;
        const std::string store = d.path + "/" + c.dir;
        EXPECT_EQ(pk::unpack(store),
                  (std::vector<Bytes>{fx::bytesOf("first"), fx::bytesOf("second")}))
            << c.name;
        EXPECT_EQ(after(store), (std::vector<std::string>{"item.dat", "itemloc.dat"})) << c.name;
        for (const std::string &made : c.made) {
            struct stat st;
            ASSERT_EQ(stat((d.path + "/" + made).c_str(), &st), 0) << c.name << ": " << made;
            EXPECT_EQ(st.st_mode & 07777, 0775u) << c.name << ": " << made;
        }

        const auto again = pack(d.path, {"-o", dir, "a.txt"});
        EXPECT_EQ(again.status, 1) << c.name;
        const std::string slash = dir.back() == '/' ? "" : "/";
        EXPECT_EQ(again.err, "quorlin-pack: " + dir + slash +
                                 "itemloc.dat already exists (use -f to replace the store)\n")
            << c.name;
        EXPECT_EQ(pk::unpack(store),
                  (std::vector<Bytes>{fx::bytesOf("first"), fx::bytesOf("second")}))
            << c.name;
    }
    umask(oldMask);
}

// -f replaces whatever part of a store is there, and the new store reads
// back whole, with nothing else left beside it.
TEST(PackCli, ForceReplacesAnyPartOfAStore) {
    struct Case {
        const char *name;
        std::vector<std::string> present;
    };
    const Case cases[] = {
        {"whole store", {"itemloc.dat", "item.dat"}},
        {"index alone", {"itemloc.dat"}},
        {"data alone", {"item.dat"}},
    };
    for (const Case &c : cases) {
        pk::TempDir d;
        for (const std::string &name : c.present) {
            fx::writeFile(d.path + "/" + name, fx::bytesOf("old " + name));
        }
        fx::writeFile(d.path + "/a.txt", fx::bytesOf("new"));
        fx::writeFile(d.path + "/b.txt", fx::bytesOf("newer"));
        const auto r = pack(d.path, {"-f", "a.txt", "b.txt"});
        EXPECT_EQ(r.status, 0) << c.name << ": " << r.err;
        EXPECT_EQ(r.err, "") << c.name;
        EXPECT_EQ(pk::unpack(d.path),
                  (std::vector<Bytes>{fx::bytesOf("new"), fx::bytesOf("newer")}))
            << c.name;
        EXPECT_EQ(after(d.path),
                  (std::vector<std::string>{"a.txt", "b.txt", "item.dat", "itemloc.dat"}))
            << c.name;
    }
}

// The store's files and the folders -o makes get the modes any new file and
// folder of the user gets: 0666 and 0777 less the umask, whatever the
// temporary files were made with.
TEST(PackCli, ModesFollowTheUmask) {
    const mode_t masks[] = {022, 002, 077, 0};
    const mode_t oldMask = umask(022);
    for (mode_t mask : masks) {
        SCOPED_TRACE("umask " + std::to_string(mask >> 6) + std::to_string(mask >> 3 & 7) +
                     std::to_string(mask & 7));
        pk::TempDir d;
        fx::writeFile(d.path + "/a.txt", fx::bytesOf("a"));
        umask(mask);
        const auto r = pack(d.path, {"-o", "new/store", "a.txt"});
        umask(022);
        ASSERT_EQ(r.status, 0) << r.err;
        struct Want {
            std::string path;
            mode_t mode;
        };
        const Want wants[] = {
            {"new", 0777 & ~mask},
            {"new/store", 0777 & ~mask},
            {"new/store/itemloc.dat", 0666 & ~mask},
            {"new/store/item.dat", 0666 & ~mask},
        };
        for (const Want &w : wants) {
            struct stat st;
            ASSERT_EQ(stat((d.path + "/" + w.path).c_str(), &st), 0) << w.path;
            EXPECT_EQ(st.st_mode & 07777, w.mode) << w.path;
        }
    }
    umask(oldMask);
}

// A lone item.dat is a store too: it is not replaced either.
TEST(PackCli, LoneDataFileIsKept) {
    pk::TempDir d;
    fx::writeFile(d.path + "/item.dat", fx::bytesOf("precious"));
    fx::writeFile(d.path + "/a.txt", fx::bytesOf("a"));
    const auto r = pack(d.path, {"a.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quorlin-pack: item.dat already exists (use -f to replace the store)\n");
    EXPECT_EQ(fx::readFile(d.path + "/item.dat"), fx::bytesOf("precious"));
    EXPECT_EQ(after(d.path), (std::vector<std::string>{"a.txt", "item.dat"}));
}

// Each failure: its message and status, and nothing left behind (no store,
// no temporary file).
TEST(PackCli, FailuresLeaveNothingBehind) {
    struct Case {
        const char *name;
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {"missing input",
         {"a.txt", "missing.txt"},
         "quorlin-pack: cannot read missing.txt: No such file or directory\n"},
        {"directory as input", {"a.txt", "sub"}, "quorlin-pack: cannot read sub: Is a directory\n"},
        {"output onto a regular file",
         {"-o", "a.txt", "a.txt"},
         "quorlin-pack: a.txt is not a directory\n"},
        {"output under a regular file",
         {"-o", "a.txt/store", "a.txt"},
         "quorlin-pack: cannot create directory a.txt/store: a.txt is not a directory\n"},
        // The folders made for the store go again with it.
        {"output folders made, then an input missing",
         {"-o", "new/deeper/", "a.txt", "missing.txt"},
         "quorlin-pack: cannot read missing.txt: No such file or directory\n"},
        {"output folder made in an existing one, then an input missing",
         {"-o", "sub/new", "a.txt", "missing.txt"},
         "quorlin-pack: cannot read missing.txt: No such file or directory\n"},
        {"file too large for one item",
         {"a.txt", "huge.bin"},
         "quorlin-pack: huge.bin is too large: an item holds at most 2147483647 bytes\n"},
    };
    for (const Case &c : cases) {
        pk::TempDir d;
        fx::writeFile(d.path + "/a.txt", fx::bytesOf("a"));
        ASSERT_EQ(mkdir((d.path + "/sub").c_str(), 0755), 0);
        // Sparse: 2 GiB that take no room, one byte more than an item holds.
        fx::writeFile(d.path + "/huge.bin", {});
        ASSERT_EQ(truncate((d.path + "/huge.bin").c_str(), 0x80000000LL), 0);
        const auto r = pack(d.path, c.args);
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
        EXPECT_EQ(r.out, "") << c.name;
        EXPECT_EQ(after(d.path), (std::vector<std::string>{"a.txt", "huge.bin", "sub"})) << c.name;
        EXPECT_EQ(after(d.path + "/sub"), std::vector<std::string>{}) << c.name;
    }
}

TEST(PackCli, UsageAndHelp) {
    const std::string usage =
        "Usage: quorlin-pack [-f] [-l] [-s] [-P|-q] [-o DIR] FILE...\n"
        "Writes itemloc.dat and item.dat; item n is the text of the n-th FILE.\n"
        "With FILE -, reads standard input.\n"
        "  -o, --output DIR  write the store into DIR, created if missing (default:\n"
        "                    the current directory)\n"
        "  -f, --force       replace an existing store\n"
        "  -l, --lines       one item per line of each FILE, without its line end\n"
        "  -s, --summary     print a summary: items, bytes in and out, ratio, speed\n"
        "  -P, --progress    show progress on standard error even when it is not a\n"
        "                    terminal, and the final figures at the end\n"
        "  -q, --quiet       show no progress, not even on a terminal\n"
        "  -h, --help        print this help\n"
        "  -V, --version     print the version\n";
    struct Case {
        std::vector<std::string> args;
        std::string out;
        std::string err;
        int status;
    };
    const Case cases[] = {
        {{"-h"}, usage, "", 0},
        {{"--help"}, usage, "", 0},
        {{}, "", "quorlin-pack: no input files\n" + usage, 1},
        {{"-x", "a.txt"}, "", "quorlin-pack: unknown option -x\n" + usage, 1},
        {{"-fx", "a.txt"}, "", "quorlin-pack: unknown option -x\n" + usage, 1},
        {{"--bogus", "a.txt"}, "", "quorlin-pack: unknown option --bogus\n" + usage, 1},
        {{"a.txt", "--bogus=1"}, "", "quorlin-pack: unknown option --bogus=1\n" + usage, 1},
        {{"--help=1"}, "", "quorlin-pack: option --help takes no argument\n" + usage, 1},
        {{"a.txt", "-o"}, "", "quorlin-pack: option -o needs an argument\n" + usage, 1},
        {{"a.txt", "--output"}, "", "quorlin-pack: option --output needs an argument\n" + usage, 1},
        {{"-V"}, "quorlin-pack " QUORLIN_VERSION "\n", "", 0},
        {{"--version", "a.txt"}, "quorlin-pack " QUORLIN_VERSION "\n", "", 0},
        {{"--version=2"}, "", "quorlin-pack: option --version takes no argument\n" + usage, 1},
        {{"a.txt", "--force=yes"},
         "",
         "quorlin-pack: option --force takes no argument\n" + usage,
         1},
        {{"-", "a.txt", "-"}, "", "quorlin-pack: standard input (-) given more than once\n", 1},
    };
    for (const Case &c : cases) {
        pk::TempDir d;
        fx::writeFile(d.path + "/a.txt", fx::bytesOf("a"));
        const auto r = pack(d.path, c.args);
        const std::string name = ::testing::PrintToString(c.args);
        EXPECT_EQ(r.out, c.out) << name;
        EXPECT_EQ(r.err, c.err) << name;
        EXPECT_EQ(r.status, c.status) << name;
        EXPECT_EQ(after(d.path), std::vector<std::string>{"a.txt"}) << name;
    }
}

// A shell line run in dir, with "$0" standing for the packer: for
// redirections and pipes that the plain runner does not offer.
fx::RunResult packShell(const std::string &dir, const std::string &line) {
    return fx::run(dir, {"-c", line, packPath()}, false, "/bin/sh");
}

// The long names do what the letters do.
TEST(PackCli, LongOptionsMeanTheLetters) {
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> items;
        std::string outStart; // the summary's start; "" for no output
    };
    const Case cases[] = {
        {{"--output", "out", "a.txt"}, {"one\ntwo\n"}, ""},
        {{"--output=out", "--lines", "a.txt"}, {"one", "two"}, ""},
        {{"-o", "out", "--summary", "a.txt"}, {"one\ntwo\n"}, "1 items, 8 bytes of text, store "},
        {{"-o", "out", "--force", "a.txt"}, {"one\ntwo\n"}, ""},
    };
    for (const Case &c : cases) {
        pk::TempDir d;
        fx::writeFile(d.path + "/a.txt", fx::bytesOf("one\ntwo\n"));
        if (c.args[2] == "--force") pack(d.path, {"-o", "out", "a.txt", "a.txt"});
        const auto r = pack(d.path, c.args);
        const std::string name = ::testing::PrintToString(c.args);
        EXPECT_EQ(r.status, 0) << name << ": " << r.err;
        EXPECT_EQ(r.out.substr(0, c.outStart.size()), c.outStart) << name;
        EXPECT_EQ(r.out.empty(), c.outStart.empty()) << name;
        std::vector<Bytes> want;
        for (const auto &item : c.items) want.push_back(fx::bytesOf(item));
        EXPECT_EQ(pk::unpack(d.path + "/out"), want) << name;
    }
}

// "-" is standard input, taken whole as one item or split into lines with
// -l, in its place among the files. Every byte value comes back.
TEST(PackCli, StandardInputIsAFile) {
    Bytes everyByte;
    for (int b = 0; b < 256; b++) everyByte.push_back(static_cast<std::uint8_t>(b));
    struct Case {
        const char *name;
        std::string line;
        Bytes input;
        std::vector<Bytes> items;
    };
    const Case cases[] = {
        {"whole", "\"$0\" - < in.bin", everyByte, {everyByte}},
        {"from a pipe, between files",
         "cat in.bin | \"$0\" a.txt - a.txt",
         fx::bytesOf("piped \\x0a text"),
         {fx::bytesOf("a"), fx::bytesOf("piped \\x0a text"), fx::bytesOf("a")}},
        {"empty", "\"$0\" - < in.bin", {}, {Bytes{}}},
        {"lines",
         "\"$0\" -l - < in.bin",
         fx::bytesOf("one\r\n\ttwo\\\nthree"),
         {fx::bytesOf("one"), fx::bytesOf("\ttwo\\"), fx::bytesOf("three")}},
    };
    for (const Case &c : cases) {
        pk::TempDir d;
        fx::writeFile(d.path + "/a.txt", fx::bytesOf("a"));
        fx::writeFile(d.path + "/in.bin", c.input);
        const auto r = packShell(d.path, c.line);
        EXPECT_EQ(r.status, 0) << c.name << ": " << r.err;
        EXPECT_EQ(r.err, "") << c.name;
        EXPECT_EQ(pk::unpack(d.path), c.items) << c.name;
    }
    // Through quorlin too: what it prints of a store packed from a pipe.
    pk::TempDir d;
    ASSERT_EQ(packShell(d.path, "printf 'apple\\nbanana\\n' | \"$0\" -l -").status, 0);
    EXPECT_EQ(fx::run(d.path, {}).out, fx::crlf("apple\nbanana\n"));
}

// What the packer prints on its standard output is checked: lost output
// fails the run. A lost summary leaves the store, which is whole.
TEST(PackCli, LostStandardOutputFails) {
    struct Case {
        std::string line;
        bool storeMade;
    };
    const Case cases[] = {
        {"\"$0\" -h > /dev/full", false},
        {"\"$0\" --version > /dev/full", false},
        {"\"$0\" -s a.txt > /dev/full", true},
    };
    for (const Case &c : cases) {
        pk::TempDir d;
        fx::writeFile(d.path + "/a.txt", fx::bytesOf("a"));
        const auto r = packShell(d.path, c.line);
        EXPECT_EQ(r.status, 1) << c.line;
        const std::string message =
            "quorlin-pack: cannot write standard output: No space left on device\n";
        EXPECT_TRUE(r.err.ends_with(message)) << c.line << ": " << r.err;
        EXPECT_EQ(std::filesystem::exists(d.path + "/item.dat"), c.storeMade) << c.line;
    }
}

// With -s, a store larger than its text comes with a note saying why.
TEST(PackCli, SummaryExplainsALargerStore) {
    const Bytes shortLines = fx::bytesOf("ab\ncd\nef\ngh\nij\n");
    const Bytes noise = pk::randomBytes(100000, 7);
    const Bytes text = pk::corpusText(1, 0, 100000);
    struct Case {
        const char *name;
        std::vector<std::string> args;
        Bytes input;
        std::string err;
    };
    const Case cases[] = {
        {"short items",
         {"-s", "-l", "in.bin"},
         shortLines,
         "quorlin-pack: note: the store is larger than its text: its 5 items average 2.0 bytes, "
         "and items this short do not compress (each adds a 16-byte index record and a 6-byte "
         "header, and its code starts afresh)\n"},
        {"text that does not compress",
         {"-s", "in.bin"},
         noise,
         "quorlin-pack: note: the store is larger than its text: the text does not compress (is "
         "it compressed or random data?)\n"},
        {"text that compresses", {"-s", "in.bin"}, text, ""},
        {"short items without -s", {"-l", "in.bin"}, shortLines, ""},
    };
    for (const Case &c : cases) {
        pk::TempDir d;
        fx::writeFile(d.path + "/in.bin", c.input);
        const auto r = pack(d.path, c.args);
        EXPECT_EQ(r.status, 0) << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
    }
}

// Progress: with -P on standard error whatever it is, the line rewritten
// and then the final figures; never into a file or pipe unless asked. The
// input arrives in two pieces 0.6 s apart, so that the line has reason to move
// in between.
TEST(PackCli, ProgressOnlyWhenAsked) {
    const std::string slow = "{ printf a; sleep 0.6; printf b; } | \"$0\" ";
    struct Case {
        std::string args;
        std::string errPattern;
    };
    const Case cases[] = {
        {"-P -", "\rquorlin-pack: 0 B packed of 2 B read, 0 B/s"
                 "\rquorlin-pack: 2 B packed in [0-9.]+ s, [0-9]+ B/s *\n"},
        {"--progress -s -", "\rquorlin-pack: 0 B packed of 2 B read, 0 B/s"
                            "\rquorlin-pack: 2 B packed in [0-9.]+ s, [0-9]+ B/s *\n"
                            "quorlin-pack: note: .*\n"},
        {"-", ""},
        {"-P -q -", ""},
    };
    for (const Case &c : cases) {
        pk::TempDir d;
        const auto r = packShell(d.path, slow + c.args);
        EXPECT_EQ(r.status, 0) << c.args << ": " << r.err;
        EXPECT_TRUE(std::regex_match(r.err, std::regex(c.errPattern)))
            << c.args << ": " << ::testing::PrintToString(r.err);
        EXPECT_EQ(pk::unpack(d.path), std::vector<Bytes>{fx::bytesOf("ab")}) << c.args;
    }
}

// On a terminal, progress shows unasked and is cleared at the end.
TEST(PackCli, ProgressOnATerminalIsCleared) {
    pk::TempDir d;
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string terminal = ptsname(master);
    const std::string exe = packPath();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int slave = open(terminal.c_str(), O_RDWR | O_NOCTTY);
        if (slave < 0 || chdir(d.path.c_str()) != 0) _exit(127);
        dup2(slave, 2);
        execl("/bin/sh", "sh", "-c", "{ printf a; sleep 0.6; printf b; } | \"$0\" -", exe.c_str(),
              nullptr);
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::string shown;
    fcntl(master, F_SETFL, O_NONBLOCK);
    char buffer[4096];
    ssize_t got;
    while ((got = read(master, buffer, sizeof buffer)) > 0) shown.append(buffer, buffer + got);
    close(master);
    const std::string line = "quorlin-pack: 0 B packed of 2 B read, 0 B/s";
    // The terminal may turn each line feed into CR LF; there is none here.
    EXPECT_EQ(shown, "\r" + line + "\r" + std::string(line.size(), ' ') + "\r");
    EXPECT_EQ(pk::unpack(d.path), std::vector<Bytes>{fx::bytesOf("ab")});
}

// A stopped run takes back its temporary files and the folders it made. It
// is stopped while it waits to read a pipe that nobody writes.
TEST(PackCli, StoppedRunLeavesNothingBehind) {
    pk::TempDir d;
    fx::writeFile(d.path + "/a.txt", fx::bytesOf("a"));
    ASSERT_EQ(mkfifo((d.path + "/pipe").c_str(), 0600), 0);
    const std::string exe = packPath();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (chdir(d.path.c_str()) != 0) _exit(127);
        execl(exe.c_str(), exe.c_str(), "-o", "new/deeper", "a.txt", "pipe", nullptr);
        _exit(127);
    }
    // The store has begun once its two temporary files are there.
    const std::string store = d.path + "/new/deeper";
    bool begun = false;
    for (int wait = 0; wait < 500 && !begun; wait++) {
        begun = std::filesystem::exists(store) && after(store).size() == 2;
        if (!begun) usleep(10000);
    }
    kill(child, SIGTERM);
    EXPECT_TRUE(begun);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(after(d.path), (std::vector<std::string>{"a.txt", "pipe"}));
}

// A full disk, played by a file size limit: the write fails part-way
// through item.dat and the store is abandoned without a trace.
// SIGTERM at many points of a run, from before the folders exist to after
// the store is in place: the run leaves either nothing of its own or the
// whole store, never a temporary file or an empty folder it made.
TEST(PackCli, StoppedAnywhereLeavesNothingOrTheStore) {
    pk::TempDir d;
    std::string text;
    for (int i = 0; text.size() < 200000; i++) text += "<TOC>entry " + std::to_string(i) + "</TOC>";
    for (const char *name : {"a.txt", "b.txt", "c.txt"})
        fx::writeFile(d.path + "/" + name, fx::bytesOf(text));
    const std::string exe = packPath();
    // Delays of 0 to 8 ms in steps of 0.1 ms: the folders and temporary
    // files are made in the first few milliseconds, the store is in place
    // after about ten.
    for (int round = 0; round < 80; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (chdir(d.path.c_str()) != 0) _exit(127);
            execl(exe.c_str(), exe.c_str(), "-o", "new/deeper", "a.txt", "b.txt", "c.txt", nullptr);
            _exit(127);
        }
        usleep(static_cast<useconds_t>(round * 100));
        kill(child, SIGTERM);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        const std::vector<std::string> inputs{"a.txt", "b.txt", "c.txt"};
        if (after(d.path) == inputs) continue; // stopped before the store was placed
        // Finished first: the whole store, and nothing else.
        ASSERT_EQ(after(d.path + "/new/deeper"),
                  (std::vector<std::string>{"item.dat", "itemloc.dat"}));
        const auto shown = fx::run(d.path + "/new/deeper", {"2"});
        EXPECT_EQ(shown.status, 0);
        std::filesystem::remove_all(d.path + "/new");
    }
}

} // namespace
