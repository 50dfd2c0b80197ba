#!/usr/bin/env python3
"""Where quorlin's time goes, split into the stages of the decoding loop.

    bench/stages.py [-c] QUORLIN STORE [RUNS]

QUORLIN is a quorlin binary built with debug lines and no other change (a
Release build configured with -DCMAKE_CXX_FLAGS=-g: the code is the same as
without -g, only the line tables are added). STORE is a store folder (for
example one written by `quorlin_bench --make-stores`). The binary prints the
whole store to /dev/null, run in the store's folder.

Without -c: RUNS runs (default 10), each under
    perf record -e cpu-clock -F 10000 --call-graph dwarf,1024
(the unwinding finds the binary's frame that called into the C library), and
the samples of all runs split into stages, as a share of all samples and as
CPU ms per run (samples / 10000 / RUNS; on a loaded machine the ms are noisy,
the shares much less so). A sample lands on the instruction after one that
stalls, so a stall (the climb's loads above all) can be counted on the next
line, and neighbouring lines of two stages can trade samples; callgrind's
counts have no such blur.
With -c: one run under valgrind --tool=callgrind, and the instructions split
into the same stages, per decoded byte (the sum of the items' decoded
lengths, read from the store). Callgrind sees no kernel.
STAGES_DETAIL=N in the environment adds the N lines that weigh most in each
stage (the innermost function and source line), to check the split.

How a sample or an instruction is given a stage: the loop is inlined into one
function, so each address is turned into its chain of inlined frames
(addr2line -i: the innermost function and line, then the functions and lines
it is inlined into). A sample in a library (memmove, write) is taken at the
binary's frame that called it (perf's unwinding; callgrind's call costs), so
a memmove from the match copy counts as copy and window and one from the
reset as reset. A sample in the kernel is "kernel". Then the tables below
decide, first match wins.

Before anything is run, every function the tables name must be in the
binary's debug information, every other name they look for in a line must be
a name there too, and every other piece of line text must be in the source of
the functions it is looked for in: a renamed or retired one stops the script
with a message instead of letting its costs slip into another stage.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
from collections import Counter

# --- The stage table ---------------------------------------------------------
# Functions are the decoder's, by bare name (no namespace, parameters or
# template arguments); NAME* stands for every function whose name starts with
# NAME, and a name ending in .cpp or .h for every function of that source file.

# The stages, in the order they are printed.
STAGES = [
    "climb and exchanges",
    "walk",
    "rendering",
    "copy and window",
    "output buffer",
    "kernel",
    "position code",
    "rebuild",
    "bit input",
    "lookup-table upkeep",
    "upkeep test",
    "reset",
    "item select",
    "loop",
    "start and other",
]

# First: a cost with one of these functions anywhere in its chain.
UNDER = [
    # The starting tree's plan is written out by writePlan, and so is every
    # rebuild's: under the rebuild it is the rebuild.
    ("rebuild", ["hufOrderedRebuild"]),
    # The starting tree, once per run.
    ("start and other", ["hufPlanStart", "writePlan"]),
    # The tree, lookup table and window copies per item.
    ("reset", ["hufOrderedInit", "decRunStart"]),
    ("lookup-table upkeep", ["hufLookupExchanged"]),
    # The index read, the item located.
    ("item select", ["itemSelectStatus", "itemWalkNext", "itemOpen", "itemOpenAt", "itemClose"]),
]

# Then: the innermost frame of the chain that is one of the functions and,
# where a row gives line text, whose source line holds one of the pieces.
CLIMB = ["hufOrderedUpdateLow", "hufOrderedUpdateAbove", "hufOrderedStep", "hufOrderedExchange"]
LOOP = ["decodeLoop"]
INNERMOST = [
    ("position code", ["readPosition"], None),
    ("bit input", ["decBits*", "item*", "readData"], None),
    ("rendering", ["render*", "escape", "headWord", "asciiPrefix"], None),
    ("copy and window", ["decRunCopy", "decRunKeep", "decRunMove"], None),
    ("output buffer", ["txt*", "textio.cpp"], None),
    # The exchange's line that tests lookupRise before calling the upkeep: 3
    # instructions per exchange, and, as gcc 12 lays the loop out, the
    # climb's entry (8 register saves and table addresses per symbol).
    ("upkeep test", CLIMB, ["lookupRise"]),
    ("climb and exchanges", CLIMB, None),
    ("walk", ["readSymbol", "hufOrderedWalk"], None),
    # The loop's own lines, by what they call or touch; the rest (the
    # symbol's dispatch, the counts of bytes left) is the loop itself.
    ("climb and exchanges", LOOP, ["hufOrderedUpdate"]),
    ("bit input", LOOP, ["decBits"]),
    ("output buffer", LOOP, ["txtReserve", "txtCommit", "limit - out"]),
    ("rendering", LOOP, ["render"]),
    ("copy and window", LOOP, ["decRun", "*at++"]),
    ("loop", LOOP, None),
]

# Anything else: the driver, the loader, a cost outside the binary that no
# frame of it called.
OTHER = "start and other"
KERNEL = "kernel"

FREQUENCY = 10000  # perf's samples a second

# --- The script --------------------------------------------------------------
PROGRAM = "bench/stages.py"


def fail(message, status=1):
    sys.stderr.write("%s: %s\n" % (PROGRAM, message))
    sys.exit(status)


# A function's bare name: no namespace of its file, parameters or template
# arguments.
def normalName(function):
    return re.sub(r"<.*", "", function.replace("(anonymous namespace)::", "").split("(")[0])


def isFile(name):
    return name.endswith(".cpp") or name.endswith(".h")


def nameMatches(pattern, name):
    if pattern.endswith("*"):
        return name.startswith(pattern[:-1])
    return name == pattern


def frameMatches(patterns, name, path):
    for p in patterns:
        if isFile(p):
            if os.path.basename(path) == p:
                return True
        elif nameMatches(p, name):
            return True
    return False


# --- What the binary holds ---------------------------------------------------
# From its debug information (readelf): the names of its functions, each with
# the source files of the compile units that hold it; the names of all its
# other named things (fields, variables, types); its units' source files.
def debugNamesOf(binary):
    out = subprocess.run(["readelf", "--debug-dump=info", "--wide", binary],
                         capture_output=True, text=True)
    if out.returncode != 0:
        fail("readelf cannot read %s: %s" % (binary, out.stderr.strip()))
    functions, others, units = {}, set(), set()
    dieHead = re.compile(r"\s*<\d+><[0-9a-f]+>: Abbrev Number: \d+(?: \((DW_TAG_\w+)\))?")
    attribute = re.compile(r"\s*<[0-9a-f]+>\s+(DW_AT_name|DW_AT_comp_dir)\s*:\s*(.*)$")
    tag, attributes, unit = None, {}, None

    def endOfDie():
        nonlocal unit
        name = attributes.get("DW_AT_name")
        if tag == "DW_TAG_compile_unit":
            unit = os.path.join(attributes.get("DW_AT_comp_dir", ""), name or "")
            units.add(unit)
        elif name is None:
            return
        elif tag == "DW_TAG_subprogram":
            functions.setdefault(normalName(name), set()).add(unit)
        else:
            others.add(normalName(name))

    for line in out.stdout.split("\n"):
        m = dieHead.match(line)
        if m:
            endOfDie()
            tag, attributes = m.group(1), {}
            continue
        m = attribute.match(line)
        if m:
            # "(strp) (offset: 0x38c): name" or "(string) name"
            attributes[m.group(1)] = re.sub(r"^(\([^)]*\):?\s*)+", "", m.group(2)).strip()
    endOfDie()
    if not units:
        fail("%s has no debug information: build it with line tables "
             "(configure with -DCMAKE_CXX_FLAGS=-g)" % binary)
    return functions, others, units


def tableErrors(functions, others, units):
    """What of the stage table the binary no longer has, one message each."""
    errors = []
    rows = [(stage, patterns, None) for stage, patterns in UNDER] + INNERMOST
    for stage, _, _ in rows:
        if stage not in STAGES and "stage %r is not in STAGES" % stage not in errors:
            errors.append("stage %r is not in STAGES" % stage)

    def sourceOf(patterns):
        files = set()
        for p in patterns:
            for f, where in functions.items():
                if nameMatches(p, f):
                    files |= where
        text = ""
        for path in sorted(files):
            try:
                with open(path, errors="replace") as f:
                    text += f.read()
            except OSError:
                pass
        return files, text

    # Each name once, with every stage that uses it.
    uses = {}
    for stage, patterns, pieces in rows:
        for p in patterns:
            uses.setdefault(("function", p, ()), []).append(stage)
        for piece in pieces or []:
            uses.setdefault(("line", piece, tuple(patterns)), []).append(stage)
    for (kind, name, patterns), stages in uses.items():
        where = "stage " + ", ".join(dict.fromkeys(stages))
        if kind == "function" and isFile(name):
            if not any(os.path.basename(u) == name for u in units):
                errors.append("%s (%s): no source file of that name in the binary" % (name, where))
        elif kind == "function":
            if not any(nameMatches(name, f) for f in functions):
                errors.append("%s (%s): no function of that name in the binary" % (name, where))
        elif re.fullmatch(r"[A-Za-z_]\w*", name):
            # A name the line calls or touches: a function, field or variable.
            if not any(n.startswith(name) for n in list(functions) + list(others)):
                errors.append("%r (%s, in lines of %s): no name that starts so in the binary" %
                              (name, where, ", ".join(patterns)))
        else:
            # Other line text: in the source of the functions it is looked for in.
            files, text = sourceOf(patterns)
            if name not in text:
                errors.append("%r (%s): not in the source of %s (%s)" %
                              (name, where, ", ".join(patterns),
                               ", ".join(sorted(files)) or "no source file found"))
    return errors


# --- Recording ---------------------------------------------------------------
def recordPerf(binary, store, runs, work):
    # One recording per run: under a shell that starts the runs, perf
    # fails to unwind the C library's frames (memmove) in the children.
    samples = os.path.join(work, "samples.txt")
    data = os.path.join(work, "perf.data")
    scriptLog = os.path.join(work, "script.log")
    with open(samples, "w") as out, open(scriptLog, "w") as log:
        for _ in range(runs):
            record = subprocess.run(
                ["perf", "record", "-q", "-e", "cpu-clock", "-F", str(FREQUENCY), "-m", "1024",
                 "--call-graph", "dwarf,1024", "-o", data, "--", binary],
                cwd=store, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
            if record.returncode != 0:
                sys.stderr.write(record.stderr)
                fail("perf record failed (status %d)" % record.returncode)
            out.flush()
            subprocess.run(["perf", "script", "-i", data, "--no-inline", "-F", "comm,ip,dso"],
                           stdout=out, stderr=log, check=True)
    # Lost samples make the split less sure: say so.
    with open(scriptLog) as log:
        for line in log:
            if "lost" in line.lower():
                sys.stderr.write(line)
    return samples


def recordCallgrind(binary, store, work):
    output = os.path.join(work, "callgrind.out")
    run = subprocess.run(
        ["valgrind", "--tool=callgrind", "--dump-instr=yes", "--dump-line=no",
         "--compress-strings=no", "--compress-pos=no", "--separate-callers=12",
         "--callgrind-out-file=" + output, binary],
        cwd=store, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if run.returncode != 0:
        sys.stderr.write(run.stderr)
        fail("valgrind failed (status %d)" % run.returncode)
    return output


# --- Reading the costs -------------------------------------------------------
# A cost's key: the frames it was found under, innermost first, each either an
# address in the binary (to be expanded into its inlined frames) or the name
# of a calling function (callgrind's caller contexts). A key of one string is
# a cost outside the binary that no frame of it called.
def perfCosts(path, binary):
    # Blocks of "comm" then frames "address (object)", innermost first;
    # frames after the first are return addresses, taken one byte back.
    costs = Counter()
    kernel = total = 0
    comm = os.path.basename(binary)[:15]  # as the kernel keeps a command's name

    def finish(frames):
        nonlocal kernel, total
        if not frames:
            return
        total += 1
        if frames[0][1].startswith("[kernel"):
            kernel += 1
            return
        key = tuple(address - (1 if depth else 0)
                    for depth, (address, obj) in enumerate(frames)
                    if os.path.realpath(obj) == binary)
        # No frame of the binary: the loader, or an unwinding that failed.
        costs[key or ("(in %s)" % os.path.basename(frames[0][1]),)] += 1

    frames, current = [], ""
    with open(path) as f:
        for raw in f:
            if not raw.strip():
                continue
            if not raw[0].isspace():
                if current == comm:
                    finish(frames)
                current, frames = raw.split()[0], []
                continue
            m = re.match(r"\s*([0-9a-f]+) \((.*)\)", raw)
            if m:
                frames.append((int(m.group(1), 16), m.group(2)))
        if current == comm:
            finish(frames)
    return costs, kernel, total


def callgrindCosts(path, binary):
    # Exclusive costs of the binary's instructions, under the names of their
    # callers (--separate-callers); a call from the binary into another
    # object (memmove, write) counts its inclusive cost at the calling
    # instruction, except the calls that come back into the binary (the C
    # library's start and exit); the rest is start.
    costs = Counter()
    total = 0
    obj = callObj = callee = None
    context = ()
    afterCall = False
    with open(path) as f:
        for raw in f:
            line = raw.rstrip("\n")
            if line.startswith("summary:") or line.startswith("totals:"):
                total = int(line.split()[1])
            elif line.startswith("ob="):
                obj = os.path.realpath(line[3:])
            elif line.startswith("fn="):
                context = tuple(normalName(n) for n in line[3:].split("'")[1:])
            elif line.startswith("cob="):
                callObj = os.path.realpath(line[4:])
            elif line.startswith("cfn="):
                callee = normalName(line[4:].split("'")[0])
            elif line.startswith("calls="):
                afterCall = True
            elif re.match(r"0x[0-9a-f]+ \d+$", line):
                address, cost = line.split()
                if not afterCall:
                    if obj == binary:
                        costs[(int(address, 16),) + context] += int(cost)
                elif (obj == binary and (callObj or obj) != binary and
                      not callee.startswith("__libc_start") and callee != "exit"):
                    costs[(int(address, 16),) + context] += int(cost)
                if afterCall:
                    afterCall, callObj = False, None
    return costs, 0, total


# addr2line -i for every address at once: each address's chain of (function,
# file, line), innermost first.
def chainsOf(binary, addresses):
    addresses = sorted(addresses)
    if not addresses:
        return {}
    marker = "0xffffffffffffffff"
    text = "\n".join("%x\n%s" % (a, marker) for a in addresses) + "\n"
    out = subprocess.run(["addr2line", "-f", "-i", "-C", "-e", binary], input=text,
                         capture_output=True, text=True, check=True).stdout.split("\n")
    chains, current, i = {}, [], 0
    pending = iter(addresses)
    address = next(pending)
    while i + 1 < len(out):
        function, place = out[i], out[i + 1]
        i += 2
        if function == "??" and place.startswith("??:") and current:
            # the marker's own answer closes the address's chain
            chains[address] = current
            current = []
            address = next(pending, None)
            if address is None:
                break
            continue
        path, _, line = place.rpartition(":")
        line = re.sub(r"\D.*", "", line)
        current.append((normalName(function), path, int(line) if line else 0))
    return chains


sourceLines = {}


def lineText(path, line):
    if path not in sourceLines:
        try:
            with open(path, errors="replace") as f:
                sourceLines[path] = f.read().split("\n")
        except OSError:
            sourceLines[path] = []
    lines = sourceLines[path]
    return lines[line - 1] if 0 < line <= len(lines) else ""


def stageOf(chain):
    names = [name for name, _, _ in chain]
    for stage, patterns in UNDER:
        if any(nameMatches(p, n) for p in patterns for n in names):
            return stage
    for name, path, line in chain:
        for stage, patterns, pieces in INNERMOST:
            if not frameMatches(patterns, name, path):
                continue
            if pieces is None or any(p in lineText(path, line) for p in pieces):
                return stage
    return OTHER


# The decoded bytes of the store: every item's decoded length, from its header.
def decodedBytes(store):
    total = 0
    with open(os.path.join(store, "itemloc.dat"), "rb") as index, \
            open(os.path.join(store, "item.dat"), "rb") as items:
        while True:
            record = index.read(16)
            if len(record) < 16:
                return total
            items.seek(int.from_bytes(record[0:4], "big") + 2)
            length = int.from_bytes(items.read(4), "little", signed=True)
            if length < 0:
                return total
            total += length


def report(mode, binary, store, runs, costs, kernel, total):
    chains = chainsOf(binary, {f for key in costs for f in key if isinstance(f, int)})
    byStage = Counter()
    lines = Counter()  # (stage, innermost function and line) -> cost
    for key, cost in costs.items():
        chain = []
        for f in key:
            chain += chains.get(f, []) if isinstance(f, int) else [(f, "", 0)]
        stage = stageOf(chain) if chain else OTHER
        byStage[stage] += cost
        if not chain:
            where = "(outside the binary)"
        elif not chain[0][1]:
            where = chain[0][0]
        else:
            where = "%s %s:%d" % (chain[0][0], os.path.basename(chain[0][1]), chain[0][2])
        lines[(stage, where)] += cost
    byStage[KERNEL] += kernel
    if mode == "callgrind":
        byStage[OTHER] += total - sum(costs.values())
        lines[(OTHER, "(outside the binary)")] += total - sum(costs.values())

    print("%s on %s" % (os.path.basename(binary), store))
    if mode == "perf":
        print("%d samples of cpu-clock at %d Hz over %d runs (%.1f CPU ms a run)" %
              (total, FREQUENCY, runs, 1000.0 * total / FREQUENCY / runs))
        print("%-22s %8s %7s %9s" % ("stage", "samples", "share", "ms a run"))
        for stage in STAGES:
            n = byStage[stage]
            print("%-22s %8d %6.1f%% %9.1f" % (stage, n, 100.0 * n / max(total, 1),
                                                1000.0 * n / FREQUENCY / runs))
    else:
        decoded = decodedBytes(store)
        print("%d instructions, %d decoded bytes: %.1f instructions a byte" %
              (total, decoded, total / max(decoded, 1)))
        print("%-22s %14s %7s %9s" % ("stage", "instructions", "share", "per byte"))
        for stage in STAGES:
            n = byStage[stage]
            print("%-22s %14d %6.1f%% %9.2f" % (stage, n, 100.0 * n / max(total, 1),
                                                 n / max(decoded, 1)))
    detail = os.environ.get("STAGES_DETAIL")
    if detail:
        # The lines that weigh most in each stage, innermost function first.
        for stage in STAGES:
            top = sorted(((c, w) for (s, w), c in lines.items() if s == stage), reverse=True)
            for cost, where in top[:int(detail)]:
                print("  %-20s %6.2f%%  %s" % (stage, 100.0 * cost / max(total, 1), where))


def main():
    parser = argparse.ArgumentParser(
        prog=PROGRAM, description="Split one quorlin build's time on one store into the "
        "decoding loop's stages (perf samples, or with -c callgrind's instructions).")
    parser.add_argument("-c", dest="callgrind", action="store_true",
                        help="count instructions under callgrind (one run) instead of "
                        "sampling with perf")
    parser.add_argument("quorlin", metavar="QUORLIN", help="a quorlin built with -g")
    parser.add_argument("store", metavar="STORE", help="a store folder")
    parser.add_argument("runs", metavar="RUNS", nargs="?", type=int, default=10,
                        help="perf runs (default 10)")
    args = parser.parse_args()

    binary = os.path.realpath(args.quorlin)
    store = os.path.abspath(args.store)
    if not (os.path.isfile(binary) and os.access(binary, os.X_OK)):
        fail("%s is not an executable file" % args.quorlin, 2)
    if not os.path.isfile(os.path.join(store, "itemloc.dat")):
        fail("no store in %s" % store, 2)
    if args.runs < 1:
        fail("RUNS must be 1 or more", 2)
    tools = ["readelf", "addr2line", "valgrind" if args.callgrind else "perf"]
    for tool in tools:
        if shutil.which(tool) is None:
            fail("%s not found (apt-get install %s)" %
                 (tool, {"perf": "linux-perf", "valgrind": "valgrind"}.get(tool, "binutils")))

    errors = tableErrors(*debugNamesOf(binary))
    if errors:
        fail("the stage table names what %s does not have:\n  %s\n"
             "Bring the table at the top of %s up to date with the decoder." %
             (binary, "\n  ".join(errors), PROGRAM))

    with tempfile.TemporaryDirectory(prefix="quorlin-stages-") as work:
        if args.callgrind:
            mode = "callgrind"
            costs, kernel, total = callgrindCosts(recordCallgrind(binary, store, work), binary)
        else:
            mode = "perf"
            costs, kernel, total = perfCosts(recordPerf(binary, store, args.runs, work), binary)
        report(mode, binary, store, args.runs, costs, kernel, total)


if __name__ == "__main__":
    main()
