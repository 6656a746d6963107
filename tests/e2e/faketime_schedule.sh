#!/usr/bin/env bash
# The real program's scheduler against the wall clock, black box: the program runs under
# libfaketime (its wall clock set to a minute's end, the monotonic clock left real) with
# config.ini pointing at the TDS stand-in, and Command.log shows when the backups started.
#   1. Only hour 11 enabled, the clock starting at 10:59:50: the 11:00 backup starts within
#      1 s of the boundary, none before it.
#   2. Hours 10 and 11 enabled, the clock starting at 10:59:55: hour 10's backup is held by
#      the stand-in past 11:00; when it ends, hour 11's backup starts within 1 s.
# Usage: faketime_schedule.sh <vestrel> <tds_standin>. Exits 77 (skipped) without libfaketime.
set -u
EXE=$1
STANDIN_EXE=$2
here=$(dirname "$0")
# shellcheck source=../support/wait.sh
. "$here/../support/wait.sh"

FAKETIME_LIB=
for lib in /usr/lib/*/faketime/libfaketime.so.1 /usr/lib/faketime/libfaketime.so.1; do
  [ -e "$lib" ] && { FAKETIME_LIB=$lib; break; }
done
[ -n "$FAKETIME_LIB" ] || { echo "SKIP: libfaketime is not installed (Debian faketime)"; exit 77; }
# A sanitizer build's runtime must come first among the preloaded libraries.
PRELOAD=$FAKETIME_LIB
asan=$(ldd "$EXE" 2>/dev/null | awk '/libasan/ {print $3}')
[ -n "$asan" ] && PRELOAD=$asan:$FAKETIME_LIB

WORK=$(mktemp -d -t vestrel-faketime.XXXXXX)
APP=
SERVER=
cleanup() {
  local pid
  for pid in $APP $SERVER; do kill "$pid" 2>/dev/null; done
  for pid in $APP $SERVER; do wait "$pid" 2>/dev/null; done
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
LOG=
fail() {
  echo "FAIL: $*"
  [ -n "$LOG" ] && [ -s "$LOG" ] && { echo "== Command.log"; tr -d '\r' <"$LOG"; }
  [ -n "$LOG" ] && [ -s "${LOG%/*}/app.log" ] && { echo "== program output"; tail -20 "${LOG%/*}/app.log"; }
  exit 1
}
export TZ=Europe/Rome LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen

# Seconds of the day of the time in a log line "... alle ore H:MM:SS" (or H.MM.SS).
seconds_of() { sed -E 's/.* alle ore ([0-9]+)[:.]([0-9]+)[:.]([0-9]+).*/\1 \2 \3/' | awk '{print $1 * 3600 + $2 * 60 + $3}'; }
line() { tr -d '\r' <"$LOG" | grep -- "$1" | sed -n "${2}p"; }
count() { tr -d '\r' <"$LOG" 2>/dev/null | grep -c -- "$1"; }
count_is() { [ "$(count "$1")" -eq "$2" ]; }

# start_program <dir> <port> <hours...>: the program in a folder of its own, under faketime.
start_program() {
  local dir=$1 port=$2 flags= h
  shift 2
  for h in $(seq 0 23); do
    if [[ " $* " == *" $h "* ]]; then flags+="1|"; else flags+="0|"; fi
  done
  mkdir -p "$dir"
  cp "$EXE" "$dir/vestrel"
  printf '%s\r\n' "[Connection String]" "Data Source=127.0.0.1,$port" "Initial Catalog=Sales" \
    "User ID=sa" "Password=secret" "Integrated Security=0" "[Opzioni_Avanzate]" \
    "FileName=$dir/Sales.bak" "ARRAY_TEMPO=$flags" >"$dir/config.ini"
  LOG=$dir/Command.log
  LD_PRELOAD=$PRELOAD FAKETIME_DONT_FAKE_MONOTONIC=1 FAKETIME="$FAKETIME" \
    "$dir/vestrel" >"$dir/app.log" 2>&1 &
  APP=$!
}
stop_program() { kill "$APP" 2>/dev/null; wait "$APP" 2>/dev/null; APP=; }

# 1. The boundary.
"$STANDIN_EXE" --password secret >"$WORK/standin1.out" &
SERVER=$!
wait_for "stand-in" 10000 grep -q '^port ' "$WORK/standin1.out"
port=$(awk '/^port /{print $2}' "$WORK/standin1.out")
FAKETIME="@2026-12-07 10:59:50" start_program "$WORK/one" "$port" 11
wait_for "the 11:00 backup" 30000 count_is "Fine Backup in data " 1
started=$(line "Inizio Backup in data " 1 | seconds_of)
boundary=$((11 * 3600))
echo "measured: hour 11's backup started at $(line "Inizio Backup in data " 1 | sed 's/.* alle ore //')"
[ "$started" -ge "$boundary" ] && [ "$started" -le $((boundary + 1)) ] ||
  fail "the 11:00 backup did not start within 1 s of 11:00:00"
count_is "Inizio Backup in data " 1 || fail "more than one backup started"
count_is "Errore" 0 || fail "the backup failed"
stop_program
kill "$SERVER"; wait "$SERVER" 2>/dev/null; SERVER=

# 2. A job that crosses the boundary: the stand-in holds it at 43 % until it reads a line.
coproc STANDIN { exec "$STANDIN_EXE" --password secret --pause-at 43; }
SERVER=$STANDIN_PID
exec {standin_out}<&"${STANDIN[0]}" {standin_in}>&"${STANDIN[1]}"
read -r -t 10 word port <&"$standin_out" && [ "$word" = port ] || fail "the stand-in did not start"
FAKETIME="@2026-12-07 10:59:55" start_program "$WORK/two" "$port" 10 11
read -r -t 30 word _ <&"$standin_out" && [ "$word" = paused ] || fail "hour 10's backup did not start"
sleep 7 # past 11:00 on the program's clock
echo >&"$standin_in"
wait_for "hour 11's backup after the long one" 30000 count_is "Fine Backup in data " 2
first_end=$(line "Fine Backup in data " 1 | seconds_of)
second=$(line "Inizio Backup in data " 2 | seconds_of)
echo "measured: hour 10's backup ended at $(line "Fine Backup in data " 1 | sed 's/.* alle ore //'), hour 11's started at $(line "Inizio Backup in data " 2 | sed 's/.* alle ore //')"
[ "$first_end" -ge "$boundary" ] || fail "hour 10's backup did not last past 11:00"
[ $((second - first_end)) -le 1 ] || fail "hour 11's backup did not follow within 1 s"
count_is "Errore" 0 || fail "a backup failed"
stop_program
echo PASS
