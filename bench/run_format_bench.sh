#!/bin/sh
# Builds the benchmarks in an optimised build folder and runs the formatting
# benchmark: ns per call of both engines and their ratio to snprintf.
# Usage: bench/run_format_bench.sh [build-dir]   (default: build-bench)
set -eu
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-"$source_dir/build-bench"}

cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release \
  -DHEARKENER_SANITIZE=OFF -DHEARKENER_FUZZ=OFF >/dev/null
cmake --build "$build_dir" -j2 --target format_bench
"$build_dir/format_bench"
