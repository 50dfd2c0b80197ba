#!/usr/bin/env bash
# Repacks the sample store: examples/sample/entries.utf8.txt (one entry per
# line, UTF-8) becomes entries.sjis.txt (Shift-JIS) and the store beside it.
# Usage: tools/make-sample.sh PATH-TO-quorlin-pack
set -euo pipefail
pack=$(realpath "${1:?usage: $0 PATH-TO-quorlin-pack}")
cd "$(dirname "$0")/../examples/sample"
python3 -c 'import sys; sys.stdout.buffer.write(open("entries.utf8.txt", encoding="utf-8").read().encode("cp932"))' > entries.sjis.txt
"$pack" -f -l entries.sjis.txt
