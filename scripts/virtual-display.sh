# Sourced by scripts that need a display on a machine without one: starts Xvfb and the
# trayer notification area, exports DISPLAY, and stops both on exit. The program must run
# without a D-Bus session bus there, or its icon would go to a StatusNotifier host that
# isn't there instead of docking in trayer.
#   vd_start [WxH]   starts the pair (1024x768 by default); 1 when it cannot
#   vd_stop          stops them and removes the scratch folder
# vd_pids holds every PID started, vd_dir a scratch folder with the servers' logs.
vd_pids=()
vd_stop() {
  local pid
  for pid in "${vd_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${vd_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  vd_pids=()
  [ -n "${vd_dir:-}" ] && rm -rf "$vd_dir"
  vd_dir=
}
# Xvfb writes the number and a newline; reading before the newline can give a wrong number.
vd_display_written() { [ "$(wc -l <"$vd_dir/display")" -ge 1 ]; }
vd_try() {
  local size=$1 i xpid tpid
  rm -f "$vd_dir/display"
  exec 3>"$vd_dir/display"
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp >"$vd_dir/xvfb.log" 2>&1 &
  xpid=$!
  exec 3>&-
  vd_pids+=("$xpid")
  for i in $(seq 100); do vd_display_written && break; sleep 0.1; done
  vd_display_written || return 1
  export DISPLAY=":$(head -1 "$vd_dir/display")"
  for i in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  xdpyinfo >/dev/null 2>&1 || return 1
  trayer --edge top --align right --widthtype request --height 28 --SetDockType true \
    >"$vd_dir/trayer.log" 2>&1 &
  tpid=$!
  vd_pids+=("$tpid")
  for i in $(seq 100); do
    xdotool search --classname '^trayer$' >/dev/null 2>&1 && return 0
    kill -0 "$tpid" 2>/dev/null || break
    sleep 0.1
  done
  return 1
}
vd_start() {
  local size=${1:-1024x768} attempt pid
  vd_dir=$(mktemp -d)
  export XDG_RUNTIME_DIR="$vd_dir/runtime"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
  # Rarely a fresh server's display cannot be opened right after it answered (seen with
  # other X servers starting and stopping on the machine): try again, up to 3 times.
  for attempt in 1 2 3; do
    vd_try "$size" && return 0
    for pid in "${vd_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${vd_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    vd_pids=()
  done
  echo "virtual display: could not start Xvfb and trayer" >&2
  cat "$vd_dir/xvfb.log" "$vd_dir/trayer.log" >&2 2>/dev/null || true
  return 1
}
