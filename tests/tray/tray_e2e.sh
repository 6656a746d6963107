#!/bin/bash
# The tray icon under a real X server: Xvfb with the trayer panel, driven by xdotool.
# Usage: tray_e2e.sh <tray_e2e_app>. Exits 77 (skipped) when the X tools are missing.
set -u
APP=$1
here=$(dirname "$0")
# shellcheck source=../../scripts/virtual-display.sh
. "$here/../../scripts/virtual-display.sh"
# shellcheck source=../support/wait.sh
. "$here/../support/wait.sh"
for tool in Xvfb xdpyinfo xwininfo xdotool trayer; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done

WORK=$(mktemp -d)
export QT_QPA_PLATFORM=xcb
STATE=$WORK/state
PIDS=()

cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
  vd_stop
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  for f in "$STATE" "$WORK"/*.log; do [ -s "$f" ] && { echo "== $(basename "$f")"; cat "$f"; }; done
  exit 1
}
state_is() { grep -qx "$1" "$STATE"; }

vd_start || fail "could not start Xvfb and trayer"

"$APP" "$STATE" >"$WORK/app.log" 2>&1 &
PIDS+=($!)
wait_for "program state" 10000 test -s "$STATE"
wait_for "icon docked" 10000 state_is docked=1
state_is visible=1 || fail "window not shown at start"
grep -q '^fonts=0$' "$STATE" && fail "no fonts installed"

ROOT=$(xwininfo -root | awk '/Window id:/{print $4}')
CLASS=$(basename "$APP")
ICON=
for w in $(xdotool search --onlyvisible --classname "^$CLASS\$"); do
  xwininfo -id "$w" -tree | grep -q "Parent window id: $ROOT" || ICON=$w
done
[ -n "$ICON" ] || fail "icon window not found"

# Right click: the menu opens at the cursor; the second item is "Nascondi".
xdotool mousemove --window "$ICON" 11 11 click 3
menu_open() {
  for w in $(xdotool search --onlyvisible --classname "^$CLASS\$"); do
    [ "$w" != "$ICON" ] && xwininfo -id "$w" | grep -q "Map State: IsViewable" &&
      xwininfo -id "$w" -tree | grep -q "Parent window id: $ROOT" &&
      ! xwininfo -id "$w" | grep -q 'Vestrel tray check' && return 0
  done
  return 1
}
wait_for "menu open" 5000 menu_open
xdotool key Down Down Return
wait_for "window hidden by Nascondi" 5000 state_is visible=0
grep -q 'PopMenuClick(2)' "$STATE" || fail "no PopMenuClick(2)"

xdotool mousemove --window "$ICON" 11 11 click --repeat 2 --delay 80 1
wait_for "window shown by double click" 5000 state_is visible=1
grep -q 'MouseDblClick(0)' "$STATE" || fail "no MouseDblClick(0)"
echo "events: $(grep '^events=' "$STATE")"
echo PASS
