#!/usr/bin/env bash
# Builds the fuzz preset (clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer) and
# runs every fuzz target in turn for SECONDS each (default 20), starting from its seed corpus
# fuzz/corpus/<target>/ (left unchanged: new inputs go to a scratch folder). Exits 1 when any target
# crashes or an oracle fails; the input that did it is kept in build/fuzz/artifacts/.
# Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}

# Installs what is missing (clang and its libFuzzer runtime among it), configures and builds.
scripts/setup.sh fuzz

artifacts=build/fuzz/artifacts
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$artifacts"
failed=()
for fuzzer in build/fuzz/bin/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  mkdir -p "$scratch/$name" "fuzz/corpus/$name"
  log="$artifacts/$name.log"
  if "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
      -artifact_prefix="$artifacts/$name-" "$scratch/$name" "fuzz/corpus/$name" >"$log" 2>&1; then
    echo "== $name: $(grep -E '^Done [0-9]+ runs' "$log" | tail -1 || true), $(grep -Eo 'cov: [0-9]+' "$log" | tail -1 || true)"
  else
    echo "== $name: FAILED (log $log)"
    tail -40 "$log"
    failed+=("$name")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "Fuzz targets that failed: ${failed[*]}"
  exit 1
fi
