#!/usr/bin/env bash
# Installs what building and testing need (Debian 12), then configures and builds.
# Quiet and quick when everything is already there. Usage: scripts/setup.sh [preset]
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-release}

packages=(
  g++ cmake ninja-build pkg-config clang-format dpkg-dev file
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-multimedia-dev qt6-qpa-plugins libgl-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libcurl4-openssl-dev libzip-dev libssl-dev
  xvfb xauth xdotool xclip x11-utils fonts-liberation imagemagick libxcb1-dev
  ppp iproute2 procps lighttpd
  dbus dbus-daemon pulseaudio pulseaudio-utils
)
# The fuzz preset (scripts/fuzz.sh) builds with clang and its libFuzzer runtime.
if [ "$preset" = fuzz ]; then
  packages+=(clang libclang-rt-14-dev)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -- -j"$(nproc)"
