#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs everything Sonvex needs to build, test, fuzz and run on Debian 12.
# Idempotent: apt is skipped when every package is already present.
set -euo pipefail

packages=(
  g++ clang cmake ninja-build ccache make pkg-config clang-format-14
  libgtest-dev libgmock-dev libbenchmark-dev libclang-rt-14-dev
  libcli11-dev libsndfile1-dev libfluidsynth-dev qt6-base-dev
  qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
  fonts-ipafont-gothic
  python3 python3-mido gigtools sf3convert xvfb imagemagick xauth
  zlib1g-dev xorriso sox
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "install-deps: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
