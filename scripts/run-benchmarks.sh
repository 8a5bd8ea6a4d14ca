#!/usr/bin/env bash
# Runs every benchmark program of the build folder. BENCH_SHORT=1 asks each for
# its short mode (a few seconds), as the test command does.
set -euo pipefail
build=${1:-build}
shopt -s nullglob
status=0
for b in "$build"/bin/bench_*; do
  echo "== $(basename "$b")"
  "$b" || status=1
done
exit $status
