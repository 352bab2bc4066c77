#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a short while, seeded with the
# corpus folder of the same name under tests/fuzz/corpus when there is one.
set -euo pipefail
build=${1:?build folder}
secs=${FUZZ_SECONDS:-20}
top=$(cd "$(dirname "$0")/.." && pwd)
shopt -s nullglob
for f in "$build"/tests/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  work=$(mktemp -d)
  seeds=()
  if [ -d "$top/tests/fuzz/corpus/$name" ]; then seeds+=("$top/tests/fuzz/corpus/$name"); fi
  echo "fuzz: $name for ${secs}s"
  ASAN_OPTIONS=detect_leaks=1 "$f" -max_total_time="$secs" -rss_limit_mb=2048 -timeout=10 \
    -print_final_stats=0 "$work" "${seeds[@]}" 2>"$work.log" || { tail -n 60 "$work.log"; exit 1; }
  rm -rf "$work" "$work.log"
done
