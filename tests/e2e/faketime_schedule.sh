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
# shellcheck source=../support/e2e.sh
. "$here/../support/e2e.sh"

FAKETIME_LIB=
for lib in /usr/lib/*/faketime/libfaketime.so.1 /usr/lib/faketime/libfaketime.so.1; do
  [ -e "$lib" ] && { FAKETIME_LIB=$lib; break; }
done
[ -n "$FAKETIME_LIB" ] || { echo "SKIP: libfaketime is not installed (Debian faketime)"; exit 77; }
# A sanitizer build's runtime must come first among the preloaded libraries.
PRELOAD=$FAKETIME_LIB
asan=$(ldd "$EXE" 2>/dev/null | awk '/libasan/ {print $3}')
[ -n "$asan" ] && PRELOAD=$asan:$FAKETIME_LIB

scratch faketime
APP=
LOG=
watched=(APP standin_pid)
export TZ=Europe/Rome LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen

# Seconds of the day of the time in a log line "... alle ore H:MM:SS" (or H.MM.SS).
seconds_of() { sed -E 's/.* alle ore ([0-9]+)[:.]([0-9]+)[:.]([0-9]+).*/\1 \2 \3/' | awk '{print $1 * 3600 + $2 * 60 + $3}'; }
line() { tr -d '\r' <"$LOG" | grep -- "$1" | sed -n "${2}p"; }

# start_program <dir> <port> <hours...>: the program in a folder of its own, under faketime.
start_program() {
  local dir=$1 port=$2
  shift 2
  mkdir -p "$dir"
  cp "$EXE" "$dir/vestrel"
  write_config "$dir/config.ini" "127.0.0.1,$port" Sales secret "$dir/Sales.bak" "$(hour_flags "$@")"
  LOG=$dir/Command.log
  fail_logs=("$LOG" "$dir/app.log")
  LD_PRELOAD=$PRELOAD FAKETIME_DONT_FAKE_MONOTONIC=1 FAKETIME="$FAKETIME" \
    "$dir/vestrel" >"$dir/app.log" 2>&1 &
  APP=$!
}
stop_program() { kill "$APP" 2>/dev/null; wait "$APP" 2>/dev/null; APP=; }

# 1. The boundary.
standin_start --password secret
FAKETIME="@2026-12-07 10:59:50" start_program "$WORK/one" "$port" 11
wait_for "the 11:00 backup" 30000 log_count_is "Fine Backup in data " 1
started=$(line "Inizio Backup in data " 1 | seconds_of)
boundary=$((11 * 3600))
echo "measured: hour 11's backup started at $(line "Inizio Backup in data " 1 | sed 's/.* alle ore //')"
[ "$started" -ge "$boundary" ] && [ "$started" -le $((boundary + 1)) ] ||
  fail "the 11:00 backup did not start within 1 s of 11:00:00"
log_count_is "Inizio Backup in data " 1 || fail "more than one backup started"
log_count_is "Errore" 0 || fail "the backup failed"
stop_program
standin_stop

# 2. A job that crosses the boundary: the stand-in holds it at 43 % until it reads a line.
standin_start --password secret --pause-at 43
FAKETIME="@2026-12-07 10:59:55" start_program "$WORK/two" "$port" 10 11
read -r -t 30 word _ <&"$standin_out" && [ "$word" = paused ] || fail "hour 10's backup did not start"
sleep 7 # past 11:00 on the program's clock
echo >&"$standin_in"
wait_for "hour 11's backup after the long one" 30000 log_count_is "Fine Backup in data " 2
first_end=$(line "Fine Backup in data " 1 | seconds_of)
second=$(line "Inizio Backup in data " 2 | seconds_of)
echo "measured: hour 10's backup ended at $(line "Fine Backup in data " 1 | sed 's/.* alle ore //'), hour 11's started at $(line "Inizio Backup in data " 2 | sed 's/.* alle ore //')"
[ "$first_end" -ge "$boundary" ] || fail "hour 10's backup did not last past 11:00"
[ $((second - first_end)) -le 1 ] || fail "hour 11's backup did not follow within 1 s"
log_count_is "Errore" 0 || fail "a backup failed"
stop_program
echo PASS
