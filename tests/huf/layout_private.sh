#!/bin/sh
# Fails when a source outside the tree's module uses the ordered tree's
# layout (tables, raw exchange and step, lookup upkeep) instead of huf/ordered.h.
# Usage: layout_private.sh SRC
set -u
cd "$1" || exit 2
found=$(grep -rnwE 'hufOrderedTree|HufOrdered|hufOrderedExchange|hufOrderedStep|hufLookupExchanged|hufLeafMark|hufRootOrder' \
    --include='*.cpp' --include='*.h' . | grep -vE '^\./(huf|include/huf)/')
if [ -n "$found" ]; then
    printf '%s\n' "$found"
    echo "the ordered tree's layout is used outside src/huf (above): go through huf/ordered.h"
    exit 1
fi
