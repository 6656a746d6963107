#!/bin/bash
# The tray icon under a real X server: Xvfb with the trayer panel, driven by xdotool.
# Usage: tray_e2e.sh <tray_e2e_app>. Exits 77 (skipped) when the X tools are missing.
set -u
APP=$1
here=$(dirname "$0")
# shellcheck source=../../scripts/virtual-display.sh
. "$here/../../scripts/virtual-display.sh"
# shellcheck source=../support/e2e.sh
. "$here/../support/e2e.sh"
need_tools --skip Xvfb xdpyinfo xwininfo xdotool trayer

scratch tray
export QT_QPA_PLATFORM=xcb
STATE=$WORK/state
PID=
watched=(PID)
fail_logs=("$STATE" "$WORK/app.log")
state_is() { grep -qx "$1" "$STATE"; }

vd_start || fail "could not start Xvfb and trayer"

"$APP" "$STATE" >"$WORK/app.log" 2>&1 &
PID=$!
wait_for "program state" 10000 test -s "$STATE"
wait_for "icon docked" 10000 state_is docked=1
state_is visible=1 || fail "window not shown at start"
grep -q '^fonts=0$' "$STATE" && fail "no fonts installed"

ROOT=$(root_window)
CLASS=$(basename "$APP")
# On a busy machine the icon's window is mapped a little after Qt reports the icon docked.
wait_for "icon window" 10000 icon_window "$CLASS"
ICON=$(icon_window "$CLASS")

menu_open() {
  for w in $(xdotool search --onlyvisible --classname "^$CLASS\$"); do
    [ "$w" != "$ICON" ] && xwininfo -id "$w" | grep -q "Map State: IsViewable" &&
      xwininfo -id "$w" -tree | grep -q "Parent window id: $ROOT" &&
      ! xwininfo -id "$w" | grep -q 'Vestrel tray check' && return 0
  done
  return 1
}
menu_closed() { ! menu_open; }
has_event() { grep -q "^events=.*$1" "$STATE"; }
# Wait a little for something that must NOT happen.
settle() { sleep 0.5; }

# The pointer moving over the icon raises MouseMove.
xdotool mousemove --window "$ICON" 11 11
wait_for "MouseMove" 5000 has_event 'MouseMove'

# A right press opens nothing; let go away from the icon it is no click on it at all.
xdotool mousedown 3
wait_for "MouseDown(1)" 5000 has_event 'MouseDown(1)'
settle
menu_open && fail "the menu opened on the press"
xdotool mousemove 5 300 mouseup 3
settle
menu_open && fail "the menu opened on a release away from the icon"
has_event 'MouseUp(1)' && fail "a release away from the icon raised MouseUp(1)"

# Pressed and released over the icon: the menu opens, after MouseDown(1).
xdotool mousemove --window "$ICON" 11 11 click 3
wait_for "menu open" 5000 menu_open
wait_for "the menu's items in the state" 5000 grep -q '^item2=' "$STATE"
read -r X Y < <(sed -n 's/^item2=//p' "$STATE")
# The menu was tracked with the left-button flag: a right click on "Nascondi" chooses nothing
# and the menu stays open; the left button then chooses it.
xdotool mousemove "$X" "$Y" click 3
settle
menu_open || fail "a right click on an item closed the menu"
has_event 'PopMenuClick' && fail "a right click on an item chose it"
state_is visible=1 || fail "a right click on \"Nascondi\" hid the window"
xdotool click 1
wait_for "window hidden by Nascondi" 5000 state_is visible=0
grep -q 'PopMenuClick(2)' "$STATE" || fail "no PopMenuClick(2)"
wait_for "menu closed" 5000 menu_closed

# A right double click on the icon leaves the hidden window hidden. Its first click opens the
# menu, which takes the second one without choosing; Escape closes it.
xdotool mousemove --window "$ICON" 11 11 click --repeat 2 --delay 80 3
settle
echo "after a right double click: $(grep '^events=' "$STATE" | sed 's/.*PopMenuClick(2)//')"
menu_open && xdotool key Escape
wait_for "menu closed" 5000 menu_closed
settle
state_is visible=0 || fail "a right double click showed the hidden window"
has_event 'PopMenuClick(1)' && fail "a right double click chose \"Mostra\""
has_event 'MouseDblClick(0)' && fail "a right double click was taken for a left one"

xdotool mousemove --window "$ICON" 11 11 click --repeat 2 --delay 80 1
wait_for "window shown by double click" 5000 state_is visible=1
grep -q 'MouseDblClick(0)' "$STATE" || fail "no MouseDblClick(0)"
echo "events: $(grep '^events=' "$STATE")"
echo PASS
