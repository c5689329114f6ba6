#!/usr/bin/env bash
# Installs every Debian 12 package Ordavine, its tests and its benchmarks need.
# Safe to run again: packages already present are left alone.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config clang-format
  # fuzzing (scripts/fuzz.sh)
  clang-14 libclang-rt-14-dev
  # program
  qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-qpa-plugins
  libavformat-dev libavcodec-dev libavfilter-dev libavutil-dev libswscale-dev libswresample-dev
  libsdl2-dev libcurl4-openssl-dev libssl-dev
  dvdauthor fonts-liberation2 fontconfig
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest
  ffmpeg genisoimage udftools lsdvd libdvdread-dev libdvdnav-dev mpv
  python3 python3-aiosmtpd python3-pycdlib p7zip-full xvfb xauth x11-apps imagemagick
  time
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=()
if [ "$(id -u)" -ne 0 ]; then SUDO=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -q
"${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
