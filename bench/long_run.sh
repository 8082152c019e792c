#!/bin/bash
# A long live recording: a two-direction framed call in mixed codecs
# (G.729A + GSM, G.726 32 kbit/s + G.722, A-law + u-law, silence between
# turns), repeated through a service on 127.0.0.1 as fast as the program
# takes it, recorded with `hearkener -q long -r -F`. Reports the program's
# resident memory early in the run and at its end (it must stay flat), the
# CPU time, and whether the recording holds exactly the audio sent; then
# runs a shorter recording of the same stream twice under valgrind memcheck
# (two lengths: the heap allocations must not grow with the length of the
# call, and nothing may leak).
#
#   bench/long_run.sh [HOURS=10] [BUILD_DIR=build]
#
# Needs the Release build (hearkener, make_test_call, tapd-emu), sox,
# python3 and valgrind.
set -euo pipefail
cd "$(dirname "$0")/.."
HOURS=${1:-10}
BUILD=${2:-build}
for program in hearkener make_test_call tools/tapd_emu/tapd-emu; do
  [ -x "$BUILD/$program" ] || { echo "long_run: build $BUILD/$program first" >&2; exit 2; }
done
WORK=$(mktemp -d "${TMPDIR:-/tmp}/hearkener-long.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# --- one block of the call: 60 s in each codec pair -------------------------
"$BUILD/make_test_call" "$WORK/call.wav" --alaw --seconds 60 >/dev/null
: >"$WORK/block.bin"
for pair in g729,gsm g726-32,g722 alaw,ulaw; do
  "$BUILD/tools/tapd_emu/tapd-emu" --write "$WORK/part.wav" \
    --queue "long=$WORK/call.wav:framed:$pair" 2>/dev/null
  # The stream is what follows the data chunk's header.
  python3 - "$WORK/part.wav" >>"$WORK/block.bin" <<'EOF'
import struct, sys
data = open(sys.argv[1], 'rb').read()
at = data.find(b'data', 12)
size = struct.unpack_from('<I', data, at + 4)[0]
sys.stdout.buffer.write(data[at + 8:at + 8 + size])
EOF
done
BLOCK_SECONDS=180
REPEATS=$(((HOURS * 3600 + BLOCK_SECONDS - 1) / BLOCK_SECONDS))

# --- the service ---------------------------------------------------------------
# serve PORT_FILE REPEATS: one session, the block REPEATS times, then close.
serve() {
  python3 - "$WORK/block.bin" "$1" "$2" <<'EOF' &
import socket, sys
block = open(sys.argv[1], 'rb').read()
listener = socket.socket()
listener.bind(('127.0.0.1', 0))
listener.listen(1)
open(sys.argv[2], 'w').write(str(listener.getsockname()[1]))
connection, _ = listener.accept()
connection.sendall(b'long\r\n[End]\r\n')
name = b''
while not name.endswith(b'\r\n'):
    piece = connection.recv(64)
    if not piece:
        sys.exit(1)
    name += piece
for _ in range(int(sys.argv[3])):
    connection.sendall(block)
connection.close()
EOF
  SERVER=$!
  for _ in $(seq 100); do [ -s "$1" ] && break; sleep 0.05; done
  PORT=$(cat "$1")
}

rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo "?"; }

# --- the long run ------------------------------------------------------------------
echo "long_run: $REPEATS x ${BLOCK_SECONDS} s = $((REPEATS * BLOCK_SECONDS / 3600)) h $((REPEATS * BLOCK_SECONDS % 3600 / 60)) min of audio"
serve "$WORK/port" "$REPEATS"
started=$(date +%s.%N)
"$BUILD/hearkener" -h 127.0.0.1 -p "$PORT" -q long -r -F "$WORK/long.wav" &
PROGRAM=$!
sleep 5
early=$(rss_kib "$PROGRAM")
last=$early
while kill -0 "$PROGRAM" 2>/dev/null; do
  now=$(rss_kib "$PROGRAM")
  [ "$now" != "?" ] && last=$now
  sleep 1
done
status=0
wait "$PROGRAM" || status=$?
wait "$SERVER" || true
elapsed=$(echo "$(date +%s.%N) - $started" | bc)
size=$(stat -c %s "$WORK/long.wav")
expected=$((58 + REPEATS * BLOCK_SECONDS * 16000))
echo "long_run: status $status, $(printf '%.0f' "$elapsed") s wall, $(printf '%.0f' "$(echo "$REPEATS * $BLOCK_SECONDS / $elapsed" | bc -l)") x real time"
echo "long_run: resident memory after 5 s ${early} KiB, at the end ${last} KiB"
if [ "$size" = "$expected" ]; then
  echo "long_run: recording length exact ($size bytes)"
else
  echo "long_run: recording length $size bytes, expected $expected"
fi
sox --i "$WORK/long.wav" | grep -E 'Duration|Channels|Sample Rate' | sed 's/^/  /'
rm -f "$WORK/long.wav"

# --- heap growth and leaks under valgrind -------------------------------------------
if command -v valgrind >/dev/null; then
  for repeats in 1 3; do
    serve "$WORK/port$repeats" "$repeats"
    valgrind --leak-check=full --errors-for-leak-kinds=definite,indirect \
      --error-exitcode=99 --log-file="$WORK/valgrind$repeats.log" \
      "$BUILD/hearkener" -h 127.0.0.1 -p "$PORT" -q long -r -F "$WORK/short.wav" ||
      echo "long_run: valgrind run of $repeats block(s) failed ($?)"
    wait "$SERVER" || true
    echo "long_run: valgrind, $((repeats * BLOCK_SECONDS)) s of audio: $(grep -E 'total heap usage' "$WORK/valgrind$repeats.log" | sed 's/.*total heap usage: //'); in use at exit: $(grep -E 'in use at exit' "$WORK/valgrind$repeats.log" | sed 's/.*in use at exit: //'); $(grep -E 'ERROR SUMMARY' "$WORK/valgrind$repeats.log" | sed 's/.*ERROR SUMMARY: //')"
  done
fi
