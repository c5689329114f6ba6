#!/usr/bin/env bash
# Configures and builds Ordavine with Ninja into ./build (or $ORDAVINE_BUILD_DIR).
# Extra arguments are passed to CMake at configure time (for example -DORDAVINE_SANITIZE=address).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${ORDAVINE_BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja "$@" >/dev/null
# One build at a time on this machine: the lock serialises concurrent builds of several checkouts.
exec 9>/tmp/ordavine-build.lock
flock 9
cmake --build "$BUILD_DIR" -j "${ORDAVINE_JOBS:-$(nproc)}"
