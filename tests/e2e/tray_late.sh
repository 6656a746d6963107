#!/usr/bin/env bash
# Start at login: the desktop's notification area may come up after the program. The real
# program starts on a display with no notification area; trayer starts 3 s later; the icon
# must dock in it (its window reparented into trayer's) within 5 s.
# Usage: tray_late.sh <vestrel>
set -u
EXE=$1
here=$(dirname "$0")
# shellcheck source=../support/e2e.sh
. "$here/../support/e2e.sh"
need_tools Xvfb xdpyinfo xwininfo xdotool trayer

scratch traylate
XPID=
TPID=
APP=
watched=(APP TPID XPID)
fail_logs=("$WORK/app.log" "$WORK/trayer.log")

export XDG_RUNTIME_DIR=$WORK/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
# No session bus: the icon goes to the XEmbed notification area, not a StatusNotifier host.
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
exec 3>"$WORK/display"
Xvfb -displayfd 3 -screen 0 640x400x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
XPID=$!
exec 3>&-
display_written() { [ "$(wc -l <"$WORK/display")" -ge 1 ]; }
wait_for "Xvfb" 10000 display_written
export DISPLAY=":$(head -1 "$WORK/display")"
wait_for "display open" 10000 xdpyinfo

# A program folder with settings that start no backup.
DIR=$WORK/program
mkdir -p "$DIR"
cp "$EXE" "$DIR/vestrel"
write_config "$DIR/config.ini" "(local)" Late "" "" "$(hour_flags)"
chmod 600 "$DIR/config.ini"
QT_QPA_PLATFORM=xcb "$DIR/vestrel" >"$WORK/app.log" 2>&1 &
APP=$!
wait_for "window shown" 10000 main_window

ROOT=$(root_window)
icon_docked() { icon_window >/dev/null; }
sleep 3
icon_docked && fail "an icon docked with no notification area"
kill -0 "$APP" 2>/dev/null || fail "the program ended"
trayer --edge top --align right --widthtype request --height 28 --SetDockType true \
  >"$WORK/trayer.log" 2>&1 &
TPID=$!
wait_for "icon docked in the notification area started 3 s after the program" 5000 icon_docked
tray=$(xdotool search --classname '^trayer$' | head -1)
[ -n "$tray" ] || fail "trayer has no window"
echo PASS
