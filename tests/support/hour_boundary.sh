#!/usr/bin/env bash
# hour_boundary.sh <test program> <test function>: runs one test function under libfaketime,
# the wall clock set 3 s before the next full hour and running at its real rate, with
# VESTREL_HOUR_BOUNDARY=1. A Windows program (*.exe) runs under Wine in a Wine prefix of its
# own, so that its wineserver, which keeps the waitable timers, runs on the same clock.
set -u
program=$1
shift
lib=$(find /usr/lib -name libfaketime.so.1 -path '*faketime*' 2>/dev/null | head -n1)
[ -n "$lib" ] || { echo "SKIP: libfaketime is not installed (faketime)"; exit 77; }
read -r minute second < <(date '+%M %S')
offset=$((3600 - 10#$minute * 60 - 10#$second - 3))
export LD_PRELOAD=$lib FAKETIME="+$offset" FAKETIME_DONT_FAKE_MONOTONIC=1 VESTREL_HOUR_BOUNDARY=1
case $program in
*.exe)
  WINEPREFIX=$(mktemp -d -t vestrel-hour.XXXXXX)/prefix
  export WINEPREFIX
  trap 'wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; rm -rf "$(dirname "$WINEPREFIX")"' EXIT
  "$(dirname "$0")/wine-run.sh" "$program" "$@"
  ;;
*) "$program" "$@" ;;
esac
