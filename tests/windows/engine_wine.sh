#!/usr/bin/env bash
# The backup engine of the Windows build through Windows' driver manager under Wine (odbc32
# handing the calls to the host's unixODBC and FreeTDS) against the TDS stand-in: a verified
# backup with its progress, the stand-in's file where the program named it.
#   engine_wine.sh <backup_once.exe> <tds_standin>
set -u
EXE=$1
STANDIN_EXE=$2
here=$(dirname "$0")
# shellcheck source=../support/e2e.sh
. "$here/../support/e2e.sh"
need_tools wine wineserver
scratch engine-wine
watched=(standin_pid)
fail_logs=("$WORK/out.txt")

# The stand-in is a Linux program and reads the program's "Z:/..." paths as relative ones: in a
# folder of its own, "Z:" is a link to /, as in Wine's dosdevices.
mkdir -p "$WORK/standin"
ln -s / "$WORK/standin/Z:"
cd "$WORK/standin" || fail "no stand-in folder"
standin_start --password wine-secret
cd - >/dev/null || exit 1

start=$(now_ms)
"$here/../support/wine-run.sh" "$EXE" "127.0.0.1,$port" sa wine-secret Gestionale "Z:$WORK/G.bak" \
  >"$WORK/out.txt" 2>&1 || fail "the backup failed"
echo "measured: backup through Wine's odbc32 in $(($(now_ms) - start)) ms"
tr -d '\r' <"$WORK/out.txt" >"$WORK/events.txt"
cat "$WORK/events.txt"
for p in 10 21 32 43 54 65 76 87 100; do
  grep -q "^percent $p $p percent processed\.$" "$WORK/events.txt" || fail "no progress event for $p %"
done
grep -q "^complete BACKUP DATABASE successfully processed.* is valid\.$" "$WORK/events.txt" ||
  fail "no completion event with the verification"
grep -q "^done$" "$WORK/events.txt" || fail "the backup did not end"
grep -q '^VESTREL-STANDIN-BACKUP$' "$WORK/G.bak" && grep -q '^database=Gestionale$' "$WORK/G.bak" ||
  fail "the backup file is not the stand-in's backup of Gestionale"
echo PASS
