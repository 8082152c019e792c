#!/usr/bin/env bash
# Times a WAV-to-WAV conversion of a 200 MB A-law stereo recording by
# hearkener against sox doing the same conversion and against a plain cp of
# the file, best of three each, and reports hearkener's peak memory.
#
# Usage: bench/convert_bench.sh [BUILD_DIR]   (default: build)
# Needs sox and /usr/bin/time (Debian packages sox and time). Scratch files
# go to a temporary folder under $TMPDIR (default /tmp), removed at exit.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-build}"
case "$build" in /*) ;; *) build="$repo/$build" ;; esac
hearkener="$build/hearkener"
[ -x "$hearkener" ] || { echo "no program at $hearkener (build it first)" >&2; exit 1; }
command -v sox >/dev/null || { echo "sox is not installed" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is not installed (package time)" >&2; exit 1; }

work="$(mktemp -d "${TMPDIR:-/tmp}/hearkener-bench-XXXXXX")"
trap 'rm -rf "$work"' EXIT

# 10 MB of noise from sox, appended twenty times by hearkener itself: much
# faster than having sox synthesise 200 MB.
echo "making a 200 MB A-law stereo recording..."
sox -n -r 8000 -c 2 -e a-law "$work/chunk.wav" synth 625 whitenoise
for _ in $(seq 20); do
  "$hearkener" -i "$work/chunk.wav" -f "$work/big.wav"
done
rm "$work/chunk.wav"
size=$(stat -c %s "$work/big.wav")
echo "input: $size bytes"

now() { date +%s%N; }

# best_of3 OUTPUT COMMAND...: runs the command three times (the output
# removed before each run) and prints the best wall time in seconds.
best_of3() {
  local out="$1"; shift
  local best=""
  for _ in 1 2 3; do
    rm -f "$out"
    local start end
    start=$(now)
    "$@"
    end=$(now)
    local t=$(( end - start ))
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  awk -v ns="$best" 'BEGIN { printf "%.3f", ns / 1e9 }'
}

t_hk=$(best_of3 "$work/out.wav" "$hearkener" -i "$work/big.wav" -F "$work/out.wav")
cmp -s <(tail -c +59 "$work/big.wav") <(tail -c +59 "$work/out.wav") ||
  { echo "hearkener's output differs from its input" >&2; exit 1; }
t_sox=$(best_of3 "$work/out2.wav" sox "$work/big.wav" "$work/out2.wav")
t_cp=$(best_of3 "$work/out3.wav" cp "$work/big.wav" "$work/out3.wav")

rm -f "$work/out.wav"
/usr/bin/time -f %M -o "$work/rss" "$hearkener" -i "$work/big.wav" -F "$work/out.wav"
rss=$(cat "$work/rss")

printf 'hearkener %8s s   peak RSS %s KiB\n' "$t_hk" "$rss"
printf 'sox       %8s s\n' "$t_sox"
printf 'cp        %8s s\n' "$t_cp"
awk -v h="$t_hk" -v s="$t_sox" -v c="$t_cp" 'BEGIN {
  printf "hearkener/sox = %.2f\nhearkener/cp  = %.2f\n", h / s, h / c }'
