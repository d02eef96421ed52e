#!/usr/bin/env bash
# Sets up, builds and runs every test. Usage: scripts/test.sh [preset]
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-release}
scripts/setup.sh "$preset"
ctest --preset "$preset" -j"$(nproc)"
