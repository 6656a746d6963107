#!/usr/bin/env bash
# The install step of the conformance test: tedious, at the version package-lock.json pins,
# from the npm registry into <folder>/node_modules. Skipped (77) without node and npm; does
# nothing when that version is there already.
# Usage: install.sh <folder>
set -u
here=$(cd "$(dirname "$0")" && pwd)
dest=$1
command -v npm >/dev/null 2>&1 ||
  { echo "SKIP: npm is not installed (Debian: apt install nodejs npm)"; exit 77; }
mkdir -p "$dest"
if cmp -s "$here/package-lock.json" "$dest/package-lock.json" && [ -d "$dest/node_modules/tedious" ]; then
  echo "tedious is installed in $dest"
  exit 0
fi
cp "$here/package.json" "$here/package-lock.json" "$dest/"
cd "$dest" && npm ci --no-audit --no-fund --loglevel=error
