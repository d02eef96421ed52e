#!/usr/bin/env bash
# Regenerates docs/screenshots: every tab of the main window in the default skin, the scan results, the
# removal report, the update memo, the dialer prompt, the first-run picker, an alarm
# dialog and the tray menu, drawn on a virtual display (Xvfb) by qm_screenshots, which runs the
# window from a temporary folder so no settings or autostart entry is touched.
# Usage: scripts/screenshots.sh [OUTDIR [SKIN]]   (SKIN 0-3; default: the default skin, 0)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshots}
scripts/setup.sh release >/dev/null
cmake --build build/release --target qm_screenshots qm_resources -- -j2 >/dev/null
display=:78
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
for _ in $(seq 50); do DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
DISPLAY=$display QT_QPA_PLATFORM=xcb build/release/bin/qm_screenshots "$out" ${2:+"$2"}
echo "Screenshots written to $out"
