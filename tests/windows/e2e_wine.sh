#!/usr/bin/env bash
# The Windows edition end to end under Wine: setup.exe /S installs into C:\Program Files\Vestrel,
# which the program may not write (as for a user without administrator rights), so its files
# go to %APPDATA%\Vestrel; on Xvfb with the trayer notification area its window maps and its
# icon docks; the automatic backup of the current hour runs through Wine's odbc32 (handing
# the calls to the host's unixODBC and FreeTDS) against the TDS stand-in and ends with
# "Fine Backup"; the uninstaller then removes the program and leaves config.ini, Command.log
# and the backup.
# Usage: e2e_wine.sh <setup.exe> <tds_standin>
set -u
SETUP=$1
STANDIN_EXE=$2
here=$(dirname "$0")
# shellcheck source=../../scripts/virtual-display.sh
. "$here/../../scripts/virtual-display.sh"
# shellcheck source=../support/e2e.sh
. "$here/../support/e2e.sh"
need_tools wine wineserver winepath Xvfb xdpyinfo xwininfo xdotool trayer

scratch wine-e2e
export WINEPREFIX=$WORK/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
APP=
watched=(APP standin_pid)
stop_wine() { wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; }
trap 'stop_wine; chattr -i "$INSTALL" 2>/dev/null; cleanup' EXIT
INSTALL=$WINEPREFIX/drive_c/Program\ Files/Vestrel
fail_logs=("$WORK/app.log" "$WORK/setup.log")

left=$(hour_left)
if [ "$left" -lt 120 ]; then
  echo "waiting $((left + 2)) s for the next hour"
  sleep $((left + 2))
fi

start=$(now_ms)
wineboot -i >/dev/null 2>&1
wineserver -w
echo "measured: Wine prefix made in $(($(now_ms) - start)) ms"

# The installer, silently.
start=$(now_ms)
wine "$SETUP" /S >"$WORK/setup.log" 2>&1 || fail "setup.exe /S failed"
wineserver -w
echo "measured: setup.exe /S in $(($(now_ms) - start)) ms"
[ -f "$INSTALL/vestrel.exe" ] || fail "no vestrel.exe in C:\\Program Files\\Vestrel"
[ -f "$INSTALL/platforms/qwindows.dll" ] || fail "no platform plugin installed"
[ -f "$INSTALL/uninstall.exe" ] || fail "no uninstaller"
[ -n "$(find "$WINEPREFIX/drive_c" -iname 'Vestrel.lnk' -path '*Start Menu*')" ] || fail "no Start-menu entry"
grep -q '"Vestrel"=' "$WINEPREFIX/user.reg" && fail "start at login was set without being asked for"

# Program Files is not the user's to write: nobody, root included, may create files there.
if ! chattr +i "$INSTALL" 2>/dev/null; then
  chmod a-w "$INSTALL"
  touch "$INSTALL/probe" 2>/dev/null && fail "cannot make the program folder read-only"
fi

# The user's folder, with a config.ini pointing at the stand-in. Windows paths: Z: is /.
APPDATA_DIR=$(winepath -u "$(wine cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')")/Vestrel
mkdir -p "$APPDATA_DIR"
LOG=$APPDATA_DIR/Command.log
fail_logs+=("$LOG")
BAK_DIR=$WORK/backups
mkdir -p "$BAK_DIR"
BAK_WIN=$(winepath -w "$BAK_DIR/E2E.bak")

# The stand-in is a Linux program and reads the program's "Z:/..." paths as relative ones: in a
# folder of its own, "Z:" is a link to /, as in Wine's dosdevices.
mkdir -p "$WORK/standin"
ln -s / "$WORK/standin/Z:"
cd "$WORK/standin" || fail "no stand-in folder"
standin_start --password e2e-secret --paths windows
cd - >/dev/null || exit 1
write_config "$APPDATA_DIR/config.ini" "127.0.0.1,$port" E2E e2e-secret "$BAK_WIN" "$(hour_flags "$(date +%-H)")"

