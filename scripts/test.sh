#!/usr/bin/env bash
# Installs what is missing, builds Ordavine with its tests and runs the whole test suite.
#   ./scripts/test.sh            ordinary build (warnings are errors)
#   ./scripts/test.sh --asan     AddressSanitizer + UndefinedBehaviorSanitizer build, whole suite
#   ./scripts/test.sh --tsan     ThreadSanitizer build, threaded tests
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-}
./scripts/install-deps.sh
case "$mode" in
  "")     export ORDAVINE_BUILD_DIR=build; args=(); filter=() ;;
  --asan) export ORDAVINE_BUILD_DIR=build-asan; args=(-DORDAVINE_SANITIZE=address -DORDAVINE_BENCH=OFF); filter=() ;;
  --tsan) export ORDAVINE_BUILD_DIR=build-tsan; args=(-DORDAVINE_SANITIZE=thread -DORDAVINE_BENCH=OFF); filter=(-L threaded) ;;
  *) echo "usage: $0 [--asan|--tsan]" >&2; exit 2 ;;
esac
./scripts/build.sh -DORDAVINE_WERROR=ON "${args[@]}"
export QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy
ctest --test-dir "$ORDAVINE_BUILD_DIR" --output-on-failure -j "$(nproc)" --timeout 300 "${filter[@]}"
