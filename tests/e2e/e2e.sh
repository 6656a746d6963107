#!/usr/bin/env bash
# The whole program end to end: Xvfb with the trayer notification area, the TDS stand-in as
# the server, and the real executable in a program folder of its own whose config.ini points
# at the stand-in with the current hour enabled. Checked through Command.log, the backup file
# and screenshots:
#   start banner -> automatic backup held mid-way by the stand-in (red "In Esecuzione" lamp)
#   -> the backup completes (green "In Pausa" lamp, the file is there) -> a click on
#   "&Esegui Backup" runs a manual backup -> "Chiudi" in the tray menu ends the program with
#   the closing lines and takes the icon away.
# Usage: e2e.sh <vestrel> <tds_standin>
# With VESTREL_E2E_SCREENSHOT=<file> the screenshot of the window after the backups is kept.
set -u
EXE=$1
STANDIN_EXE=$2
here=$(dirname "$0")
# shellcheck source=../../scripts/virtual-display.sh
. "$here/../../scripts/virtual-display.sh"
# shellcheck source=../support/e2e.sh
. "$here/../support/e2e.sh"
need_tools Xvfb xdpyinfo xwininfo xdotool trayer import convert

scratch e2e
DIR=$WORK/program
LOG=$DIR/Command.log
APP=
watched=(APP standin_pid)
fail_logs=("$LOG" "$WORK/app.log")

# Only the current hour is enabled: a run that straddled the hour would see no automatic
# backup, so wait for the next hour when this one is nearly over.
left=$(hour_left)
if [ "$left" -lt 90 ]; then
  echo "waiting $((left + 2)) s for the next hour"
  sleep $((left + 2))
fi

# The stand-in holds the first backup after "43 percent processed." until it reads a line.
standin_start --password e2e-secret --pause-at 43

mkdir -p "$DIR"
cp "$EXE" "$DIR/vestrel"
write_config "$DIR/config.ini" "127.0.0.1,$port" E2E e2e-secret "$DIR/E2E.bak" "$(hour_flags "$(date +%-H)")"
chmod 600 "$DIR/config.ini"

# A screen just large enough for the window and the notification area beside it.
vd_start 740x380 || fail "no virtual display"
# Without a font every glyph renders as a box and nothing warns.
if command -v fc-list >/dev/null 2>&1; then fonts=$(fc-list); else
  fonts=$(find /usr/share/fonts /usr/local/share/fonts -name '*.ttf' -o -name '*.otf' 2>/dev/null); fi
[ -n "$fonts" ] || fail "no fonts installed (fonts-dejavu-core)"

QT_QPA_PLATFORM=xcb QT_LOGGING_RULES='qt.qpa.*=false' "$DIR/vestrel" >"$WORK/app.log" 2>&1 &
APP=$!
wait_for "window shown" 10000 main_window
WIN=$(main_window | head -1)
ROOT=$(root_window)
wait_for "icon docked" 10000 icon_window
ICON=$(icon_window)

# The start banner.
wait_for "start banner" 5000 log_has "Avviata sequenza automatica.."
tr -d '\r' <"$LOG" | head -7 | awk '
  NR == 1 || NR == 5 || NR == 7 { ok = ok && $0 ~ / >  $/ }
  NR == 2 || NR == 4 { ok = ok && $0 ~ / > =+$/ }
  NR == 3 { ok = ok && $0 ~ / > Avvio Programma in data .+ alle ore .+$/ }
  NR == 6 { ok = ok && $0 ~ / > Avviata sequenza automatica\.\.$/ }
  BEGIN { ok = 1 } END { exit !(ok && NR == 7) }' || fail "start banner not as expected"

# Window coordinates on the screen, in pixels from the layout's twips.
read -r WX WY < <(window_origin "$WIN")
# The lamps sit in the status frame (120, 2640), 255 twips square.
LAMP_Y=$((WY + $(px $((2640 + 240 + 127)))))
RUN_X=$((WX + $(px $((120 + 4680 + 127)))))
PAUSE_X=$((WX + $(px $((120 + 6240 + 127)))))
SHOT=$WORK/screen.png
pixel() { convert "$SHOT" -crop "1x1+$1+$2" -depth 8 txt:- | grep -o '#[0-9A-F]\{6\}' | head -1; }
lamps_are() { # <running colour> <paused colour>
  import -window root "$SHOT" && [ "$(pixel "$RUN_X" "$LAMP_Y")" = "$1" ] &&
    [ "$(pixel "$PAUSE_X" "$LAMP_Y")" = "$2" ]
}

