#!/bin/bash
# The live path end to end, on this machine alone: builds hearkener and the
# recorder emulator (tapd-emu), makes a two-direction call from synthetic
# speech (espeak-ng), serves it as the queue "demo" on a free loopback port
# (the caller's direction as G.729A, the callee's as GSM, with a silent
# stretch between their turns), lists the queues with `hearkener -l`, and
# receives the queue with `hearkener -q demo -r`: played on the sound card
# when ALSA's default device opens, otherwise recorded into demo.wav. Then it
# says what was produced: the duration and the level of each direction.
#
#   scripts/demo.sh [BUILD_DIR=build]
#
# Needs the packages of scripts/install-deps.sh. A new build folder is
# configured without the tests (GoogleTest comes with
# scripts/install-test-deps.sh); an existing one keeps its settings. Builds
# the test-call maker (make_test_call) too, for the operator's tour. The
# emulator is stopped when the demo ends, however it ends.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
JOBS=${JOBS:-$(nproc)}

say() { printf 'demo: %s\n' "$*"; }

# --- build ------------------------------------------------------------------
if [ ! -x "$BUILD/hearkener" ] || [ ! -x "$BUILD/tools/tapd_emu/tapd-emu" ] \
   || [ ! -x "$BUILD/make_test_call" ]; then
  say "building hearkener, tapd-emu and make_test_call in $BUILD/ (about 1.5 minutes the first time)"
  options=()
  [ -f "$BUILD/CMakeCache.txt" ] || options=(-DHEARKENER_TESTS=OFF)
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release "${options[@]}" >/dev/null
  cmake --build "$BUILD" -j "$JOBS" --target hearkener tapd-emu make_test_call >/dev/null
fi
HEARKENER=$(pwd)/$BUILD/hearkener
EMULATOR=$(pwd)/$BUILD/tools/tapd_emu/tapd-emu

WORK=$(mktemp -d "${TMPDIR:-/tmp}/hearkener-demo.XXXXXX")
EMULATOR_PID=""
cleanup() {
  if [ -n "$EMULATOR_PID" ]; then
    kill -TERM "$EMULATOR_PID" 2>/dev/null || true
    wait "$EMULATOR_PID" 2>/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- the call -----------------------------------------------------------------
# Caller (first direction), a silent stretch, callee (second direction), the
# caller again; each direction is silent while the other speaks.
say "making the call from synthetic speech"
speak() {  # NAME VOICE TEXT: 8 kHz mono 16-bit speech in $WORK/NAME.wav
  espeak-ng -v "$2" -s 150 -w "$WORK/$1-raw.wav" "$3"
  sox "$WORK/$1-raw.wav" -r 8000 -c 1 -b 16 "$WORK/$1.wav" norm -3
}
speak caller1 en-us "Hello, this is the caller on the first direction. Can you hear me?"
speak callee en+f3 "Yes, the callee hears you well, on the second direction."
speak caller2 en-us "Good. Then both directions arrived. Goodbye."
seconds() { sox --i -D "$1"; }
quiet() {  # NAME SECONDS
  sox -n -r 8000 -c 1 -b 16 "$WORK/$1.wav" trim 0 "$2"
}
quiet gap 0.6
quiet pause 2.0
quiet callee_quiet "$(seconds "$WORK/callee.wav")"
quiet caller1_quiet "$(seconds "$WORK/caller1.wav")"
quiet caller2_quiet "$(seconds "$WORK/caller2.wav")"
sox "$WORK/caller1.wav" "$WORK/pause.wav" "$WORK/callee_quiet.wav" \
  "$WORK/gap.wav" "$WORK/caller2.wav" "$WORK/first.wav"
sox "$WORK/caller1_quiet.wav" "$WORK/pause.wav" "$WORK/callee.wav" \
  "$WORK/gap.wav" "$WORK/caller2_quiet.wav" "$WORK/second.wav"
sox -M "$WORK/first.wav" "$WORK/second.wav" -b 16 "$WORK/call.wav"
say "$(printf 'the call lasts %.1f s' "$(seconds "$WORK/call.wav")")"

# --- the service ----------------------------------------------------------------
"$EMULATOR" --port 0 --queue "demo=$WORK/call.wav:framed:g729,gsm" \
  >"$WORK/emulator.out" 2>"$WORK/emulator.log" &
EMULATOR_PID=$!
PORT=""
for _ in $(seq 100); do
  PORT=$(sed -n 's/^tapd-emu: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$WORK/emulator.out")
  [ -n "$PORT" ] && break
  kill -0 "$EMULATOR_PID" 2>/dev/null || break
  sleep 0.05
done
if [ -z "$PORT" ]; then
  cat "$WORK/emulator.log" >&2
  say "the emulator did not start" >&2
  exit 1
fi
say "tapd-emu serves the queue demo on 127.0.0.1:$PORT (caller G.729A, callee GSM)"

say "queues offered (hearkener -h 127.0.0.1 -p $PORT -l):"
"$HEARKENER" -h 127.0.0.1 -p "$PORT" -l | sed 's/^/  /'

# --- listening ----------------------------------------------------------------------
if sox -q -n -t alsa default synth 0.05 sine 0 vol 0 >/dev/null 2>&1; then
  say "playing the queue on the sound card (hearkener -h 127.0.0.1 -p $PORT -q demo -r)"
  status=0
  "$HEARKENER" -h 127.0.0.1 -p "$PORT" -q demo -r || status=$?
  say "hearkener ended with status $status"
  produced=$WORK/call.wav
  say "played the call; what the service sent:"
else
  say "no sound card: recording the queue (hearkener -h 127.0.0.1 -p $PORT -q demo -r -F demo.wav)"
  status=0
  "$HEARKENER" -h 127.0.0.1 -p "$PORT" -q demo -r -F demo.wav || status=$?
  say "hearkener ended with status $status"
  produced=demo.wav
  say "recorded $(pwd)/demo.wav:"
fi

# --- what was produced ------------------------------------------------------------
# sox's stats give one column per channel.
stats=$(sox "$produced" -n stats 2>&1)
level() {  # ROW CHANNEL
  awk -v row="$1" -v column="$2" \
    'index($0, row) == 1 { n = split($0, f, " "); print f[n - 2 + column] }' <<<"$stats"
}
printf '  duration %.2f s, %s channels, %s Hz\n' "$(sox --i -D "$produced")" \
  "$(sox --i -c "$produced")" "$(sox --i -r "$produced")"
printf '  direction 1 (caller, G.729A): RMS level %s dB, peak %s dB\n' \
  "$(level 'RMS lev dB' 1)" "$(level 'Pk lev dB' 1)"
printf '  direction 2 (callee, GSM):    RMS level %s dB, peak %s dB\n' \
  "$(level 'RMS lev dB' 2)" "$(level 'Pk lev dB' 2)"
exit "$status"
