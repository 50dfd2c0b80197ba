// quorlin: prints the text of one item of the store in the current
// directory, or of every item from 0 until the index runs out. A damaged
// store (a record that leads nowhere, an item whose bits run out) ends the
// run with status 1 and a message for each fault.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "decode/decode.h"
#include "format/format.h"
#include "item/item.h"
#include "textio/textio.h"

namespace {

// Messages name the tool by this constant, not by the path it was run as.
constexpr const char *programName = "quorlin";

// Every exit goes through here so that pending output is written first; a
// failed write to standard output turns a success into a failure.
[[noreturn]] void finish(int status) {
    if (txtFlush() != 0) {
        const int error = txtError();
        // A reader that went away (a closed pipe) is not worth a message.
        if (error != EPIPE)
            txtErrPrintf("%s: write error: %s\n", programName, std::strerror(error));
        status = 1;
    }
    std::exit(status);
}

[[noreturn]] void usage() {
    txtErrPrintf("Usage: %s [-v] [-d] [itemno]\n", programName);
    txtErrPrintf("  -v: verbose (-vv for double verbose)\n");
    txtErrPrintf("  -d: dump tree each time\n");
    finish(1);
}

[[noreturn]] void fail(const char *what) {
    txtErrPrintf("%s: %s() failed\n", programName, what);
    itemClose();
    finish(1);
}

// An item whose bits ran out before its decoded length: its text is printed
// as far as it goes, but the run must not pass for a success.
void reportDataEndsEarly(std::int32_t n) {
    txtErrPrintf("%s: item %ld: data ends early\n", programName, static_cast<long>(n));
}

} // namespace

int main(int argc, char **argv) {
    int verbose = 0;
    int dump = 0;
    std::int32_t itemno = -1;

    int arg = 1;
    for (; arg < argc && argv[arg][0] == '-'; arg++) {
        for (const char *p = argv[arg] + 1; *p != '\0'; p++) {
            if (*p == 'd') {
                dump = 1;
            } else if (*p == 'v') {
                verbose++;
            } else {
                usage();
            }
        }
    }
    if (arg < argc && argv[arg][0] >= '0' && argv[arg][0] <= '9') {
        // Decimal with the usual string-to-long rules: leading zeros are
        // decimal and the first non-digit ends the number. It cannot be
        // negative here; anything beyond 32 bits selects the last item number.
        long number = std::strtol(argv[arg], nullptr, 10);
        if (number > fmtItemNumberMax) number = fmtItemNumberMax;
        itemno = static_cast<std::int32_t>(number);
        if (verbose >= 1) txtPrintf("itemno=%ld\n", number);
        arg++;
    }
    if (arg < argc) usage();

    if (itemOpen() < 0) {
        // itemOpen leaves nothing open when it fails.
        txtErrPrintf("%s: itemOpen() failed\n", programName);
        finish(1);
    }
    int status = 0;
    if (itemno >= 0) {
        std::int32_t length;
        if (itemSelectStatus(itemno, &length) != itemOk) fail("itemSelect");
        if (hufDecode(length, verbose, dump) < 0) {
            reportDataEndsEarly(itemno);
            status = 1;
        }
    } else {
        // The walk ends quietly only where the index ends; a record that is
        // there but leads nowhere is a damaged store.
        ItemWalk walk = itemWalkFrom(0, itemToEnd);
        ItemStep step;
        while (itemWalkNext(&walk, &step)) {
            if (step.status != itemOk) fail("itemSelect");
            // A cut item is reported, and the walk goes on with the next.
            if (hufDecode(step.length, verbose, dump) < 0) {
                reportDataEndsEarly(step.n);
                status = 1;
            }
        }
    }
    itemClose();
    finish(status);
}
