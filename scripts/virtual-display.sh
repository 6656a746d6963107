# Sourced by scripts that need a display on a machine without one: starts Xvfb and the
# trayer notification area, exports DISPLAY, and stops both on exit. The program must run
# without a D-Bus session bus there, or its icon would go to a StatusNotifier host that
# isn't there instead of docking in trayer.
vd_pids=()
vd_stop() {
  local pid
  for pid in "${vd_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${vd_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  vd_pids=()
  [ -n "${vd_dir:-}" ] && rm -rf "$vd_dir"
}
vd_start() {
  vd_dir=$(mktemp -d)
  export XDG_RUNTIME_DIR="$vd_dir/runtime"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
  exec 3>"$vd_dir/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  vd_pids+=($!)
  exec 3>&-
  local i
  for i in $(seq 100); do [ -s "$vd_dir/display" ] && break; sleep 0.1; done
  [ -s "$vd_dir/display" ] || { echo "virtual display: Xvfb did not start" >&2; return 1; }
  export DISPLAY=":$(cat "$vd_dir/display")"
  for i in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  trayer --edge top --align right --widthtype request --height 28 --SetDockType true \
    >/dev/null 2>&1 &
  vd_pids+=($!)
  for i in $(seq 100); do xdotool search --classname '^trayer$' >/dev/null 2>&1 && break; sleep 0.1; done
}