vd_start 800x480 || fail "no virtual display"
ROOT=$(root_window)
wine "C:\\Program Files\\Vestrel\\vestrel.exe" >"$WORK/app.log" 2>&1 &
APP=$!
wait_for "window shown" 30000 main_window
# Wine's explorer.exe keeps the notification icons: the icon is docked when a window of its
# class sits inside the notification area instead of on the root window.
docked() { icon_window 'explorer\.exe'; }
wait_for "icon docked" 20000 docked

[ -e "$INSTALL/config.ini" ] && fail "config.ini was made in the read-only program folder"
wait_for "start banner" 10000 log_has "Avviata sequenza automatica.."
tr -d '\r' <"$LOG" | head -7 | awk '
  NR == 1 || NR == 5 || NR == 7 { ok = ok && $0 ~ / >  $/ }
  NR == 2 || NR == 4 { ok = ok && $0 ~ / > =+$/ }
  NR == 3 { ok = ok && $0 ~ / > Avvio Programma in data .+ alle ore .+$/ }
  NR == 6 { ok = ok && $0 ~ / > Avviata sequenza automatica\.\.$/ }
  BEGIN { ok = 1 } END { exit !(ok && NR == 7) }' || fail "start banner not as expected"

# The automatic backup of this hour, through Wine's odbc32.
wait_for "end block" 60000 log_has "Fine Backup in data "
log_has "Errore" && fail "the backup logged an error"
tr -d '\r' <"$LOG" | sed -n '8,$p' | sed 's/^.* > //' >"$WORK/job.txt"
{
  echo "Inizio Backup in data"
  printf '=%.0s' $(seq 57); echo
  echo "Nome Server : 127.0.0.1,$port"
  echo "User : sa"
  echo "Password : ********"
  echo "Nome Database : E2E"
  echo "File : $BAK_WIN"
  printf '=%.0s' $(seq 57); echo
  for p in 10 21 32 43 54 65 76 87 100; do echo "oBackupEvent_PercentComplete -- $p percent processed. $p"; done
} >"$WORK/expected-start.txt"
sed -E 's/^(Inizio Backup in data) .*/\1/' "$WORK/job.txt" | head -17 | diff - "$WORK/expected-start.txt" ||
  fail "the job's start block and progress lines are not as expected"
log_has " > oBackupEvent_Complete -- BACKUP DATABASE successfully processed" || fail "no completion line"
tr -d '\r' <"$LOG" | tail -4 | sed 's/^.* > //' | awk '
  NR == 1 || NR == 3 { ok = ok && $0 ~ /^=+$/ }
  NR == 2 { ok = ok && $0 ~ /^Fine Backup in data .+ alle ore .+$/ }
  NR == 4 { ok = ok && $0 == " " }
  BEGIN { ok = 1 } END { exit !(ok && NR == 4) }' || fail "the job's end block is not as expected"
grep -q '^VESTREL-STANDIN-BACKUP$' "$BAK_DIR/E2E.bak" && grep -q '^database=E2E$' "$BAK_DIR/E2E.bak" ||
  fail "the backup file is not the stand-in's verified backup of E2E"
ls "$BAK_DIR" | grep -q 'vestrel-new' && fail "a partial backup file was left behind"
echo "Command.log (Windows regional texts):"
tr -d '\r' <"$LOG" | sed -n '3p;9p' | sed 's/^/  /'

# The program ends; the uninstaller removes what setup put there and nothing of the user's.
stop_wine
APP=
chattr -i "$INSTALL" 2>/dev/null || chmod u+w "$INSTALL"
# It copies itself to %TEMP% and goes on from there: wait for every Wine process.
wine "C:\\Program Files\\Vestrel\\uninstall.exe" /S >>"$WORK/setup.log" 2>&1
wineserver -w
[ -e "$INSTALL/vestrel.exe" ] && fail "the uninstaller left vestrel.exe"
[ -n "$(find "$INSTALL" -name '*.dll' 2>/dev/null)" ] && fail "the uninstaller left DLLs"
[ -f "$APPDATA_DIR/config.ini" ] && [ -f "$LOG" ] && [ -f "$BAK_DIR/E2E.bak" ] ||
  fail "the uninstaller removed the user's files"
echo PASS
