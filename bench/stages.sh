#!/bin/sh
# Where quorlin's time goes, split into the stages of the decoding loop.
#
#   bench/stages.sh [-c] QUORLIN STORE [RUNS]
#
# QUORLIN is a quorlin binary built with debug lines and no other change
# (a Release build configured with -DCMAKE_CXX_FLAGS=-g: the code is the
# same as without -g, only the line tables are added). STORE is a store
# folder (for example one written by `quorlin_bench --make-stores`). The
# binary prints the whole store to /dev/null, run in the store's folder.
#
# Without -c: RUNS runs (default 10), each under
#   perf record -e cpu-clock -F 10000 --call-graph dwarf,1024
# (the unwinding finds the binary's frame that called into the C library),
# and the samples of all runs split into stages, as a share of all samples
# and as CPU ms per run (samples / 10000 / RUNS; on a loaded machine the ms
# are noisy, the shares much less so). A sample lands on the instruction
# after one that stalls, so a stall (the climb's loads above all) can be
# counted on the next line, and neighbouring lines of two stages can trade
# samples; callgrind's counts have no such blur.
# STAGES_DETAIL=N in the environment adds the N lines that weigh most in
# each stage (the innermost function and source line), to check the split.
# With -c: one run under valgrind --tool=callgrind, and the instructions
# split into the same stages, per decoded byte (the sum of the items'
# decoded lengths, read from the store). Callgrind sees no kernel.
#
# How a sample or an instruction is given a stage: the loop is inlined into
# one function, so each address is turned into its chain of inlined frames
# (addr2line -i: the innermost function and line, then the functions and
# lines it is inlined into). A sample in a library (memmove, write) is taken
# at the binary's frame that called it (perf's unwinding; callgrind's call
# costs), so a memmove from the match copy counts as copy and window and one
# from the reset as reset. Then, first match wins:
#   kernel               a sample in the kernel (syscalls, page faults)
#   start and other      hufPlanStart and the first writePlan (the
#                        starting tree, once per run; older builds:
#                        prepareStart),
#                        the driver, the loader, anything not listed below
#   rebuild              anything under hufOrderedRebuild
#   reset                anything under hufOrderedInit or decRunStart
#                        (older builds: decWindowReset): the tree, lookup
#                        table and window copies per item
#   lookup-table upkeep  anything under hufLookupExchanged (older builds:
#                        hufPrefixExchanged)
#   item select          anything under itemSelect, itemOpen, itemClose or
#                        itemIndexEnds (the index read, the item located)
# and otherwise the innermost frame that names a stage:
#   position code        readPosition
#   bit input            decBits*, item* (peek, skip, refill, read)
#   rendering            render*, escape and their helpers
#   copy and window      decRunCopy, decRunKeep, decRunMove (older builds:
#                        decPutLiteral, decCopyMatch)
#   output buffer        txt* (textio.cpp): reserve, commit, line end, flush
#   upkeep test          the exchange's line that tests lookupRise
#                        (prefixRise) before calling the upkeep: 3
#                        instructions per exchange, and, as gcc 12 lays
#                        the loop out, the climb's entry (8 register
#                        saves and table addresses per symbol)
#   climb and exchanges  hufOrderedUpdate (its two halves), hufOrderedExchange
#   walk                 readSymbol
#   decodeLoop's own lines by what they call: a line naming hufOrderedUpdate
#   or orderedParent is the climb, decBits the bit input, txtReserve,
#   txtCommit or the room left (limit - out) the output buffer, render the
#   rendering, decPutLiteral, decCopyMatch, decRun* or a byte stored at the
#   run's write position (*at++) the copy; the rest (the
#   symbol's dispatch, the counts of bytes left) is "loop".
set -eu

callgrind=no
if [ "${1:-}" = -c ]; then
    callgrind=yes
    shift
fi
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
    echo "usage: $0 [-c] QUORLIN STORE [RUNS]" >&2
    exit 2
fi
absolute() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
quorlin=$(absolute "$1")
store=$(absolute "$2")
runs=${3:-10}
frequency=10000
[ -f "$quorlin" ] && [ -x "$quorlin" ] || { echo "$0: $quorlin is not an executable file" >&2; exit 2; }
[ -f "$store/itemloc.dat" ] || { echo "$0: no store in $store" >&2; exit 2; }

