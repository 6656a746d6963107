#!/usr/bin/env bash
# Where the files live on Windows, under Wine: a program in a folder it may write keeps them
# beside itself; in C:\Program Files\Vestrel made unwritable (as Program Files is for a user
# without administrator rights; here nobody, root included, may create files in it) it keeps
# both in %APPDATA%\Vestrel, made at its first start with an empty config.ini.
#   program_folder.sh <where_files.exe>
set -u
exe=$1
here=$(dirname "$0")
work=$(mktemp -d -t vestrel-folder.XXXXXX)
export WINEPREFIX=$work/prefix
folder=$WINEPREFIX/drive_c/Program\ Files/Vestrel
cleanup() {
  chattr -i "$folder" 2>/dev/null
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
run() { "$here/../support/wine-run.sh" "$@" | tr -d '\r'; }

run cmd /c exit >/dev/null
mkdir -p "$folder"
cp "$exe" "$folder/"
name=$(basename "$exe")
appdata=$(run cmd /c echo %APPDATA%)

# Writable: beside the executable.
out=$(run "C:\\Program Files\\Vestrel\\$name")
echo "$out"
[ "$out" = $'C:\\Program Files\\Vestrel\nC:\\Program Files\\Vestrel' ] ||
  fail "a writable program folder is not where the files live"
[ -z "$(find "$folder" -name '~vestrel-*')" ] || fail "the probe file was left behind"

# Not writable: the user's application data.
if ! chattr +i "$folder" 2>/dev/null; then
  chmod a-w "$folder"
fi
touch "$folder/probe" 2>/dev/null && fail "cannot make the program folder unwritable here"
out=$(run "C:\\Program Files\\Vestrel\\$name")
echo "$out"
[ "$out" = "$appdata\\Vestrel"$'\n'"$appdata\\Vestrel" ] ||
  fail "with Program Files unwritable the files are not in %APPDATA%\\Vestrel"
unix=$(winepath -u "$appdata\\Vestrel\\config.ini" 2>/dev/null)
[ -f "$unix" ] && [ ! -s "$unix" ] || fail "no empty config.ini made at the first start"
echo PASS
