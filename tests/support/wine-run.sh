#!/usr/bin/env bash
# Runs a Windows executable of the build under wine64: ctest's cross-compiling emulator for the
# Windows edition, and the end-to-end scripts' way to start the program.
#   wine-run.sh <program.exe> <args...>
# Environment: WINEPREFIX (made on first use), VESTREL_WINE_PATH (folders of the DLLs, as
# Windows paths separated by '|'), VESTREL_QTEST_LOG=1 for a Qt Test executable.
#
# Wine passes no QT_* variable to the program, but WINEQT_X arrives as QT_X: each QT_ one is
# passed that way. A Qt Test log written to a pipe arrives empty under Wine, so a test writes
# its log to a file, printed here when it ends.
set -uo pipefail

program=$1
shift
export WINEDEBUG=${WINEDEBUG:--all}
# No Gecko or Mono installer dialogs, and no menu entries in the host's own desktop.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}
: "${WINEPREFIX:?WINEPREFIX is not set}"
export WINEPREFIX
[ -n "${VESTREL_WINE_PATH:-}" ] && export WINEPATH=${VESTREL_WINE_PATH//|/;}
while IFS='=' read -r name _; do
  case $name in QT_*) export "WINE$name=${!name}" ;; esac
done < <(env)
# One prefix per build; a program started here must not wait for the prefix to be made.
# The tests' programs draw offscreen: Wine's null display driver gives them windows, which
# Windows' messages (the end of the session) go to, without a display.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  wineserver -w
fi

if [ "${VESTREL_QTEST_LOG:-}" = 1 ]; then
  log=$(mktemp -t vestrel-qtest.XXXXXX)
  trap 'rm -f "$log"' EXIT
  wine "$program" "$@" -o "$(winepath -w "$log" 2>/dev/null),txt"
  status=$?
  tr -d '\r' <"$log"
  exit $status
fi
exec wine "$program" "$@"
