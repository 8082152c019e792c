#!/bin/bash
# Encoding speed of the recorder emulator against peers on the same audio:
# `tapd-emu --write` encodes a 10-minute two-direction call into a framed
# stream (both directions), and each peer encodes the same two directions
# one at a time: sox for GSM 06.10, ffmpeg for G.726 at 32 kbit/s. Reports
# the median user+system CPU time of 5 runs and the ratio (below 1: the
# emulator is faster).
#
#   bench/emulator_bench.sh [BUILD_DIR=build]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
EMULATOR=$BUILD/tools/tapd_emu/tapd-emu
[ -x "$EMULATOR" ] || { echo "emulator_bench: build $EMULATOR first" >&2; exit 2; }
WORK=$(mktemp -d "${TMPDIR:-/tmp}/emulator-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

"$BUILD/make_test_call" "$WORK/alaw.wav" --alaw --seconds 600 >/dev/null
sox "$WORK/alaw.wav" -b 16 -e signed "$WORK/call.wav"

# cpu COMMAND...: user+system seconds of one run
cpu() {
  /usr/bin/time -f '%U %S' -o "$WORK/time" "$@" >/dev/null 2>&1
  awk '{ printf "%.3f\n", $1 + $2 }' "$WORK/time"
}
# median5 FUNCTION: the median CPU time of five runs of FUNCTION
median5() {
  for _ in 1 2 3 4 5; do "$1"; done | sort -n | sed -n 3p
}

emu_gsm() { cpu "$EMULATOR" --write "$WORK/e.wav" --queue "x=$WORK/call.wav:framed:gsm,gsm"; }
sox_gsm() {
  echo "$(cpu sox "$WORK/call.wav" -c 1 "$WORK/a.gsm" remix 1) $(cpu sox "$WORK/call.wav" -c 1 "$WORK/b.gsm" remix 2)" |
    awk '{ printf "%.3f\n", $1 + $2 }'
}
emu_g726() { cpu "$EMULATOR" --write "$WORK/e.wav" --queue "x=$WORK/call.wav:framed:g726-32,g726-32"; }
ffmpeg_g726() {
  echo "$(cpu ffmpeg -y -i "$WORK/call.wav" -af 'pan=mono|c0=c0' -c:a g726 -b:a 32k "$WORK/a.wav") $(cpu ffmpeg -y -i "$WORK/call.wav" -af 'pan=mono|c0=c1' -c:a g726 -b:a 32k "$WORK/b.wav")" |
    awk '{ printf "%.3f\n", $1 + $2 }'
}

printf '%-34s %10s %10s %7s\n' "10-minute call, both directions" "tapd-emu" "peer" "ratio"
for pair in "gsm sox" "g726 ffmpeg"; do
  read -r codec peer <<<"$pair"
  own=$(median5 "emu_$codec")
  other=$(median5 "${peer}_$codec")
  printf '%-34s %9ss %9ss %7.2f\n' "$codec: tapd-emu vs $peer" "$own" "$other" \
    "$(echo "$own / $other" | bc -l)"
done
