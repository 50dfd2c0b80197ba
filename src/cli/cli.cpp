#include "cli.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <getopt.h>

namespace {

const char *programName = "";

} // namespace

void cliBegin(const char *name, char **argv) {
    programName = name;
    argv[0] = const_cast<char *>(name);
    opterr = 1;
}

const char *cliName() {
    return programName;
}

int cliTryHelp() {
    std::fprintf(stderr, "Try '%s --help' for more information.\n", programName);
    return 1;
}

int cliCloseStdout() {
    const bool failed = std::ferror(stdout) != 0;
    if (std::fclose(stdout) != 0 || failed) {
        // A write that failed earlier left its errno long gone; the buffered
        // write at the close fails again the same way in practice.
        std::fprintf(stderr, "%s: standard output: write error: %s\n", programName,
                     std::strerror(errno));
        return 1;
    }
    return 0;
}
