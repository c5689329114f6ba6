#!/usr/bin/env bash
# Installs what is missing, builds Ordavine and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
# Offer the program in the desktop's "Open with" for video files.
apps="${XDG_DATA_HOME:-$HOME/.local/share}/applications"
mkdir -p "$apps" && cp build/bin/ordavine.desktop "$apps/ordavine.desktop"
command -v update-desktop-database >/dev/null && update-desktop-database "$apps" >/dev/null 2>&1 || true
exec ./build/bin/ordavine "$@"
