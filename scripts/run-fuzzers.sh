#!/usr/bin/env bash
# Builds every fuzz target listed by the fuzzing build and runs each for a
# short time on a scratch copy of its seed corpus. Fails on the first crash.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-15}
jobs=${3:-2}
list="$build/fuzzers.txt"

if [ ! -s "$list" ]; then
  echo "run-fuzzers: no fuzz targets"
  exit 0
fi
targets=$(cut -d' ' -f1 "$list" | tr '\n' ' ')
cmake --build "$build" -j"$jobs" --target $targets
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
while read -r name corpus; do
  [ -n "$name" ] || continue
  mkdir -p "$scratch/$name"
  if [ -n "$corpus" ] && [ -d "$corpus" ]; then cp -r "$corpus/." "$scratch/$name/"; fi
  echo "== $name (${seconds}s)"
  ASAN_OPTIONS=detect_leaks=1 "$build/bin/$name" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$build/$name-" "$scratch/$name" 2>&1 | tail -n 15
done < "$list"
