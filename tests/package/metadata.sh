#!/usr/bin/env bash
# The desktop entries and the AppStream metadata pass their validators, and every place that
# states the release agrees with the project's version: the metadata's newest release, the
# first entry of CHANGELOG.md, the Debian changelog and the manual page.
# Usage: metadata.sh <source folder> <version>
set -u
SRC=$1
VERSION=$2
fail() {
  echo "FAIL: $*"
  exit 1
}
for tool in appstreamcli desktop-file-validate dpkg-parsechangelog; do
  command -v "$tool" >/dev/null 2>&1 || fail "$tool is not installed (scripts/install-deps)"
done

for entry in "$SRC/share/io.github.vestrel.vestrel.desktop" "$SRC/share/autostart/vestrel.desktop"; do
  out=$(desktop-file-validate "$entry" 2>&1)
  status=$?
  echo "desktop-file-validate $(basename "$entry"): status $status${out:+, $out}"
  [ "$status" -eq 0 ] && [ -z "$out" ] || fail "desktop-file-validate $entry"
done
grep -q '^X-GNOME-Autostart-Delay=[1-9][0-9]*$' "$SRC/share/autostart/vestrel.desktop" ||
  fail "the autostart entry has no start delay"
# A desktop starts an autostart entry only while its TryExec= program exists: the shipped
# entry names the installed program, the one `make autostart` writes names its program's path.
grep -qx 'TryExec=vestrel' "$SRC/share/autostart/vestrel.desktop" ||
  fail "the autostart entry has no TryExec=vestrel"
made=$(mktemp -d)
trap 'rm -rf "$made"' EXIT
program="$made/a folder/vestrel"
"$SRC/scripts/autostart-entry" "$program" >"$made/vestrel.desktop" || fail "autostart-entry failed"
out=$(desktop-file-validate "$made/vestrel.desktop" 2>&1) || fail "the made autostart entry: $out"
[ -z "$out" ] || fail "the made autostart entry: $out"
grep -qxF "TryExec=$program" "$made/vestrel.desktop" || fail "the made entry's TryExec is not $program"
grep -qxF "Exec=\"$program\"" "$made/vestrel.desktop" || fail "the made entry's Exec is not \"$program\""
"$SRC/scripts/autostart-entry" "$made/a\$b/vestrel" >/dev/null 2>&1 && fail "autostart-entry took a path with \$"

metainfo=$SRC/share/io.github.vestrel.vestrel.metainfo.xml
appstreamcli validate --no-net --pedantic "$metainfo" || fail "appstreamcli validate"

release=$(grep -o '<release version="[^"]*"' "$metainfo" | head -1 | cut -d'"' -f2)
[ "$release" = "$VERSION" ] || fail "the metainfo's newest release is $release, not $VERSION"
first=$(grep -m1 '^## ' "$SRC/CHANGELOG.md" | awk '{print $2}')
[ "$first" = "$VERSION" ] || fail "CHANGELOG.md starts with $first, not $VERSION"
debian=$(dpkg-parsechangelog -l "$SRC/share/debian/changelog" -S Version)
[ "$debian" = "$VERSION-1" ] || fail "the Debian changelog is at $debian, not $VERSION-1"
grep -q "^\.TH VESTREL 1 .* \"Vestrel $VERSION\"" "$SRC/share/vestrel.1" ||
  fail "the manual page is not of $VERSION"
echo PASS