# The automatic backup starts by itself in the enabled hour and is held by the stand-in.
read -r -t 30 word percent <&"$standin_out" && [ "$word" = paused ] ||
  fail "no automatic backup reached the stand-in"
wait_for "progress line 43 in the log" 5000 log_has "oBackupEvent_PercentComplete -- 43 percent processed. 43"
log_has "percent processed. 54" && fail "the backup went on past the pause"
log_count_is "Inizio Backup in data " 1 || fail "no start block, or more than one"
for line in "Nome Server : 127.0.0.1,$port" "User : sa" "Password : \*\*\*\*\*\*\*\*" \
  "Nome Database : E2E" "File : $DIR/E2E.bak"; do
  log_has " > $line\$" || fail "start block without \"$line\""
done
log_has "e2e-secret" && fail "the password is in the log"
wait_for "red \"In Esecuzione\", white \"In Pausa\"" 5000 lamps_are '#FF0000' '#FFFFFF'
[ -e "$DIR/E2E.bak" ] && fail "the backup file is in place before the backup ended"

echo >&"$standin_in"
wait_for "end block" 10000 log_has "Fine Backup in data "
for p in 10 21 32 43 54 65 76 87 100; do
  log_has "oBackupEvent_PercentComplete -- $p percent processed. $p\$" || fail "no progress line for $p %"
done
log_has " > oBackupEvent_Complete -- BACKUP DATABASE successfully processed" || fail "no completion line"
log_has "Errore" && fail "the backup logged an error"
wait_for "white \"In Esecuzione\", green \"In Pausa\"" 5000 lamps_are '#FFFFFF' '#00FF00'
grep -q '^VESTREL-STANDIN-BACKUP$' "$DIR/E2E.bak" && grep -q '^database=E2E$' "$DIR/E2E.bak" ||
  fail "the backup file is not the stand-in's backup of E2E"
first_backup=$(stat -c '%i %.9Y' "$DIR/E2E.bak")
ls "$DIR" | grep -q 'vestrel-new' && fail "a partial backup file was left behind"

# A manual backup through the button; the automatic one of this hour is done.
CMD_X=$((WX + $(px $((9120 + 667)))))
CMD_Y=$((WY + $(px $((1200 + 187)))))
xdotool mousemove "$CMD_X" "$CMD_Y" click 1
wait_for "manual backup's end block" 10000 log_count_is "Fine Backup in data " 2
log_count_is "Inizio Backup in data " 2 || fail "the click did not start exactly one backup"
log_has "Errore" && fail "the manual backup logged an error"
[ "$(stat -c '%i %.9Y' "$DIR/E2E.bak")" != "$first_backup" ] || fail "the manual backup did not replace the file"
wait_for "lamps back to idle" 5000 lamps_are '#FFFFFF' '#00FF00'
if [ -n "${VESTREL_E2E_SCREENSHOT:-}" ]; then
  cp "$SHOT" "$VESTREL_E2E_SCREENSHOT" && echo "screenshot: $VESTREL_E2E_SCREENSHOT"
fi

# "Chiudi" from the tray menu: the fourth item (a separator stands before it).
xdotool mousemove --window "$ICON" 11 11 click 3
menu_open() {
  local w
  for w in $(xdotool search --onlyvisible --classname '^vestrel$'); do
    [ "$w" != "$ICON" ] && [ "$w" != "$WIN" ] && return 0
  done
  return 1
}
wait_for "tray menu open" 5000 menu_open
xdotool key Down Down Down Down Return
exited() { ! kill -0 "$APP" 2>/dev/null; }
wait_for "program ended" 10000 exited
wait "$APP"
status=$?
APP=
[ "$status" -eq 0 ] || fail "the program ended with status $status"
tr -d '\r' <"$LOG" | tail -7 | awk '
  NR == 1 || NR == 3 || NR == 7 { ok = ok && $0 ~ / >  $/ }
  NR == 2 { ok = ok && $0 ~ / > Chiusura transazioni\.\.$/ }
  NR == 4 || NR == 6 { ok = ok && $0 ~ / > =+$/ }
  NR == 5 { ok = ok && $0 ~ / > Chiusura Programma in data .+ alle ore .+$/ }
  BEGIN { ok = 1 } END { exit !(ok && NR == 7) }' || fail "closing lines not as expected"
log_count_is "Chiusura Programma in data " 1 || fail "closing lines written more than once"
xwininfo -id "$ICON" >/dev/null 2>&1 && fail "the tray icon is still there"
[ -z "$(xdotool search --classname '^vestrel$' 2>/dev/null)" ] || fail "a window of the program is left"
echo PASS
