#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Rimbal 2 needs.
# Does nothing when all of them are already present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-translations-l10n
  librtaudio-dev libsndfile1-dev libsoxr-dev libtag1-dev libzip-dev zlib1g-dev libarchive-dev
  hydrogen-data
  libgtest-dev libgmock-dev libbenchmark-dev
  pulseaudio pulseaudio-utils
  librtmidi-dev jackd2 libjack-jackd2-dev
  xvfb xdotool
  desktop-file-utils xdg-utils shared-mime-info libfile-mimeinfo-perl
  zip unzip python3
  dpkg-dev lintian
  clang libclang-rt-14-dev llvm
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

echo "Instalando pacotes: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
