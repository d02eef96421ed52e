#!/usr/bin/env bash
# Fails, naming the files, when a tracked C++ file differs from what clang-format (Debian's 14,
# with the repository's .clang-format) makes of it. Fix with: clang-format -i FILE...
set -euo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$format" ]; then
  echo "clang-format is not installed (scripts/setup.sh installs it)" >&2
  exit 2
fi
# One clang-format run over every file; each difference is reported as FILE:LINE:COL: error: ...
report=$(git ls-files -z -- '*.cpp' '*.h' '*.hpp' '*.cc' | xargs -0 -r "$format" --dry-run --Werror 2>&1) && status=0 || status=$?
if [ "$status" -ne 0 ]; then
  bad=$(printf '%s\n' "$report" | sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: error: .*/\1/p' | sort -u)
  if [ -z "$bad" ]; then
    printf '%s\n' "$report" >&2
    exit "$status"
  fi
  echo "Not formatted as $("$format" --version | sed 's/.*version //') formats them:" >&2
  printf '%s\n' "$bad" | sed 's/^/  /' >&2
  echo "Fix with: $format -i FILE..." >&2
  exit 1
fi
