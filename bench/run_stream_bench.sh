#!/bin/sh
# Builds the program and the benchmarks in an optimised build folder and runs
# the live stream benchmark: throughput of `hearkener -q sales -F out.wav`
# against a plain cat of the same bytes over the same loopback connection,
# and the program's CPU time at the real rate.
# Usage: bench/run_stream_bench.sh [build-dir] [audio-seconds] [paced-seconds]
#        (defaults: build-bench, 600 seconds flooded, 20 seconds paced)
set -eu
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-"$source_dir/build-bench"}
audio_seconds=${2:-600}
paced_seconds=${3:-20}

cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release \
  -DHEARKENER_SANITIZE=OFF -DHEARKENER_FUZZ=OFF >/dev/null
cmake --build "$build_dir" -j2 --target hearkener stream_bench
"$build_dir/stream_bench" "$build_dir/hearkener" "$audio_seconds" \
  "$paced_seconds"
