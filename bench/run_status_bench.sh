#!/bin/bash
# The status line's cost to a live recording: RECORDINGS live A-law
# recordings at once from tapd-emu (one 60 s call, looped, sent in real
# time), each with standard error on a pseudo-terminal of its own, for
# SECONDS; once with the status line and once with --no-status, ROUNDS
# times alternating. See bench/status_bench.cpp for how each figure is
# taken. The target: the difference stays at or below 0.02 % of a core.
# Usage: bench/run_status_bench.sh [build-dir] [recordings] [seconds] [rounds]
#        (defaults: build-bench, 50, 30, 3)
# Scratch files go to a temporary folder under $TMPDIR (default /tmp),
# removed at exit together with the emulator.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-"$source_dir/build-bench"}
recordings=${2:-50}
seconds=${3:-30}
rounds=${4:-3}

cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release \
  -DHEARKENER_SANITIZE=OFF -DHEARKENER_FUZZ=OFF >/dev/null
cmake --build "$build_dir" -j2 --target hearkener make_test_call tapd-emu \
  status_bench >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/status-bench-XXXXXX")
emulator=
cleanup() {
  if [ -n "$emulator" ]; then kill "$emulator" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

"$build_dir/make_test_call" "$work/call.wav" --alaw --seconds 60 >/dev/null
"$build_dir/tools/tapd_emu/tapd-emu" --port 0 --loop \
  --max-clients $((recordings + 4)) --queue "call=$work/call.wav" \
  >"$work/emu.out" 2>&1 &
emulator=$!
for _ in $(seq 50); do
  grep -q "listening on" "$work/emu.out" && break
  sleep 0.1
done
port=$(sed -n 's/.*listening on [^ ]*:\([0-9]*\).*/\1/p' "$work/emu.out")
[ -n "$port" ] || { echo "run_status_bench: tapd-emu did not start" >&2; exit 1; }

echo "hearkener: $build_dir/hearkener ($(git -C "$source_dir" rev-parse --short HEAD 2>/dev/null || echo "no git"))"
timeout --kill-after=10 $(( 2 * rounds * (seconds + 15) + 30 )) \
  "$build_dir/status_bench" "$build_dir/hearkener" "$port" call \
  "$recordings" "$seconds" "$rounds" "$work"
