#!/bin/bash
# The tray icon under a real X server: Xvfb with the trayer panel, driven by xdotool.
# Usage: tray_e2e.sh <tray_e2e_app>. Exits 77 (skipped) when the X tools are missing.
set -u
APP=$1
for tool in Xvfb xdpyinfo xwininfo xdotool trayer; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done

WORK=$(mktemp -d)
export XDG_RUNTIME_DIR=$WORK/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS
unset QT_QPA_PLATFORM
export QT_QPA_PLATFORM=xcb
STATE=$WORK/state
PIDS=()

cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$WORK"
}
trap cleanup EXIT

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
fail() {
  echo "FAIL: $*"
  for f in "$STATE" "$WORK"/*.log; do [ -s "$f" ] && { echo "== $(basename "$f")"; cat "$f"; }; done
  exit 1
}
# wait_for <what> <timeout ms> <command...>
wait_for() {
  local what=$1 limit=$2; shift 2
  local start; start=$(now_ms)
  until "$@" >/dev/null 2>&1; do
    [ $(( $(now_ms) - start )) -gt "$limit" ] && fail "timed out waiting for $what"
    sleep 0.05
  done
  echo "measured: $what after $(( $(now_ms) - start )) ms"
}
state_is() { grep -qx "$1" "$STATE"; }

# Rarely the fresh server's display cannot be opened right after it answered (seen with
# other X servers starting and stopping on the machine): start the pair again, up to 3 times.
start_x() {
  rm -f "$WORK/display"
  exec 3>"$WORK/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
  XPID=$!
  PIDS+=($XPID)
  exec 3>&-
  wait_for "Xvfb display number" 10000 display_written
  export DISPLAY=:$(cat "$WORK/display")
  wait_for "X server" 10000 xdpyinfo
  trayer --edge top --align right --widthtype request --height 28 --SetDockType true \
    >"$WORK/trayer.log" 2>&1 &
  TPID=$!
  PIDS+=($TPID)
  local start; start=$(now_ms)
  until xdotool search --classname '^trayer$' >/dev/null 2>&1; do
    if ! kill -0 "$TPID" 2>/dev/null || [ $(( $(now_ms) - start )) -gt 10000 ]; then
      echo "trayer did not start on $DISPLAY:"; cat "$WORK/trayer.log"
      kill "$TPID" "$XPID" 2>/dev/null; wait "$TPID" "$XPID" 2>/dev/null
      return 1
    fi
    sleep 0.05
  done
  echo "measured: trayer window after $(( $(now_ms) - start )) ms"
}
# Xvfb writes the number and a newline; reading before the newline can give a wrong number.
display_written() { [ "$(wc -l <"$WORK/display")" -ge 1 ]; }
started=0
for attempt in 1 2 3; do
  if start_x; then started=1; break; fi
done
[ "$started" = 1 ] || fail "could not start Xvfb and trayer"

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
