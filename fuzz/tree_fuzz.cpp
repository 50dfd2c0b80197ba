// Fuzz target of the code tree alone. The input is a list of symbols with
// repeat counts, two bytes each: byte a and byte b give the symbol
// ((b & 1) << 8 | a) % 314, counted 1 + (b >> 1)^2 / 4 times (1 to 4033),
// so that a few hundred bytes pass several rebuilds (the first comes after
// about 32,454 symbols) while small counts stay easy to write. A last odd
// byte is left out. Every symbol is counted in the ordered tree, in
// nodeTable and, where said below, in the literal model, and any difference
// or broken rule aborts.
//
// What is compared when: the model scans every node at every level it
// counts, tens of times the product's cost, so it cannot follow every
// symbol of a long input at a usable pace.
// - After every symbol: the symbol's leaf holds the same position and the
//   same code in both forms of the product.
// - After every pair (a symbol and its repeats): both forms whole, by
//   shape, and the rules of both (huf/check.h; of the partner table the
//   entries a count can write).
// - At every rebuild: the model takes nodeTable's tree just before the
//   count that rebuilds, and rebuilds and counts alongside; both forms and
//   the model are compared by shape, and both forms' rules checked whole.
//   The model then follows the next modelAfterRebuild symbols.
// - From the starting tree the model follows the first modelLead symbols of
//   the input.
// - After every symbol the model follows: the model and nodeTable node for
//   node (a shape costs a few allocations; this costs none), and at the end
//   of the pair by shape with the ordered tree.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "huf/check.h"
#include "huf/ordered.h"
#include "huf/traced.h"
#include "model.h"

namespace {

constexpr int modelLead = 128;
constexpr int modelAfterRebuild = 32;
// Bounds one input's time: about ten rebuilds.
constexpr long symbolMax = 200000;

long inputs = 0;
long rebuilds = 0;

void report() {
    std::fprintf(stderr, "tree_fuzz: %ld rebuilds reached in %ld inputs\n", rebuilds, inputs);
}

[[noreturn]] void differ(long symbolNo, int symbol, const char *what, const char *detail) {
    std::fprintf(stderr, "tree_fuzz: symbol %ld (%d): %s: %s\n", symbolNo, symbol, what, detail);
    std::abort();
}

MdlTree startModel;
MdlTree model;
MdlTree traced; // nodeTable, copied for its shape

// The symbol's leaf: the same position in both forms, reached by the same
// code.
void compareLeaf(long symbolNo, int symbol, int leaf) {
    const std::intptr_t pos = hufOrderedLeaf(symbol);
    if (nodeTable[leaf].order != pos) differ(symbolNo, symbol, "leaf position", "forms differ");
    const HufCode code = hufOrderedCode(pos);
    std::uint32_t bits = 0;
    int length = 0;
    for (int n = leaf; nodeTable[n].parent != -1 && length <= hufDepthMax;
         n = nodeTable[n].parent, length++) {
        bits |= static_cast<std::uint32_t>(nodeTable[nodeTable[n].parent].child1 == n) << length;
    }
    if (code.bits != bits || code.length != length)
        differ(symbolNo, symbol, "leaf code", "forms differ");
}

// The model and nodeTable node for node, exchange marks included: no
// shape is built, so this is cheap enough for every symbol the model
// follows.
void compareModel(long symbolNo, int symbol) {
    mdlCopyNodeTable(traced);
    const std::string diff = mdlTreeDiff(model, traced);
    if (!diff.empty()) differ(symbolNo, symbol, "model and nodeTable", diff.c_str());
}

// Both forms whole, by shape, and the model's with them when it follows.
void compareShapes(long symbolNo, int symbol, bool withModel) {
    mdlCopyNodeTable(traced);
    const MdlShape tracedShape = mdlShapeOf(traced);
    const std::string forms = mdlShapeDiff(tracedShape, mdlShapeOfFast());
    if (!forms.empty()) differ(symbolNo, symbol, "nodeTable and the ordered tree", forms.c_str());
    if (!withModel) return;
    const std::string withTraced = mdlShapeDiff(mdlShapeOf(model), tracedShape);
    if (!withTraced.empty()) differ(symbolNo, symbol, "model and nodeTable", withTraced.c_str());
}

void checkRules(long symbolNo, int symbol, bool whole) {
    if (const char *f = hufTracedFault()) differ(symbolNo, symbol, "nodeTable", f);
    if (const char *f = whole ? hufOrderedFault() : hufOrderedUpdateFault())
        differ(symbolNo, symbol, "the ordered tree", f);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (inputs++ == 0) {
        mdlInitTree(startModel);
        std::atexit(report);
    }
    hufInitTree();
    hufOrderedInit();
    std::memcpy(&model, &startModel, sizeof model);
    long symbolNo = 0;
    // The model follows symbols up to this one (exclusive).
    long modelUntil = modelLead;
    for (std::size_t i = 0; i + 1 < size && symbolNo < symbolMax; i += 2) {
        const int symbol = ((data[i + 1] & 1) << 8 | data[i]) % hufSymbolCount;
        const int half = data[i + 1] >> 1;
        const int repeats = 1 + half * half / 4;
        int leaf = hufLeafOf(symbol);
        for (int r = 0; r < repeats && symbolNo < symbolMax; r++, symbolNo++) {
            const bool rebuild = nodeTable[0].weight == hufWeightFull;
            if (rebuild) {
                rebuilds++;
                mdlCopyNodeTable(model);
                modelUntil = symbolNo + 1 + modelAfterRebuild;
            }
            const bool withModel = symbolNo < modelUntil;
            if (withModel) mdlUpdate(model, mdlLeafOf(model, symbol));
            hufUpdate(leaf, 0);
            hufOrderedUpdate(hufOrderedLeaf(symbol));
            if (rebuild) {
                leaf = hufLeafOf(symbol); // a rebuild lays the leaves out anew
                checkRules(symbolNo, symbol, true);
            }
            compareLeaf(symbolNo, symbol, leaf);
            if (rebuild) {
                compareShapes(symbolNo, symbol, true);
            } else if (withModel) {
                compareModel(symbolNo, symbol);
            }
        }
        compareShapes(symbolNo, symbol, symbolNo <= modelUntil);
        checkRules(symbolNo, symbol, false);
    }
    return 0;
}
