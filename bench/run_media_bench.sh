#!/bin/bash
# Builds the benchmarks in an optimised build folder and runs the media
# decoding benchmark: real-time factor of the framed path per codec, its
# ratio to the bare decoder loop, and the real-time factor of the ffmpeg
# program decoding the same codec's raw stream (one direction) to an A-law
# WAV file.
# Usage: bench/run_media_bench.sh [build-dir]   (default: build-bench)
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-"$source_dir/build-bench"}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release \
  -DHEARKENER_SANITIZE=OFF -DHEARKENER_FUZZ=OFF >/dev/null
cmake --build "$build_dir" -j2 --target media_bench >/dev/null
"$build_dir/media_bench" --write-raw "$work"

command -v ffmpeg >/dev/null || { echo "ffmpeg missing: no comparison"; exit 0; }
seconds=120  # of audio per direction, as media_bench makes them
echo
echo "ffmpeg program, one direction, raw stream to A-law WAV:"
run() {  # name, input options...
  local name=$1; shift
  local start end
  start=$(date +%s.%N)
  ffmpeg -nostdin -hide_banner -loglevel error "$@" -i "$work/$name.raw" \
    -ar 8000 -c:a pcm_alaw -f wav -y "$work/$name.wav"
  end=$(date +%s.%N)
  awk -v n="$name" -v s="$seconds" -v a="$start" -v b="$end" \
    'BEGIN { printf "%-9s %11.0fx\n", n, s / (b - a) }'
}
run G.711 -f alaw -ar 8000 -ac 1
run GSM -f gsm
run G.726-32 -f g726 -code_size 4
run G.729 -f g729
run G.722 -f g722