work=$(mktemp -d /tmp/quorlin-stages-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$store"

if [ $callgrind = yes ]; then
    valgrind --tool=callgrind --dump-instr=yes --dump-line=no --compress-strings=no \
        --compress-pos=no --separate-callers=12 --callgrind-out-file="$work/callgrind.out" "$quorlin" > /dev/null 2> "$work/valgrind.log" ||
        { cat "$work/valgrind.log" >&2; exit 1; }
    mode=callgrind
    input=$work/callgrind.out
else
    # One recording per run: under a shell that starts the runs, perf
    # fails to unwind the C library's frames (memmove) in the children.
    : > "$work/samples.txt"
    i=0
    while [ $i -lt "$runs" ]; do
        perf record -q -e cpu-clock -F $frequency -m 1024 --call-graph dwarf,1024 \
            -o "$work/perf.data" -- "$quorlin" > /dev/null 2> "$work/perf.log" ||
            { cat "$work/perf.log" >&2; exit 1; }
        perf script -i "$work/perf.data" --no-inline -F comm,ip,dso >> "$work/samples.txt" \
            2>> "$work/script.log"
        i=$((i + 1))
    done
    # Lost samples make the split less sure: say so.
    grep -i lost "$work/script.log" >&2 || true
    mode=perf
    input=$work/samples.txt
fi

python3 - "$mode" "$input" "$quorlin" "$store" "$runs" "$frequency" << 'EOF'
import os, re, subprocess, sys
from collections import Counter

mode, inputPath, binary, store, runs, frequency = sys.argv[1:7]
runs, frequency = int(runs), int(frequency)
binary = os.path.realpath(binary)

# The decoded bytes of the store: every item's decoded length, from its header.
def decodedBytes():
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

# A function's bare name: no namespace of its file, parameters or template
# arguments.
def normalName(function):
    return re.sub(r"<.*", "", function.replace("(anonymous namespace)::", "").split("(")[0])

# addr2line -i for every address at once: each address's chain of
# (function, file, line), innermost first.
def chainsOf(addresses):
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
        name = normalName(function)
        path, _, line = place.rpartition(":")
        line = re.sub(r"\D.*", "", line)
        current.append((name, path, int(line) if line else 0))
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

stages = ["climb and exchanges", "walk", "rendering", "copy and window", "output buffer",
          "kernel", "position code", "rebuild", "bit input", "lookup-table upkeep", "upkeep test", "reset",
          "item select", "loop", "start and other"]

def stageOfLoopLine(text):
    if "hufOrderedUpdate" in text or "hufOrderedLeaf" in text or "orderedParent" in text:
        return "climb and exchanges"
    if "decBits" in text:
        return "bit input"
    if "txtReserve" in text or "txtCommit" in text or "limit - out" in text:
        return "output buffer"
    if "render" in text:
        return "rendering"
    if "decPutLiteral" in text or "decCopyMatch" in text or "decRun" in text or "*at++" in text:
        return "copy and window"
    return "loop"

def stageOf(chain):
    names = [f[0] for f in chain]
    if "prepareStart" in names or "hufPlanStart" in names or (
            "writePlan" in names and "hufOrderedRebuild" not in names):
        return "start and other"
    if "hufOrderedRebuild" in names:
        return "rebuild"
    if "hufOrderedInit" in names or "decWindowReset" in names or "decRunStart" in names:
        return "reset"
    if "hufLookupExchanged" in names or "hufPrefixExchanged" in names:
        return "lookup-table upkeep"
    if any(n in ("itemSelect", "itemOpen", "itemOpenAt", "itemClose", "itemIndexEnds")
           for n in names):
        return "item select"
    for name, path, line in chain:
        if name == "readPosition":
            return "position code"
        if name.startswith("decBits") or name.startswith("item") or name == "readData":
            return "bit input"
        if name.startswith("render") or name in ("escape", "headWord", "asciiPrefix"):
            return "rendering"
        if name in ("decPutLiteral", "decCopyMatch", "decRunCopy", "decRunKeep", "decRunMove"):
            return "copy and window"
        if name.startswith("txt") or path.endswith("textio.cpp"):
            return "output buffer"
        if name in ("hufOrderedUpdate", "hufOrderedUpdateLow", "hufOrderedUpdateAbove",
                    "hufOrderedStep", "hufOrderedExchange"):
            text = lineText(path, line)
            if "lookupRise" in text or "prefixRise" in text:
                return "upkeep test"
            return "climb and exchanges"
        if name in ("readSymbol", "hufOrderedWalk"):
            return "walk"
        if name == "decodeLoop":
            return stageOfLoopLine(lineText(path, line))
    return "start and other"

# A cost's key: the frames it was found under, innermost first, each either
# an address in the binary (to be expanded into its inlined frames) or the
# name of a calling function (callgrind's caller contexts). () is a cost
# outside the binary that no frame of it called.
costs = Counter()
kernel = 0
total = 0
if mode == "perf":
    # Blocks of "comm" then frames "address (object)", innermost first;
    # frames after the first are return addresses, taken one byte back.
    def finish(frames):
        global kernel, total
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
    frames, comm = [], ""
    with open(inputPath) as f:
        for raw in f:
            if not raw.strip():
                continue
            if not raw[0].isspace():
                if comm == "quorlin":
                    finish(frames)
                comm, frames = raw.split()[0], []
                continue
            m = re.match(r"\s*([0-9a-f]+) \((.*)\)", raw)
            if m:
                frames.append((int(m.group(1), 16), m.group(2)))
        if comm == "quorlin":
            finish(frames)
else:
    # Exclusive costs of the binary's instructions, under the names of their
    # callers (--separate-callers); a call from the binary into another
    # object (memmove, write) counts its inclusive cost at the calling
    # instruction, except the calls that come back into the binary (the C
    # library's start and exit); the rest is start.
    obj = callObj = callee = None
    context = ()
    afterCall = False
    with open(inputPath) as f:
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

chains = chainsOf({f for key in costs for f in key if isinstance(f, int)})
byStage = Counter()
lines = Counter()  # (stage, innermost function and line) -> cost
for key, cost in costs.items():
    chain = []
    for f in key:
        chain += chains.get(f, []) if isinstance(f, int) else [(f, "", 0)]
    stage = stageOf(chain) if chain else "start and other"
    byStage[stage] += cost
    if not chain:
        where = "(outside the binary)"
    elif not chain[0][1]:
        where = chain[0][0]
    else:
        where = "%s %s:%d" % (chain[0][0], os.path.basename(chain[0][1]), chain[0][2])
    lines[(stage, where)] += cost
byStage["kernel"] += kernel
if mode == "callgrind":
    byStage["start and other"] += total - sum(costs.values())
    lines[("start and other", "(outside the binary)")] += total - sum(costs.values())

print("%s on %s" % (os.path.basename(binary), store))
if mode == "perf":
    print("%d samples of cpu-clock at %d Hz over %d runs (%.1f CPU ms a run)" %
          (total, frequency, runs, 1000.0 * total / frequency / runs))
    print("%-22s %8s %7s %9s" % ("stage", "samples", "share", "ms a run"))
    for stage in stages:
        n = byStage[stage]
        print("%-22s %8d %6.1f%% %9.1f" % (stage, n, 100.0 * n / max(total, 1),
                                            1000.0 * n / frequency / runs))
else:
    decoded = decodedBytes()
    print("%d instructions, %d decoded bytes: %.1f instructions a byte" %
          (total, decoded, total / max(decoded, 1)))
    print("%-22s %14s %7s %9s" % ("stage", "instructions", "share", "per byte"))
    for stage in stages:
        n = byStage[stage]
        print("%-22s %14d %6.1f%% %9.2f" % (stage, n, 100.0 * n / max(total, 1),
                                             n / max(decoded, 1)))
if os.environ.get("STAGES_DETAIL"):
    # The lines that weigh most in each stage, innermost function first.
    count = int(os.environ["STAGES_DETAIL"])
    for stage in stages:
        top = sorted(((c, w) for (s, w), c in lines.items() if s == stage), reverse=True)
        for cost, where in top[:count]:
            print("  %-20s %6.2f%%  %s" % (stage, 100.0 * cost / max(total, 1), where))
EOF
