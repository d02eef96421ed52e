#!/usr/bin/env bash
# Builds the release preset and runs every benchmark program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh release
for b in build/release/bin/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" --benchmark_min_time=0.2
done
