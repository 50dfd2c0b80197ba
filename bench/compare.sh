#!/bin/sh
# Wall-time comparison of two quorlin binaries on the benchmark's stores.
#
#   bench/compare.sh OLD NEW STORES [PAIRS]
#
# STORES is a folder written by `quorlin_bench --make-stores STORES BYTES`
# (its entries, large and single subfolders). On each store the two binaries
# decode the whole store into a file PAIRS times each (default 9), in
# alternating pairs: old then new, then new then old, so that a machine whose
# load drifts slows both alike. Each pair gives one ratio, old time / new time
# (above 1: NEW is faster); the line per store shows their median and their
# spread (min-max), the median times, and each binary's peak RSS. With
# hyperfine, the median ratio of the CPU times (user + system) follows: on a
# loaded machine it drifts less than the wall time. The two outputs are
# compared with cmp after every pair, and any difference stops the script.
# Runs are timed by hyperfine when it is installed, else by the shell around
# each run.
set -eu

if [ $# -lt 3 ] || [ $# -gt 4 ]; then
    echo "usage: $0 OLD NEW STORES [PAIRS]" >&2
    exit 2
fi
absolute() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
old=$(absolute "$1")
new=$(absolute "$2")
stores=$(absolute "$3")
pairs=${4:-9}
# A folder passes -x too (it can be entered), so the type is checked first.
for b in "$old" "$new"; do
    [ -f "$b" ] && [ -x "$b" ] || { echo "$0: $b is not an executable file" >&2; exit 2; }
done

work=$(mktemp -d /tmp/quorlin-compare-XXXXXX)
trap 'rm -rf "$work"' EXIT
have_hyperfine=no
command -v hyperfine > /dev/null 2>&1 && have_hyperfine=yes

# Wall and CPU seconds of one run of binary $1, output to file $2 (CPU 0
# without hyperfine).
time_one() {
    if [ $have_hyperfine = yes ]; then
        hyperfine --runs 1 --style none --export-json "$work/run.json" \
            "'$1' > '$2'" > /dev/null 2>&1
        python3 -c 'import json,sys; r = json.load(open(sys.argv[1]))["results"][0]
print(r["mean"], r["user"] + r["system"])' "$work/run.json"
    else
        start=$(date +%s%N)
        "$1" > "$2"
        end=$(date +%s%N)
        echo "$start $end" | awk '{ printf "%.6f 0\n", ($2 - $1) / 1e9 }'
    fi
}

# median and min-max of the numbers on standard input, one a line.
summary() {
    sort -g | awk '{ v[NR] = $1 } END {
        m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "%.3f %.3f %.3f\n", m, v[1], v[NR] }'
}

echo "timing by $([ $have_hyperfine = yes ] && echo hyperfine || echo date), $pairs alternating pairs per store, load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-8s %8s %15s %9s %9s %9s %9s %9s\n' store ratio "spread" "old s" "new s" "old KB" "new KB" \
    "CPU ratio"
for shape in entries large single; do
    dir=$stores/$shape
    [ -f "$dir/itemloc.dat" ] || { echo "$0: no store in $dir" >&2; exit 2; }
    cd "$dir"
    : > "$work/ratios"
    : > "$work/cpuRatios"
    : > "$work/old"
    : > "$work/new"
    i=0
    while [ $i -lt "$pairs" ]; do
        if [ $((i % 2)) -eq 0 ]; then
            a=$(time_one "$old" "$work/old.out")
            b=$(time_one "$new" "$work/new.out")
        else
            b=$(time_one "$new" "$work/new.out")
            a=$(time_one "$old" "$work/old.out")
        fi
        cmp "$work/old.out" "$work/new.out" || { echo "$0: outputs differ on $shape" >&2; exit 1; }
        echo "$a" | cut -d' ' -f1 >> "$work/old"
        echo "$b" | cut -d' ' -f1 >> "$work/new"
        echo "$a $b" | awk '{ printf "%.6f\n", $1 / $3 }' >> "$work/ratios"
        echo "$a $b" | awk '{ printf "%.6f\n", ($4 > 0 ? $2 / $4 : 0) }' >> "$work/cpuRatios"
        i=$((i + 1))
    done
    rssOld=$(/usr/bin/time -f %M "$old" 2>&1 > /dev/null | tail -n 1)
    rssNew=$(/usr/bin/time -f %M "$new" 2>&1 > /dev/null | tail -n 1)
    set -- $(summary < "$work/ratios")
    ratio=$1 spread="$2-$3"
    set -- $(summary < "$work/old")
    oldMedian=$1
    set -- $(summary < "$work/cpuRatios")
    cpuRatio=$1
    [ $have_hyperfine = yes ] || cpuRatio=-
    set -- $(summary < "$work/new")
    printf '%-8s %8s %15s %9s %9s %9s %9s %9s\n' "$shape" "${ratio}x" "$spread" "$oldMedian" "$1" \
        "$rssOld" "$rssNew" "$cpuRatio"
done
echo "load after $(cut -d' ' -f1-3 /proc/loadavg)"
