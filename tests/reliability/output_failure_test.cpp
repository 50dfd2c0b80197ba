// Failures of standard output: a full device must not pass for success, and a
// reader that goes away ends the run without a message.
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "fixture.h"

namespace {

struct Outcome {
    std::string err;
    int status;
};

// Runs quorlin in dir with standard output on outFd and standard error
// captured; ignorePipe starts it with SIGPIPE ignored, as some shells and
// job runners do.
Outcome runWithStdout(const std::string &dir, int outFd, bool ignorePipe) {
    const std::string errPath = dir + "/.stderr";
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(outFd, 1);
        dup2(err, 2);
        std::signal(SIGPIPE, ignorePipe ? SIG_IGN : SIG_DFL);
        const std::string exe = fx::quorlinPath();
        execl(exe.c_str(), exe.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    Outcome o;
    o.err = fx::textOf(fx::readFile(errPath));
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return o;
}

std::string storeOfManyItems() {
    const std::string dir = fx::tempDir();
    std::vector<fx::Bytes> items(2000, fx::hex("00 00 04 00 00 00 8D 7C 60")); // "<TOC" each
    fx::writeItems(dir, items);
    return dir;
}

TEST(OutputFailure, FullDeviceIsAFailure) {
    const std::string dir = storeOfManyItems();
    int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    const Outcome o = runWithStdout(dir, full, false);
    close(full);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "quorlin: write error: No space left on device\r\n");
}

TEST(OutputFailure, ClosedPipeEndsQuietly) {
    const std::string dir = storeOfManyItems();
    for (bool ignorePipe : {false, true}) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        close(fds[0]); // the reader is gone before the first write
        const Outcome o = runWithStdout(dir, fds[1], ignorePipe);
        close(fds[1]);
        EXPECT_EQ(o.err, "") << "SIGPIPE ignored: " << ignorePipe;
        EXPECT_NE(o.status, 0) << "SIGPIPE ignored: " << ignorePipe;
    }
}

} // namespace
