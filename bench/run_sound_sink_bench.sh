#!/bin/sh
# Builds the benchmarks in an optimised build folder and runs the sound sink
# benchmark: CPU share of one core while playing in real time, CPU per second
# of audio, and the latency from a write to the device layer.
# Usage: bench/run_sound_sink_bench.sh [build-dir] [seconds]
#        (defaults: build-bench, 10 seconds of audio per scenario)
set -eu
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-"$source_dir/build-bench"}
seconds=${2:-10}

cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release \
  -DHEARKENER_SANITIZE=OFF -DHEARKENER_FUZZ=OFF >/dev/null
cmake --build "$build_dir" -j2 --target sound_sink_bench
"$build_dir/sound_sink_bench" "$seconds"
