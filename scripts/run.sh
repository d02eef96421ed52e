#!/usr/bin/env bash
# Sets up, builds and starts the guard. Without a display it starts a virtual one (Xvfb :77).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh release
bin=build/release/bin
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export DISPLAY=:77
  if ! xdpyinfo >/dev/null 2>&1; then
    Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  fi
  echo "No display found: the guard runs on the virtual display $DISPLAY."
  echo "Look at it with: DISPLAY=$DISPLAY import -window root screen.png"
fi
exec "$bin/QmVardel" "$@"
