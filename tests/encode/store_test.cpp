// The store writer behind quorlin-pack: a failed or abandoned store leaves
// no temporary file and no folder it made, and nothing can be added to a
// store that was never begun.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <unistd.h>

#include "pack_helpers.h"

namespace {

using fx::Bytes;

std::vector<std::string> after(const std::string &dir) {
    return pk::filesIn(dir);
}

TEST(PackStore, WriteFailureRemovesTemporaryFiles) {
    pk::TempDir d;
    const Bytes text = pk::randomBytes(200000, 5);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 50000; // the soft limit, which fx::exitChild lifts again
        setrlimit(RLIMIT_FSIZE, &limit);
        const std::string failure = pk::pack(d.path, {text});
        const bool fileTooLarge = failure.find("cannot write") == 0 &&
                                  failure.find("item.dat: File too large") != std::string::npos;
        fx::exitChild(fileTooLarge ? 0 : 1);
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
