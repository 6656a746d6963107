# Sourced by the end-to-end test scripts: the set-up they share. Under `set -u`.
#   need_tools [--skip] <tool...>  fails (or skips with 77) when a tool is missing
#   scratch <name>                 WORK, a scratch folder removed on exit, with the processes
#                                  whose PIDs are in the variables named in `watched`
#   fail <message>                 prints the files in `fail_logs` and exits 1
#   standin_start <args...>        the TDS stand-in as a coproc; sets port, standin_pid,
#                                  standin_out and standin_in
#   write_config <file> <data source> <catalog> <password> <backup file> <hour flags>
# shellcheck source=wait.sh
. "$(dirname "${BASH_SOURCE[0]}")/wait.sh"

need_tools() {
  local skip= tool
  [ "$1" = --skip ] && { skip=1; shift; }
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 && continue
    [ -n "$skip" ] && { echo "SKIP: $tool is not installed"; exit 77; }
    echo "FAIL: $tool is not installed (scripts/install-deps)"
    exit 1
  done
}

# Names of the variables holding the PIDs to stop on exit; an empty or unset one is skipped
# (bash unsets a coproc's PID variable when it ends).
watched=()
stop_signal=TERM
cleanup() {
  local name pid pids=()
  for name in ${watched[@]+"${watched[@]}"}; do
    pid=${!name:-}
    [ -n "$pid" ] && pids+=("$pid")
  done
  for pid in ${pids[@]+"${pids[@]}"}; do kill -"$stop_signal" "$pid" 2>/dev/null; done
  for pid in ${pids[@]+"${pids[@]}"}; do wait "$pid" 2>/dev/null; done
  declare -F vd_stop >/dev/null && vd_stop
  if [ -n "${WORK:-}" ]; then
    chmod -R u+w "$WORK" 2>/dev/null
    rm -rf "$WORK"
  fi
}
scratch() {
  WORK=$(mktemp -d -t "vestrel-$1.XXXXXX")
  trap cleanup EXIT
  trap 'exit 1' INT TERM
}

# Files shown by fail, named by their path in WORK.
fail_logs=()
fail() {
  local f
  echo "FAIL: $*"
  for f in ${fail_logs[@]+"${fail_logs[@]}"}; do
    [ -s "$f" ] && { echo "== ${f#"${WORK:-}"/}"; tr -d '\r' <"$f"; }
  done
  exit 1
}

# The program's log, LOG.
log_has() { tr -d '\r' <"$LOG" 2>/dev/null | grep -q -- "$1"; }
log_count() { tr -d '\r' <"$LOG" 2>/dev/null | grep -c -- "$1"; }
log_count_is() { [ "$(log_count "$1")" -eq "$2" ]; }

# The stand-in (STANDIN_EXE) prints "port N" when it listens, "paused N" or "stalled N" at
# --pause-at or --stall-at; a line on its input lets a paused backup go on.
standin_start() {
  local word err=/dev/null
  # Its line on standard error (where it listens, what it accepts) goes beside the test's files.
  [ -n "${WORK:-}" ] && err=$WORK/standin.stderr
  coproc STANDIN { exec "$STANDIN_EXE" "$@" 2>>"$err"; }
  standin_pid=$STANDIN_PID
  exec {standin_out}<&"${STANDIN[0]}" {standin_in}>&"${STANDIN[1]}"
  read -r -t 10 word port <&"$standin_out" && [ "$word" = port ] || fail "the stand-in did not start"
}
standin_stop() {
  kill "$standin_pid" 2>/dev/null
  wait "$standin_pid" 2>/dev/null
  standin_pid=
  exec {standin_out}<&- {standin_in}>&-
}

# hour_flags <hour...>: ARRAY_TEMPO with the given hours enabled.
hour_flags() {
  local h flags=
  for h in $(seq 0 23); do
    if [[ " $* " == *" $h "* ]]; then flags+="1|"; else flags+="0|"; fi
  done
  echo "$flags"
}
# Seconds left in the current hour, local time (in a zone offset by half an hour the hour does
# not turn with the epoch's).
hour_left() {
  local minute second
  read -r minute second < <(date '+%M %S')
  echo $((3600 - 10#$minute * 60 - 10#$second))
}
write_config() {
  printf '%s\r\n' "[Connection String]" "Data Source=$2" "Initial Catalog=$3" \
    "User ID=sa" "Password=$4" "Integrated Security=0" "[Opzioni_Avanzate]" \
    "FileName=$5" "ARRAY_TEMPO=$6" >"$1"
}

# The program's windows on the display, found with xdotool. ROOT is the root window.
main_window() { xdotool search --onlyvisible --name '^Tarvoni Software - Vestrel$'; }
root_window() { xwininfo -root | awk '/Window id:/{print $4}'; }
# icon_window [class]: the docked icon, a visible window of the program whose parent is not
# the root window.
icon_window() {
  local w
  for w in $(xdotool search --onlyvisible --classname "^${1:-vestrel}\$"); do
    xwininfo -id "$w" -tree | grep -q "Parent window id: $ROOT" || { echo "$w"; return 0; }
  done
  return 1
}
# window_origin <window>: its upper-left corner on the screen, "X Y".
window_origin() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} END{print x, y}'
}
# The layout is in twips, 15 to a pixel.
px() { echo $((($1 + 7) / 15)); }
