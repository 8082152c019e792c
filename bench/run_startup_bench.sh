#!/bin/bash
# Builds the program and the start-up benchmark in an optimised build folder
# and runs it: CPU, peak RSS and shared objects of a 60 s conversion against
# sox; peak RSS, shared objects and CPU of one and of many live framed
# recordings (GSM + G.729A from a loopback server) against cat; and a 200 MB
# conversion against cat and sox. See bench/startup_bench.cpp for how each
# figure is taken.
# Usage: bench/run_startup_bench.sh [build-dir] [runs] [live-seconds]
#                                   [recordings] [many-seconds] [big-runs]
#        (defaults: build-bench, 11, 10, 50, 20, 5)
# Needs sox and bash's /dev/tcp. Scratch files go to a temporary folder under
# $TMPDIR (default /tmp), removed at exit; the whole run is bounded (each
# scenario kills what is still running at its deadline).
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-"$source_dir/build-bench"}
runs=${2:-11}
live_seconds=${3:-10}
recordings=${4:-50}
many_seconds=${5:-20}
big_runs=${6:-5}
command -v sox >/dev/null || { echo "sox is not installed" >&2; exit 1; }
sox=$(command -v sox)

cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release \
  -DHEARKENER_SANITIZE=OFF -DHEARKENER_FUZZ=OFF >/dev/null
cmake --build "$build_dir" -j2 --target hearkener startup_bench >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/startup-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

# 60 s of A-law stereo noise, and 200 MB of it: twenty 625 s pieces joined
# by sox (faster than synthesising the whole length).
sox -n -r 8000 -c 2 -e a-law "$work/call.wav" synth 60 whitenoise
sox -n -r 8000 -c 2 -e a-law "$work/piece.wav" synth 625 whitenoise
pieces=()
for _ in $(seq 20); do pieces+=("$work/piece.wav"); done
sox "${pieces[@]}" "$work/big.wav"
rm "$work/piece.wav"

echo "hearkener: $build_dir/hearkener ($(git -C "$source_dir" rev-parse --short HEAD 2>/dev/null || echo "no git"))"
timeout --kill-after=10 $(( 120 + 3 * (live_seconds + many_seconds) + 60 * big_runs )) \
  "$build_dir/startup_bench" "$build_dir/hearkener" "$sox" "$work/call.wav" \
  "$work/big.wav" "$work" "$runs" "$live_seconds" "$recordings" \
  "$many_seconds" "$big_runs"
