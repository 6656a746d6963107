#!/usr/bin/env bash
# A server name the system's resolver takes 30 s over (a preloaded getaddrinfo): the real
# program, on the offscreen platform in a program folder of its own whose config.ini names
# that server with the current hour enabled, starts its automatic backup at once:
#   SIGTERM during the lookup ends the program within 10 s (nobody waits for the lookup);
#   left alone, the run fails within its 15 s login timeout, saying the name was not resolved.
# Usage: slow_lookup.sh <vestrel> <tds_standin> <slow_resolver library>
set -u
[ -n "${TRACE:-}" ] && set -x
EXE=$1
STANDIN_EXE=$2
SHIM=$3
here=$(dirname "$0")
# shellcheck source=../support/e2e.sh
. "$here/../support/e2e.sh"

scratch slow-lookup
PROGRAM=
watched=(PROGRAM standin_pid)
stop_signal=KILL
LOG=$WORK/program/Command.log
fail_logs=("$LOG" "$WORK/program.out")

left=$(hour_left)
[ "$left" -lt 40 ] && sleep $((left + 2))

standin_start --password lookup-secret
mkdir -p "$WORK/program" "$WORK/target"
cp "$EXE" "$WORK/program/vestrel"
write_config "$WORK/program/config.ini" "sql.slow.test,$port" Sales lookup-secret \
  "$WORK/target/Sales.bak" "$(hour_flags "$(date +%-H)")"
chmod 600 "$WORK/program/config.ini"
export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false'
# A program built with AddressSanitizer wants its runtime first; the resolver comes first here.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
export LD_PRELOAD=$SHIM VESTREL_SLOW_NAME=.slow.test VESTREL_SLOW_SECONDS=30

start_program() {
  "$WORK/program/vestrel" >"$WORK/program.out" 2>&1 &
  PROGRAM=$!
  wait_for "the backup's start block" 10000 log_has "> File : $WORK/target/Sales.bak"
}

# SIGTERM while the name is being looked up.
start_program
sleep 1
start=$(now_ms)
kill -TERM "$PROGRAM"
exited() { ! kill -0 "$PROGRAM" 2>/dev/null; }
wait_for "the program's end after SIGTERM" 10000 exited
wait "$PROGRAM"
status=$?
PROGRAM=
echo "measured: SIGTERM during a 30 s name lookup to exit $(($(now_ms) - start)) ms"
[ "$status" -eq 0 ] || fail "the program ended with status $status"
log_has "> Errore Backup annullato per la fine della sessione.$" ||
  fail "the log does not say the backup was cancelled"

# Left alone: the lookup counts against the login timeout.
: >"$LOG"
start_program
start=$(now_ms)
wait_for "the failed lookup" 20000 log_has "> Errore "
echo "measured: a 30 s name lookup given up on after $(($(now_ms) - start)) ms"
log_has "> Errore Login timeout expired: the name sql.slow.test was not resolved within 15 seconds.$" ||
  fail "the lookup's failure does not say what happened"
kill -TERM "$PROGRAM"
wait "$PROGRAM"
PROGRAM=
echo PASS
