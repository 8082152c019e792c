#!/bin/sh
# Builds the benchmarks in an optimised build folder and runs the console
# message benchmark: seconds of a garbage stream handled per second of wall
# time when every few bytes give a "bad CRC" line, for consoleReport and for
# the per-message locale look-up it replaced, in a UTF-8 and in the C locale.
# Usage: bench/run_console_report_bench.sh [build-dir] [bytes-per-line] [lines]
#        (defaults: build-bench, 4 bytes per line, 200000 lines)
set -eu
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-"$source_dir/build-bench"}
bytes_per_line=${2:-4}
lines=${3:-200000}

cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release \
  -DHEARKENER_SANITIZE=OFF -DHEARKENER_FUZZ=OFF >/dev/null
cmake --build "$build_dir" -j2 --target console_report_bench >/dev/null
for locale in C.UTF-8 C; do
  LC_ALL=$locale "$build_dir/console_report_bench" "$bytes_per_line" "$lines"
  echo
done
