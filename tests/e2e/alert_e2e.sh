#!/usr/bin/env bash
# A failed backup as the user sees it, on a real display: Xvfb with the trayer notification
# area, the real program, the TDS stand-in as the server and config.ini with a wrong password
# and every hour enabled. The automatic backup fails: a balloon window comes up beside the
# icon and the icon turns into its warning variant (yellow). The right password typed into the
# field and a click on "&Esegui Backup": the backup succeeds, a balloon says so, the icon is
# the normal one again.
# Usage: alert_e2e.sh <vestrel> <tds_standin>
set -u
EXE=$1
STANDIN_EXE=$2
here=$(dirname "$0")
# shellcheck source=../../scripts/virtual-display.sh
. "$here/../../scripts/virtual-display.sh"
# shellcheck source=../support/e2e.sh
. "$here/../support/e2e.sh"
need_tools Xvfb xdpyinfo xwininfo xdotool trayer import convert

scratch alert
DIR=$WORK/program
LOG=$DIR/Command.log
APP=
watched=(APP standin_pid)
fail_logs=("$LOG" "$WORK/app.log")

standin_start --password right-one
mkdir -p "$DIR"
cp "$EXE" "$DIR/vestrel"
write_config "$DIR/config.ini" "127.0.0.1,$port" Sales wrong-one "$DIR/Sales.bak" "$(hour_flags $(seq 0 23))"

vd_start 740x380 || fail "no virtual display"
QT_QPA_PLATFORM=xcb QT_LOGGING_RULES='qt.qpa.*=false' "$DIR/vestrel" >"$WORK/app.log" 2>&1 &
APP=$!
wait_for "window shown" 10000 main_window
WIN=$(main_window | head -1)
ROOT=$(root_window)
wait_for "icon docked" 10000 icon_window
ICON=$(icon_window)
# A top-level window of the program other than the main window: a balloon; each balloon is
# a window of its own. balloon_shown [not this one]
balloon() {
  local w
  for w in $(xdotool search --onlyvisible --classname '^vestrel$'); do
    [ "$w" = "$WIN" ] || [ "$w" = "$ICON" ] && continue
    xwininfo -id "$w" -tree | grep -q "Parent window id: $ROOT" && { echo "$w"; return 0; }
  done
  return 1
}
balloon_shown() { local b; b=$(balloon) && [ "$b" != "${1:-}" ]; }
# Yellow pixels of the icon as docked: the warning sign.
yellow_pixels() {
  import -window "$ICON" "$WORK/icon.png" 2>/dev/null &&
    convert "$WORK/icon.png" -depth 8 txt:- | awk -F'[(,)]' 'NR > 1 && $3 > 230 && $4 > 195 && $5 < 70 { n++ } END { print n + 0 }'
}
warning_icon() { [ "$(yellow_pixels)" -ge 6 ]; }
normal_icon() { [ "$(yellow_pixels)" -eq 0 ]; }

wait_for "the failed automatic backup" 10000 log_count_is "Errore " 1
wait_for "the failure balloon" 5000 balloon_shown
FAILURE_BALLOON=$(balloon)
wait_for "the warning icon" 5000 warning_icon
echo "measured: $(yellow_pixels) yellow pixels in the docked icon"
log_count_is "Fine Backup in data " 0 || fail "a backup ended without failing"

# The right password, then "&Esegui Backup"; the field and the button are laid out in twips.
read -r WX WY < <(window_origin "$WIN")
xdotool mousemove "$((WX + $(px $((150 + 5865 + 1417)))))" "$((WY + $(px $((120 + 750 + 165)))))" click 1
xdotool windowfocus --sync "$WIN" 2>/dev/null
xdotool key ctrl+a
xdotool type --delay 20 right-one
xdotool mousemove "$((WX + $(px $((9120 + 667)))))" "$((WY + $(px $((1200 + 187)))))" click 1
wait_for "the manual backup" 10000 log_count_is "Fine Backup in data " 1
wait_for "the normal icon again" 5000 normal_icon
wait_for "a new balloon" 5000 balloon_shown "$FAILURE_BALLOON"
echo PASS
