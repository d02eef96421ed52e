#!/usr/bin/env bash
# Builds the Debian package (build/package/qmvardel_<version>_<arch>.deb) and shows its control data.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh package
cpack --preset deb
deb=$(ls -t build/package/qmvardel_*.deb | head -n1)
dpkg-deb -I "$deb"
echo "Package: $deb"
