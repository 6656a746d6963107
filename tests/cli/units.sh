#!/usr/bin/env bash
# The systemd units: every one passes `systemd-analyze verify` (with the built program in
# ExecStart, the templates as an instance), the system template's hardening is measured with
# `systemd-analyze security`, and the command lines the services run make a backup against the
# TDS stand-in, with their specifiers filled in as systemd fills them (the credential, the log
# and state folders), without a display.
# Usage: units.sh <vestrel> <tds_standin> <configured units folder> <source units folder>
set -u
EXE=$1
STANDIN_EXE=$2
CONFIGURED=$3
SOURCES=$4
here=$(dirname "$0")
# shellcheck source=../support/e2e.sh
. "$here/../support/e2e.sh"
need_tools --skip systemd-analyze

scratch units
watched=(standin_pid)
fail_logs=("$WORK/out")

# The units as installed, with the built program in place of the installed one.
UNITS=$WORK/units
mkdir -p "$UNITS"
installed=$(sed -n 's/^ExecStart=\([^ ]*\) .*/\1/p' "$CONFIGURED/vestrel-backup@.service")
for unit in "$CONFIGURED"/*.service "$SOURCES"/*.timer; do
  sed "s|^ExecStart=$installed |ExecStart=$EXE |" "$unit" >"$UNITS/$(basename "$unit")"
done
ln -s 'vestrel-backup@.service' "$UNITS/vestrel-backup@sales.service"
ln -s 'vestrel-backup@.timer' "$UNITS/vestrel-backup@sales.timer"

# verify: exit status 0 and not a word (an unknown key is only a warning). The user pair as a
# user's manager reads it, which wants a runtime folder of its own.
mkdir -m 700 "$WORK/runtime"
verify() { # <scope> <unit>
  out=$(cd "$UNITS" && XDG_RUNTIME_DIR=$WORK/runtime SYSTEMD_LOG_COLOR=0 \
    systemd-analyze "$1" verify --man=no "./$2" 2>&1)
  status=$?
  [ "$status" -eq 0 ] && [ -z "$out" ] || fail "systemd-analyze $1 verify $2: $out"
}
for unit in vestrel-backup.service vestrel-backup.timer; do verify --user "$unit"; done
for unit in vestrel-backup@sales.service vestrel-backup@sales.timer; do verify --system "$unit"; done
echo "systemd-analyze verify: 4 units clean"

# The template's exposure, as systemd measures it (0 best, 10 worst).
exposure=$(cd "$UNITS" && systemd-analyze security --offline=yes --no-pager vestrel-backup@.service 2>&1 |
  sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
[ -n "$exposure" ] || fail "systemd-analyze security gave no exposure level"
echo "measured: systemd-analyze security exposure of vestrel-backup@.service: $exposure"
awk -v e="$exposure" 'BEGIN { exit !(e <= 2.0) }' || fail "the template's exposure $exposure is above 2.0"

# exec_line <unit> <instance> <credentials> <logs> <state>: its ExecStart, the specifiers filled.
exec_line() {
  sed -n 's/^ExecStart=//p' "$UNITS/$1" |
    sed -e "s|%i|$2|g" -e "s|%d|$3|g" -e "s|%L|$4|g" -e "s|%S|$5|g"
}

standin_start --password unit-secret
TARGET=$WORK/target/Sales.bak
mkdir -p "$WORK/target"
all_hours=$(hour_flags $(seq 0 23))

# The system template, instance "sales": the credential is a copy of /etc/vestrel/sales.ini,
# LogsDirectory= and StateDirectory= exist before the start, as systemd makes them.
mkdir -p "$WORK/creds" "$WORK/log/vestrel/sales" "$WORK/state/vestrel/metrics"
write_config "$WORK/creds/config.ini" "127.0.0.1,$port" Sales unit-secret "$TARGET" "$all_hours"
read -r -a command <<<"$(exec_line vestrel-backup@.service sales "$WORK/creds" "$WORK/log" "$WORK/state")"
echo "vestrel-backup@sales.service runs: ${command[*]}"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "${command[@]}" >"$WORK/out" 2>&1
status=$?
[ "$status" -eq 0 ] || fail "the template's command line ended with status $status"
LOG=$WORK/log/vestrel/sales/Command.log
log_has ' > Fine Backup in data ' || fail "no end block in the instance's Command.log"
grep -q '^VESTREL-STANDIN-BACKUP$' "$TARGET" || fail "no backup file"
grep -q '^vestrel_last_result{server="127.0.0.1,'"$port"'",database="Sales"} 0$' \
  "$WORK/state/vestrel/metrics/sales.prom" || fail "no metrics file with result 0"

# The user service: the program's own folder, as the window uses it.
PROGRAM=$WORK/program
mkdir -p "$PROGRAM"
cp "$EXE" "$PROGRAM/vestrel"
write_config "$PROGRAM/config.ini" "127.0.0.1,$port" Sales unit-secret "$TARGET" "$all_hours"
read -r -a command <<<"$(sed -n 's/^ExecStart=//p' "$UNITS/vestrel-backup.service" |
  sed "s|^$EXE |$PROGRAM/vestrel |")"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "${command[@]}" >"$WORK/out" 2>&1
status=$?
[ "$status" -eq 0 ] || fail "the user service's command line ended with status $status"
LOG=$PROGRAM/Command.log
log_has ' > Fine Backup in data ' || fail "no end block in the program folder's Command.log"
echo PASS
