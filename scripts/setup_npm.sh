#!/usr/bin/env bash
# The npm packages of the page's test (tests/web/package-lock.json) into
# tests/web/node_modules, when missing or older than the lock file.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
web="$root/tests/web"
stamp="$web/node_modules/.package-lock.json"
# Two installs at once into one folder leave files out: one at a time, and
# the second finds the first's work done.
exec 9>"${TMPDIR:-/tmp}/plix-setup-npm.lock"
flock 9
if [ ! -f "$stamp" ] || [ "$web/package-lock.json" -nt "$stamp" ]; then
  npm ci --prefix "$web" --no-audit --no-fund --ignore-scripts --silent
fi
