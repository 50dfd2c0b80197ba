#!/usr/bin/env bash
# Checks the Debian package that cpack wrote into BUILD without installing
# it: its entries against packaging/contents.txt, its control fields, stripped
# programs with no build path inside, the extracted quorlin on the extracted
# sample store, the manual pages, and lintian (which fails it on an error).
#   packaging/check-deb.sh BUILD
set -euo pipefail
build=$(realpath "${1:?usage: $0 BUILD}")
root=$(realpath "$(dirname "$0")/..")
deb=$(ls "$build"/quorlin_*_"$(dpkg --print-architecture)".deb)
echo "checking $deb"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

dpkg-deb --info "$deb"
dpkg-deb --contents "$deb" | awk '{print $1, $2, $6}' > "$work/contents"
grep -v '^#' "$root/packaging/contents.txt" | diff -u - "$work/contents"

version=$(sed -n 's/^project(quorlin VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ "$(dpkg-deb --field "$deb" Version)" = "$version" ]
[ "$(basename "$deb")" = "quorlin_${version}_$(dpkg --print-architecture).deb" ]
for field in Section:utils Priority:optional; do
  [ "$(dpkg-deb --field "$deb" "${field%%:*}")" = "${field#*:}" ]
done
dpkg-deb --field "$deb" Depends | grep -q 'libc6'
dpkg-deb --field "$deb" Maintainer | grep -q '<.*@.*>'

dpkg-deb -x "$deb" "$work/x"
for program in quorlin quorlin-pack quorlin-unpack; do
  file "$work/x/usr/bin/$program" | grep -q ', stripped'
done
if grep -rlaF "$root" "$work/x" || grep -rlaF "$build" "$work/x"; then
  echo "the package holds a build path"
  exit 1
fi
for page in "$work"/x/usr/share/man/man1/*.1.gz; do
  zcat "$page" | grep -q "quorlin $version"
  warnings=$(zcat "$page" | groff -man -ww -z 2>&1)
  [ -z "$warnings" ] || { echo "$page: $warnings"; exit 1; }
done
zcat "$work/x/usr/share/doc/quorlin/changelog.gz" | head -1 | grep -q "($version)"
for program in quorlin-pack quorlin-unpack; do
  [ "$("$work/x/usr/bin/$program" --version)" = "$program $version" ]
done

# The sample's text is its source, one entry per line, with CR LF line ends.
examples="$work/x/usr/share/doc/quorlin/examples"
(cd "$examples" && "$work/x/usr/bin/quorlin") | cmp - <(sed 's/$/\r/' "$examples/entries.sjis.txt")
"$work/x/usr/bin/quorlin-unpack" -l -C "$examples" | cmp - "$examples/entries.sjis.txt"

# lintian: an error fails the check (so does lintian failing to run);
# warnings and notes are shown.
status=0
lintian --fail-on error --pedantic --display-info "$deb" || status=$?
[ "$status" -eq 0 ] || { echo "lintian failed (status $status)"; exit 1; }
echo "package ok"
