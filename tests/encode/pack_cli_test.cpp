// quorlin-pack as a program: what it writes reads back with quorlin, and
// every failure leaves the directory as it was, with a message and status 1.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
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
        "Usage: quorlin-pack [-f] [-l] [-s] [-o DIR] FILE...\n"
        "Writes itemloc.dat and item.dat; item n is the text of the n-th FILE.\n"
        "  -o DIR      write the store into DIR, created if missing (default: the\n"
        "              current directory)\n"
        "  -f          replace an existing store\n"
        "  -l          one item per line of each FILE, without its line end\n"
        "  -s          print a summary: items, bytes in and out, ratio, speed\n"
        "  -h, --help  print this help\n";
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

TEST(PackStore, WriteFailureRemovesTemporaryFiles) {
    pk::TempDir d;
    const Bytes text = pk::randomBytes(200000, 5);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{50000, 50000};
        setrlimit(RLIMIT_FSIZE, &limit);
        const std::string failure = pk::pack(d.path, {text});
        const bool fileTooLarge = failure.find("cannot write") == 0 &&
                                  failure.find("item.dat: File too large") != std::string::npos;
        _exit(fileTooLarge ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(after(d.path), std::vector<std::string>{});
}

TEST(PackStore, AbortLeavesNothingAndAddWithoutBeginFails) {
    pk::TempDir d;
    ASSERT_EQ(encStoreBegin(d.path.c_str(), false), 0);
    const Bytes text = fx::bytesOf("x");
    ASSERT_EQ(encStoreAdd(text.data(), text.size()), 0);
    EXPECT_EQ(after(d.path).size(), 2u); // the two temporary files
    encStoreAbort();
    EXPECT_EQ(after(d.path), std::vector<std::string>{});
    EXPECT_EQ(encStoreAdd(text.data(), text.size()), -1);
    EXPECT_EQ(encStoreCommit(), -1);
}

// Abandoning a store removes the folders it made and no others: neither the
// existing x nor the folders of an earlier store, which stay with it.
TEST(PackStore, AbortRemovesOnlyFoldersItMade) {
    pk::TempDir d;
    ASSERT_EQ(pk::pack(d.path + "/a/b", {fx::bytesOf("kept")}), "");
    ASSERT_EQ(mkdir((d.path + "/x").c_str(), 0755), 0);
    ASSERT_EQ(encStoreBegin((d.path + "/x/y").c_str(), false), 0);
    EXPECT_EQ(after(d.path + "/x/y").size(), 2u); // the two temporary files
    encStoreAbort();
    EXPECT_EQ(after(d.path), (std::vector<std::string>{"a", "x"}));
    EXPECT_EQ(after(d.path + "/x"), std::vector<std::string>{});
    EXPECT_EQ(pk::unpack(d.path + "/a/b"), std::vector<Bytes>{fx::bytesOf("kept")});
}

} // namespace
