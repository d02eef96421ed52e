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
# The hook service guards the modems' dials and every program start; only root can run it.
if [ "$(id -u)" -eq 0 ]; then
  if ! pgrep -x vardeld >/dev/null; then
    conf=/etc/qmvardel/vardeld.conf
    [ -f "$conf" ] || conf=hook/service/vardeld.conf
    setsid "$bin/vardeld" --config "$conf" </dev/null >>/tmp/vardeld.log 2>&1 &
    echo "Hook service started (configuration $conf, log /tmp/vardeld.log)."
  fi
else
  echo "Not root: the hook service vardeld is not started, so dials on the modems and program starts"
  echo "are not guarded (the guard still answers requests sent with vardel-hook). Run as root to guard them."
fi
exec "$bin/QmVardel" "$@"
