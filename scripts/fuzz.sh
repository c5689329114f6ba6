#!/usr/bin/env bash
# Builds the libFuzzer targets (clang-14, ASan + UBSan) into ./build-fuzz and runs each one for a
# bounded time from seeds made here and now (nothing is downloaded).
#   ./scripts/fuzz.sh              every target, 60 s each
#   ./scripts/fuzz.sh 300          every target, 300 s each
#   ./scripts/fuzz.sh 30 drive     only fuzz_drive, 30 s
# Findings (crash-*, timeout-*, oom-*, leak-*) land in build-fuzz/findings/<target>/; the script
# exits 1 when any target found something. The corpus grows in build-fuzz/corpus/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(drive colormap background endpoints settings probe)
  [ -f fuzz/fuzz_iso.cpp ] && targets+=(iso)
fi
BUILD=build-fuzz

./scripts/install-deps.sh
CC=clang-14 CXX=clang++-14 cmake -S . -B "$BUILD" -G Ninja -DORDAVINE_FUZZ=ON \
  -DORDAVINE_TESTS=OFF -DORDAVINE_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
build_targets=(fuzz_seeds ordavine_data)
for t in "${targets[@]}"; do build_targets+=("fuzz_$t"); done
(
  exec 9>/tmp/ordavine-build.lock
  flock 9
  cmake --build "$BUILD" -j "${ORDAVINE_JOBS:-$(nproc)}" --target "${build_targets[@]}"
)

export QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/fuzz/lsan.supp}

# Seeds: the recorder's answers, pictures and a settings file from the seed writer; the
# program's own colour maps, menu backgrounds and endpoints.ini; two tiny clips from ffmpeg.
seeds=$BUILD/seeds
rm -rf "$seeds"
mkdir -p "$seeds"/{endpoints,probe,iso}
"$BUILD/fuzz/fuzz_seeds" "$seeds"
cp data/endpoints.ini "$seeds/endpoints/"
printf '[Mail]\nHost=127.0.0.1\nPort=2525\nSupportAddress=support@example.org\n' > "$seeds/endpoints/local.ini"
find "$BUILD/bin/png-colormaps" -name '*.png' 2>/dev/null | head -n 4 | while read -r f; do
  cp "$f" "$seeds/colormap/$(basename "$(dirname "$f")")-$(basename "$f")"
done
find "$BUILD/bin/menu-backgrounds" -type f 2>/dev/null | head -n 2 | while read -r f; do
  cp "$f" "$seeds/background/"
done
if command -v ffmpeg >/dev/null; then
  ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=10:duration=0.3 \
    -f lavfi -i sine=frequency=440:duration=0.3 -c:v mpeg2video -c:a mp2 -shortest "$seeds/probe/tiny.mpg"
  ffmpeg -v error -y -f lavfi -i testsrc=size=32x24:rate=5:duration=0.4 -c:v mjpeg "$seeds/probe/tiny.avi"
fi

if command -v genisoimage >/dev/null; then
  tree=$(mktemp -d)
  mkdir -p "$tree/VIDEO_TS" "$tree/AUDIO_TS" "$tree/deep/er"
  printf 'x' > "$tree/VIDEO_TS/VIDEO_TS.IFO"; printf 'hello' > "$tree/deep/er/long file name.txt"
  genisoimage -quiet -J -o "$seeds/iso/joliet.iso" "$tree"
  genisoimage -quiet -udf -dvd-video -o "$seeds/iso/dvd.iso" "$tree" 2>/dev/null || true
  rm -rf "$tree"
fi

status=0
for t in "${targets[@]}"; do
  corpus=$BUILD/corpus/$t
  findings=$BUILD/findings/$t
  mkdir -p "$corpus" "$findings"
  # The probe opens arbitrary media: an input that takes more than 10 s is a hang.
  timeout=10
  maxlen=()
  case "$t" in drive|endpoints|settings) maxlen=(-max_len=65536) ;; esac
  # Font and widget code allocates caches on first use, which would set off a leak check after
  # nearly every input; leaks are still checked when the run ends.
  case "$t" in settings|colormap|background) maxlen+=(-detect_leaks=0) ;; esac
  echo "== fuzz_$t: ${seconds}s"
  if ! "$BUILD/fuzz/fuzz_$t" "$corpus" "$seeds/$t" -max_total_time="$seconds" -timeout="$timeout" \
      -rss_limit_mb=4096 "${maxlen[@]}" -artifact_prefix="$findings/" -print_final_stats=1 \
      >"$findings/log.txt" 2>&1; then
    status=1
  fi
  grep -E '^(stat::number_of_executed_units|stat::new_units_added)' "$findings/log.txt" || true
  found=$(find "$findings" -type f ! -name log.txt | wc -l)
  echo "   findings: $found (log: $findings/log.txt)"
  [ "$found" -eq 0 ] || status=1
done
exit $status
