#!/usr/bin/env bash
# Ending the real program during a backup whose server stopped answering, with a second
# program on the same backup file. The TDS stand-in stops after "43 percent processed." and
# never answers again (not even the cancel); the program runs on the offscreen platform in a
# program folder of its own whose config.ini points at the stand-in with the current hour
# enabled, so its automatic backup starts at once:
#   a second program (another folder, the same file) fails with "Errore" and leaves the
#   first one's partial file alone -> SIGTERM ends the first program within 10 s, its log
#   says why the backup stopped and has no closing lines, the last good file is intact, no
#   partial or lock file is left.
# Usage: stop.sh <vestrel> <tds_standin>
set -u
EXE=$1
STANDIN_EXE=$2
here=$(dirname "$0")
# shellcheck source=../support/e2e.sh
. "$here/../support/e2e.sh"

scratch stop
FIRST=
SECOND=
watched=(FIRST SECOND standin_pid)
stop_signal=KILL
fail_logs=("$WORK/first/Command.log" "$WORK/second/Command.log")

# The automatic backup starts within a second of start-up; keep clear of the hour's end.
left=$(hour_left)
[ "$left" -lt 30 ] && sleep $((left + 2))

standin_start --password stop-secret --stall-at 43

TARGET=$WORK/target/Sales.bak
mkdir -p "$WORK/target"
printf 'the last good backup' >"$TARGET"
flags=$(hour_flags "$(date +%-H)")
program() { # <folder>: a program folder whose config.ini points at the stand-in and TARGET
  mkdir -p "$1"
  cp "$EXE" "$1/vestrel"
  write_config "$1/config.ini" "127.0.0.1,$port" Sales stop-secret "$TARGET" "$flags"
  chmod 600 "$1/config.ini"
}
# log_in <folder> <text>: the text is in that program's log.
log_in() { tr -d '\r' <"$1/Command.log" 2>/dev/null | grep -q -- "$2"; }
export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false'

program "$WORK/first"
"$WORK/first/vestrel" >"$WORK/first.out" 2>&1 &
FIRST=$!
read -r -t 30 word percent <&"$standin_out" && [ "$word" = stalled ] ||
  fail "no automatic backup reached the stand-in"
wait_for "progress line 43" 5000 log_in "$WORK/first" "percent processed. 43\$"
[ -e "$TARGET.vestrel-new" ] || fail "no partial file beside the target"

# A second program on the same file fails at once and touches nothing of the first one's.
program "$WORK/second"
"$WORK/second/vestrel" >"$WORK/second.out" 2>&1 &
SECOND=$!
wait_for "the second program's error" 10000 log_in "$WORK/second" \
  "> Errore Il file $TARGET è in uso da un altro backup in corso"
[ -e "$TARGET.vestrel-new" ] || fail "the second program removed the first one's partial file"
kill -TERM "$SECOND"
wait "$SECOND"
SECOND=

# SIGTERM: the session is ending.
start=$(now_ms)
kill -TERM "$FIRST"
exited() { ! kill -0 "$FIRST" 2>/dev/null; }
wait_for "the program's end after SIGTERM" 10000 exited
wait "$FIRST"
status=$?
FIRST=
echo "measured: SIGTERM to exit $(($(now_ms) - start)) ms"
[ "$status" -eq 0 ] || fail "the program ended with status $status"
last=$(tr -d '\r' <"$WORK/first/Command.log" | tail -1)
case "$last" in
*"> Errore Backup annullato per la fine della sessione. Il server non ha risposto e non viene più atteso.") ;;
*) fail "the log does not end with the cancelled backup's error: $last" ;;
esac
log_in "$WORK/first" "Chiusura Programma" && fail "session end wrote closing lines"
log_in "$WORK/first" "Fine Backup" && fail "the cancelled backup has an end block"
[ "$(cat "$TARGET")" = "the last good backup" ] || fail "the last good backup was touched"
leftover=$(ls -A "$WORK/target" | grep -v '^Sales.bak$')
[ -z "$leftover" ] || fail "left beside the target: $leftover"
echo PASS
