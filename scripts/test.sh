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
# Libraries that are not built with the sanitizers (Qt, FFmpeg, SDL) have their own suppressions.
export TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp halt_on_error=0 exitcode=66 second_deadlock_stack=1 die_after_fork=0"
export ASAN_OPTIONS="detect_leaks=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp print_suppressions=0"
./scripts/build.sh -DORDAVINE_WERROR=ON "${args[@]}"
export QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy
ctest --test-dir "$ORDAVINE_BUILD_DIR" --output-on-failure -j "$(nproc)" --timeout 300 "${filter[@]}"
