#!/usr/bin/env bash
# The TDS stand-in against a second TDS implementation, tedious (JavaScript): see
# tedious_conformance.js. Skipped (77) where node is missing or tedious could not be installed
# (the install step, tst_tds_conformance_npm, puts it in the build folder).
# Usage: run.sh <tds_standin> <folder holding node_modules/tedious>
set -u
STANDIN_EXE=$1
MODULES=$2
here=$(dirname "$0")
# shellcheck source=../support/e2e.sh
. "$here/../support/e2e.sh"

command -v node >/dev/null 2>&1 ||
  { echo "SKIP: node is not installed (Debian: apt install nodejs npm); the conformance test drives the stand-in with tedious, a TDS client for node"; exit 77; }
[ -f "$MODULES/node_modules/tedious/package.json" ] ||
  { echo "SKIP: tedious is not installed in $MODULES (tst_tds_conformance_npm installs it with npm)"; exit 77; }

scratch conformance
watched=(standin_pid)
# A backup takes about two seconds, so a cancel can come before and during its output even on
# a busy machine.
standin_start --password conformance --delay-ms 250
NODE_PATH=$MODULES/node_modules node "$here/tedious_conformance.js" "$port" "$WORK"
