#!/usr/bin/env bash
# A system-wide install used by an ordinary user: `cmake --install` into a prefix the user
# cannot write (owned by root, the program run as the user "nobody"; or, run as an ordinary
# user already, a prefix made read-only), with a config.ini beside the installed executable
# that points at the TDS stand-in with every hour enabled. The program copies that config.ini
# into the user's ~/.config/vestrel at its first start, makes the automatic backup and logs it
# in ~/.local/state/vestrel/Command.log; nothing is written beside the executable.
# Usage: install.sh <cmake> <build folder> <tds_standin>
set -u
CMAKE=$1
BUILD=$2
STANDIN_EXE=$3
here=$(dirname "$0")
# shellcheck source=../support/e2e.sh
. "$here/../support/e2e.sh"

scratch install
chmod 755 "$WORK"
APP=
watched=(APP standin_pid)
USER_HOME=$WORK/home
LOG=$USER_HOME/.local/state/vestrel/Command.log
fail_logs=("$LOG" "$WORK/app.log")

PREFIX=$WORK/prefix
"$CMAKE" --install "$BUILD" --prefix "$PREFIX" >"$WORK/install.log" 2>&1 || fail "cmake --install failed: $(cat "$WORK/install.log")"
EXE=$(find "$PREFIX" -type f -name vestrel -perm -u+x | head -1)
[ -n "$EXE" ] || fail "no installed executable under the prefix"
BIN=$(dirname "$EXE")

standin_start --password install-secret

# The server writes the backup; the program, as the user, puts it in place.
mkdir -m 777 "$WORK/backups"
write_config "$BIN/config.ini" "127.0.0.1,$port" Install install-secret "$WORK/backups/Install.bak" \
  "$(hour_flags $(seq 0 23))"
chmod 644 "$BIN/config.ini"

mkdir -p "$USER_HOME"
if [ "$(id -u)" -eq 0 ]; then
  chown 65534:65534 "$USER_HOME"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
else
  chmod -R a-w "$PREFIX"
  as_user=()
fi
# The user's environment: a home and nothing else of ours (the XDG folders take their defaults).
"${as_user[@]}" env -i PATH=/usr/bin:/bin HOME="$USER_HOME" LC_ALL=C.UTF-8 \
  QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false' "$EXE" >"$WORK/app.log" 2>&1 &
APP=$!

wait_for "the backup's end block in the user's log" 20000 log_has "Fine Backup in data "
log_has "Errore" && fail "the backup logged an error"
log_has "Avvio Programma in data " || fail "no start banner in the user's log"
grep -q '^VESTREL-STANDIN-BACKUP$' "$WORK/backups/Install.bak" || fail "the backup file is not the stand-in's backup"
mine=$USER_HOME/.config/vestrel/config.ini
[ -f "$mine" ] || fail "config.ini was not copied into the user's folder"
cmp -s <(tr -d '\r' <"$mine") <(tr -d '\r' <"$BIN/config.ini") || fail "the user's config.ini is not the one beside the executable"
[ "$(stat -c %a "$mine")" = 600 ] || fail "the user's config.ini is not owner-only: $(stat -c %a "$mine")"
[ -e "$BIN/Command.log" ] && fail "a Command.log was written beside the executable"
grep -q "config.ini in $USER_HOME/.config/vestrel, Command.log in $USER_HOME/.local/state/vestrel" "$WORK/app.log" ||
  fail "stderr does not say where the files are"
[ "$(grep -c 'config.ini in ' "$WORK/app.log")" -eq 1 ] || fail "stderr says where the files are more than once"

# Another user, and nothing beside the executable to start from: the first start leaves an
# empty, owner-only config.ini in the new folder, so the first "&Salva" has a file to write.
kill "$APP" 2>/dev/null; wait "$APP" 2>/dev/null
chmod u+w "$BIN" && rm -f "$BIN/config.ini" && chmod a-w "$BIN"
OTHER_HOME=$WORK/other
mkdir -p "$OTHER_HOME"
[ "$(id -u)" -eq 0 ] && chown 65534:65534 "$OTHER_HOME"
"${as_user[@]}" env -i PATH=/usr/bin:/bin HOME="$OTHER_HOME" LC_ALL=C.UTF-8 \
  QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false' "$EXE" >"$WORK/app2.log" 2>&1 &
APP=$!
fresh=$OTHER_HOME/.config/vestrel/config.ini
wait_for "a config.ini in the new user's folder" 20000 test -f "$fresh"
[ -s "$fresh" ] && fail "the first start wrote settings into the new config.ini"
[ "$(stat -c %a "$fresh")" = 600 ] || fail "the new config.ini is not owner-only: $(stat -c %a "$fresh")"
echo PASS
