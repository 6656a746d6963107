#!/usr/bin/env bash
# The driver a connection uses, chosen from the driver manager's own list (SQLDrivers): a
# registry of three SQL Server drivers in odbcinst.ini (ODBCSYSINI), read by client_check in a
# fresh process. On Linux unixODBC reads it; under Wine, odbc32 hands the calls to the host's
# unixODBC, which reads it from the environment Wine was started with.
#   driver_list.sh <client_check> <expected driver> [runner...]
set -u
check=$1
expected=$2
shift 2
dir=$(mktemp -d -t vestrel-odbc.XXXXXX)
trap 'rm -rf "$dir"' EXIT
printf '[FreeTDS]\nDriver=libtdsodbc.so\n\n[SQL Server]\nDriver=sqlsrv32.dll\n\n[ODBC Driver 17 for SQL Server]\nDriver=libmsodbcsql-17.so\n' \
  >"$dir/odbcinst.ini"
output=$(ODBCSYSINI=$dir "$@" "$check" | tr -d '\r')
chosen=$(sed -n 3p <<<"$output")
echo "$output"
[ "$(head -n1 <<<"$output")" = installed ] || { echo "FAIL: no SQL Server driver found"; exit 1; }
[ "$chosen" = "$expected" ] || { echo "FAIL: chose \"$chosen\", not \"$expected\""; exit 1; }
echo "PASS: $chosen"
