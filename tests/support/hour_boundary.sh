#!/usr/bin/env bash
# hour_boundary.sh <test program> <test function>: runs one test function under libfaketime,
# the wall clock set 5 s before the next full hour and running at its real rate, with
# VESTREL_HOUR_BOUNDARY=1. A Windows program (*.exe) runs under Wine in a Wine prefix of its
# own, so that its wineserver, which keeps the waitable timers, runs on the same clock.
set -u
program=$1
shift
lib=$(find /usr/lib -name libfaketime.so.1 -path '*faketime*' 2>/dev/null | head -n1)
[ -n "$lib" ] || { echo "SKIP: libfaketime is not installed (faketime)"; exit 77; }
# set_clock: the offset that puts the wall clock 5 s before the next full hour, from now.
set_clock() {
  local minute second
  read -r minute second < <(date '+%M %S')
  export LD_PRELOAD=$lib FAKETIME="+$((3600 - 10#$minute * 60 - 10#$second - 5))"
  # File times stay real: Wine compares them to tell whether its prefix is up to date.
  export FAKETIME_DONT_FAKE_MONOTONIC=1 NO_FAKE_STAT=1 VESTREL_HOUR_BOUNDARY=1
  # The sanitizer build's runtime wants to be loaded first; libfaketime comes before it.
  export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
}
case $program in
*.exe)
  WINEPREFIX=$(mktemp -d -t vestrel-hour.XXXXXX)/prefix
  export WINEPREFIX
  trap 'wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; rm -rf "$(dirname "$WINEPREFIX")"' EXIT
  # The prefix first (it takes a while), then a wineserver of its own on the set clock.
  VESTREL_QTEST_LOG= "$(dirname "$0")/wine-run.sh" cmd /c exit
  wineserver -w 2>/dev/null
  set_clock
  "$(dirname "$0")/wine-run.sh" "$program" "$@"
  ;;
*)
  set_clock
  "$program" "$@"
  ;;
esac
