#!/usr/bin/env bash
# Builds the Debian package rimbal2_<version>_<arch>.deb (program, engine,
# plug-ins, demo kit, menu entry, icons and file types) into build-package/,
# without tests or benchmarks; with "install" it then installs it with apt.
#   scripts/package.sh [install]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$root/build-package
"$root/scripts/deps.sh"
"$root/scripts/build.sh" "$dir" -DRB_BUILD_TESTS=OFF -DRB_BUILD_BENCH=OFF
(cd "$dir" && cpack -G DEB)
deb=$(ls -t "$dir"/rimbal2_*.deb | head -n 1)
echo "Pacote: $deb"
if [ "${1:-}" = install ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get install -y "$deb"
fi
