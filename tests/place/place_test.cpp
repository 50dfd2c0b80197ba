// Files in flight and the folders made for them: registered while they
// exist, removed by a drop, a failed commit or a signal, kept by a commit.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "fixture.h"
#include "pack_helpers.h"
#include "place/place.h"

namespace {

using fx::Bytes;

std::vector<std::string> filesIn(const std::string &dir) {
    return pk::filesIn(dir);
}

bool exists(const std::string &path) {
    return std::filesystem::exists(path);
}

TEST(PlaceJoin, FolderAndName) {
    struct Case {
        const char *dir;
        const char *want;
    };
    const Case cases[] = {
        {nullptr, "item.dat"},    {"", "item.dat"},   {"out", "out/item.dat"},
        {"out/", "out/item.dat"}, {"/", "/item.dat"},
    };
    for (const Case &c : cases) {
        char out[64];
        ASSERT_EQ(placeJoin(out, sizeof out, c.dir, "item.dat"), 0);
        EXPECT_STREQ(out, c.want) << (c.dir ? c.dir : "nullptr");
    }
    char small[12];
    EXPECT_EQ(placeJoin(small, sizeof small, "out", "item.dat"), -1);
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_EQ(placeJoin(small, sizeof small, "out", "item.da"), 0) << "exactly fits";
}

// A commit places the whole file under its name, never over an existing one
// unless asked; a failed commit or a drop leaves no temporary file.
TEST(PlaceFiles, CommitOrDrop) {
    pk::TempDir d;
    const std::string dir = d.path;
    const auto begin = [&](const char *name, const char *text) {
        const int slot = placeBegin(dir.c_str(), name);
        EXPECT_GE(slot, 0);
        const std::string body = text;
        EXPECT_EQ(placeWriteAll(placeFd(slot), reinterpret_cast<const std::uint8_t *>(body.data()),
                                body.size()),
                  0);
        return slot;
    };
    const std::string a = dir + "/a";
    int slot = begin("a", "first");
    EXPECT_EQ(filesIn(dir).size(), 1u);
    EXPECT_EQ(filesIn(dir)[0].rfind(".a.", 0), 0u) << filesIn(dir)[0];
    ASSERT_EQ(placeCommit(slot, a.c_str(), false), 0);
    EXPECT_EQ(filesIn(dir), std::vector<std::string>{"a"});

    slot = begin("a", "second");
    EXPECT_EQ(placeCommit(slot, a.c_str(), false), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(filesIn(dir), std::vector<std::string>{"a"});
    EXPECT_EQ(fx::textOf(fx::readFile(a)), "first");

    slot = begin("a", "third");
    ASSERT_EQ(placeCommit(slot, a.c_str(), true), 0);
    EXPECT_EQ(fx::textOf(fx::readFile(a)), "third");

    slot = begin("b", "dropped");
    placeDrop(slot);
    EXPECT_EQ(filesIn(dir), std::vector<std::string>{"a"});
    // The slot is free again, and files in flight at once get slots of their own.
    const int one = placeBegin(dir.c_str(), "c");
    const int two = placeBegin(dir.c_str(), "d");
    EXPECT_GE(one, 0);
    EXPECT_GE(two, 0);
    EXPECT_NE(one, two);
    placeDrop(one);
    placeDrop(two);
    EXPECT_EQ(filesIn(dir), std::vector<std::string>{"a"});
}

// Folders: the ones made are taken back by a drop (only if empty), kept by
// a keep; folders that were there are never touched.
TEST(PlaceDirs, MadeOnesGoAgain) {
    pk::TempDir d;
    ASSERT_EQ(mkdir((d.path + "/there").c_str(), 0755), 0);
    ASSERT_EQ(placeMakeDirs((d.path + "/there/new/deeper/").c_str()), 0);
    EXPECT_TRUE(exists(d.path + "/there/new/deeper"));
    placeDropDirs();
    EXPECT_EQ(filesIn(d.path + "/there"), std::vector<std::string>{});

    ASSERT_EQ(placeMakeDirs((d.path + "/there/new/deeper").c_str()), 0);
    fx::writeFile(d.path + "/there/new/kept", fx::bytesOf("x"));
    placeDropDirs();
    EXPECT_EQ(filesIn(d.path + "/there/new"), std::vector<std::string>{"kept"})
        << "a folder with something in it stays";

    ASSERT_EQ(placeMakeDirs((d.path + "/other/one").c_str()), 0);
    placeKeepDirs();
    placeDropDirs();
    EXPECT_TRUE(exists(d.path + "/other/one"));

    // A component that is a file: named, and the folders made on the way
    // there go again.
    fx::writeFile(d.path + "/file", {});
    EXPECT_EQ(placeMakeDirs((d.path + "/made2/../file/x").c_str()), -1);
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_EQ(std::string(placeFailedPath()), d.path + "/made2/../file");
    EXPECT_FALSE(exists(d.path + "/made2"));
}

// Runs body in a child; the child's wait status.
template <class Body> int inChild(Body body) {
    const pid_t child = fork();
    if (child == 0) {
        fx::defaultSignals();
        body();
        fx::exitChild(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

// A signal that arrives while a file is being made and registered waits
// until it is registered, and then removes it: the hook raises SIGTERM
// inside that step, every time.
TEST(PlaceSignals, FileMadeInTheHeldStepIsRemoved) {
    pk::TempDir d;
    const int status = inChild([&] {
        placeCatchSignals();
        placeHeldHook = [] { raise(SIGTERM); };
        placeBegin(d.path.c_str(), "item.dat");
        _exit(3); // not reached: the signal ends the child on release
    });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(filesIn(d.path), std::vector<std::string>{});
}

// Every ending signal removes the files in flight and the folders made for
// them, then ends the program as it would have; a signal ignored from the
// start stays ignored.
TEST(PlaceSignals, EndingSignalsRemoveWhatIsInFlight) {
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
        SCOPED_TRACE(strsignal(sig));
        pk::TempDir d;
        const std::string dir = d.path + "/new/deeper";
        const int status = inChild([&] {
            const rlimit noCore{0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            placeCatchSignals();
            if (placeMakeDirs(dir.c_str()) != 0 || placeBegin(dir.c_str(), "a") < 0)
                fx::exitChild(4);
            raise(sig);
            fx::exitChild(3);
        });
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
        EXPECT_EQ(filesIn(d.path), std::vector<std::string>{});
    }
    for (const int sig : {SIGHUP, SIGINT, SIGPIPE}) {
        SCOPED_TRACE(std::string(strsignal(sig)) + " ignored");
        const int status = inChild([&] {
            std::signal(sig, SIG_IGN);
            placeCatchSignals();
            raise(sig);
            fx::exitChild(0);
        });
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
}

// Past the file size limit a write fails (EFBIG) instead of ending the run.
TEST(PlaceSignals, FileSizeLimitFailsTheWrite) {
    pk::TempDir d;
    const int status = inChild([&] {
        placeCatchSignals();
        // The soft limit only, which fx::exitChild lifts again.
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 1000;
        setrlimit(RLIMIT_FSIZE, &limit);
        const int slot = placeBegin(d.path.c_str(), "big");
        const Bytes bytes(5000, 0x41);
        const bool failed = placeWriteAll(placeFd(slot), bytes.data(), bytes.size()) != 0;
        const int error = errno;
        placeDrop(slot);
        fx::exitChild(failed && error == EFBIG ? 0 : 1);
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(filesIn(d.path), std::vector<std::string>{});
}

} // namespace
