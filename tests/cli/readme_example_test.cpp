// The README's packing example, run as written: the first sh block under its
// heading goes to bash -euo pipefail in a fresh folder where build leads to
// this build tree, and what it prints, the stores it makes in its scratch
// folder and the folder it started in are checked, so the example cannot
// fall behind the tool nor litter the checkout.
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "pack_helpers.h"

namespace {

using fx::Bytes;

// The first ```sh block in the section under heading, without its fences;
// "" when the section has none (or it is never closed). The section ends at
// the next heading of level 1 or 2.
std::string shBlockUnder(const std::string &text, const std::string &heading) {
    std::istringstream in(text);
    std::string line;
    std::string block;
    bool inSection = false;
    bool inBlock = false;
    while (std::getline(in, line)) {
        if (inBlock) {
            if (line == "```") return block;
            block += line + "\n";
        } else if (!inSection) {
            inSection = line == heading;
        } else if (line.rfind("# ", 0) == 0 || line.rfind("## ", 0) == 0) {
            break;
        } else if (line == "```sh") {
            inBlock = true;
        }
    }
    return "";
}

TEST(ReadmeExample, PackingRunsAsWritten) {
    const std::string block =
        shBlockUnder(fx::textOf(fx::readFile(QUORLIN_README)), "## Packing a store of your own");
    ASSERT_NE(block, "") << "no ```sh block under \"## Packing a store of your own\" in "
                         << QUORLIN_README;
    // d stands for the checkout: build leads to this build tree, and the
    // example's scratch folder is made in d/tmp, where the test can find it.
    pk::TempDir d;
    ASSERT_EQ(symlink(QUORLIN_BUILD_DIR, (d.path + "/build").c_str()), 0);
    ASSERT_EQ(mkdir((d.path + "/tmp").c_str(), 0755), 0);
    const auto r =
        fx::run(d.path, {"TMPDIR=" + d.path + "/tmp", "bash", "-euo", "pipefail", "-c", block},
                false, "/usr/bin/env");
    ASSERT_EQ(r.status, 0) << block << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, fx::crlf("Chapter one\napple\nbanana\ncherry\n"));
    // Nothing lands in the checkout; the stores are in the scratch folder.
    EXPECT_EQ(pk::filesIn(d.path), (std::vector<std::string>{"build", "tmp"}));
    const std::vector<std::string> scratch = pk::filesIn(d.path + "/tmp");
    ASSERT_EQ(scratch.size(), 1u);
    const std::string stores = d.path + "/tmp/" + scratch[0] + "/stores";
    EXPECT_EQ(pk::unpack(stores + "/book"),
              (std::vector<Bytes>{fx::bytesOf("An introduction"), fx::bytesOf("Chapter one"),
                                  fx::bytesOf("Chapter two")}));
    EXPECT_EQ(
        pk::unpack(stores + "/fruit"),
        (std::vector<Bytes>{fx::bytesOf("apple"), fx::bytesOf("banana"), fx::bytesOf("cherry")}));
}

} // namespace
