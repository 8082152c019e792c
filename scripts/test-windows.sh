#!/bin/bash
# End-to-end checks of the Windows program under Wine: each check runs the
# Windows program and the Linux program on the same input and compares their
# output files byte for byte, their exit statuses and their messages.
#
#   scripts/test-windows.sh [LINUX_BUILD_DIR=build] [WINDOWS_BUILD_DIR=build-win]
#
# Builds what is missing (the Linux Release build with cmake, the Windows
# build through scripts/build-windows.sh), runs Wine in a private prefix
# under a temporary folder, and uses only 127.0.0.1 for the network checks.
# Prints one PASS/FAIL line per check and a summary; exits non-zero if any
# check fails.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 2
LINUX_BUILD=${1:-build}
WINDOWS_BUILD=${2:-build-win}
JOBS=${JOBS:-$(nproc)}

die() {
  echo "test-windows: $*" >&2
  exit 2
}

# --- builds -----------------------------------------------------------------
if [ ! -x "$LINUX_BUILD/hearkener" ] || [ ! -x "$LINUX_BUILD/make_test_call" ]; then
  cmake -S . -B "$LINUX_BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null || die "cmake failed"
  cmake --build "$LINUX_BUILD" -j "$JOBS" --target hearkener make_test_call >/dev/null \
    || die "the Linux build failed"
fi
# Incremental: the codec libraries are cached in WINDOWS_BUILD/deps.
TESTS=1 JOBS=$JOBS scripts/build-windows.sh "$WINDOWS_BUILD" >/dev/null ||
  die "the Windows build failed"

LIN=$(cd "$LINUX_BUILD" && pwd)
WIN=$(cd "$WINDOWS_BUILD" && pwd)

# --- private Wine prefix ----------------------------------------------------
# Its own home too, whose ALSA configuration makes the default device one
# that writes what it plays into $WORK/played.wav: wave-out then works on
# machines without a sound card, and what it played can be checked.
WORK=$(mktemp -d "${TMPDIR:-/tmp}/test-windows.XXXXXX") || die "mktemp failed"
mkdir -p "$WORK/home"
cat >"$WORK/home/.asoundrc" <<EOF
pcm.!default {
  type file
  slave.pcm "null"
  file "$WORK/played.wav"
  format "wav"
}
EOF
export HOME="$WORK/home" WINEPREFIX="$WORK/prefix" WINEDEBUG=-all \
  WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
CHILDREN=()
forget() {  # PID: reaped, so never to be signalled again
  local kept=() pid
  for pid in "${CHILDREN[@]}"; do [ "$pid" = "$1" ] || kept+=("$pid"); done
  CHILDREN=("${kept[@]}")
}
cleanup() {
  local pid
  for pid in "${CHILDREN[@]}"; do kill -KILL "$pid" 2>/dev/null; done
  for pid in "${CHILDREN[@]}"; do wait "$pid" 2>/dev/null; done
  [ -d "$WINEPREFIX" ] && timeout 20 wineserver -k 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

timeout 120 wineboot -i >/dev/null 2>&1 || die "wineboot failed"
timeout 60 wineserver -w || die "wineserver did not settle"
# A persistent server, so that no run waits for it to linger and exit.
wineserver -p || die "wineserver -p failed"
# The first programs of a new prefix may stall when several start at once:
# one runs alone first.
timeout 60 wine "$WIN/hearkener.exe" >/dev/null 2>&1

# --- helpers ----------------------------------------------------------------
PASSED=0
FAILED=0
report() {  # NAME PROBLEM...: PASS when PROBLEM is empty
  local name=$1
  shift
  if [ -z "$*" ]; then
    echo "PASS $name"
    PASSED=$((PASSED + 1))
  else
    echo "FAIL $name: $*"
    FAILED=$((FAILED + 1))
  fi
}

# run SIDE DIR PROGRAM ARGS...: runs the Linux ("lin") or Windows ("win")
# build of PROGRAM (hearkener, make_test_call) in DIR with relative paths,
# stdout/stderr in DIR/SIDE.out and DIR/SIDE.err, status in DIR/SIDE.status.
run() {
  local side=$1 dir=$2 program=$3
  shift 3
  local status
  if [ "$side" = lin ]; then
    (cd "$dir" && timeout 60 "$LIN/$program" "$@") >"$dir/lin.out" 2>"$dir/lin.err"
    status=$?
  else
    (cd "$dir" && timeout 60 wine "$WIN/$program.exe" "$@") >"$dir/win.out" 2>"$dir/win.err"
    status=$?
    # Console lines end in CRLF under Wine.
    sed -i 's/\r$//' "$dir/win.out" "$dir/win.err"
  fi
  echo "$status" >"$dir/$side.status"
}

# differences DIR FILE...: what differs between DIR/lin and DIR/win (their
# statuses, messages and the named output files); empty when nothing.
differences() {
  local dir=$1 problems="" f
  shift
  local ls ws
  ls=$(cat "$dir/lin/lin.status") ws=$(cat "$dir/win/win.status")
  [ "$ls" = "$ws" ] || problems+="status linux $ls, windows $ws; "
  cmp -s "$dir/lin/lin.err" "$dir/win/win.err" || problems+="stderr differs; "
  cmp -s "$dir/lin/lin.out" "$dir/win/win.out" || problems+="stdout differs; "
  for f in "$@"; do
    if [ ! -f "$dir/lin/$f" ] || [ ! -f "$dir/win/$f" ]; then
      problems+="$f missing; "
    elif ! cmp -s "$dir/lin/$f" "$dir/win/$f"; then
      problems+="$f differs ($(cmp "$dir/lin/$f" "$dir/win/$f" 2>&1 | head -1)); "
    fi
  done
  printf '%s' "$problems"
}

# compare NAME EXPECTED_STATUS INPUTS OUTPUTS -- ARGS...: runs the program on
# both sides in fresh folders holding copies of INPUTS (space-separated paths
# under $WORK/inputs) and compares OUTPUTS.
compare() {
  local name=$1 expected=$2 inputs=$3 outputs=$4
  shift 5
  local dir="$WORK/cases/$name" side f
  mkdir -p "$dir/lin" "$dir/win"
  for side in lin win; do
    for f in $inputs; do cp "$WORK/inputs/$f" "$dir/$side/"; done
    run "$side" "$dir/$side" hearkener "$@"
  done
  local problems
  # shellcheck disable=SC2086  # a list of names
  problems=$(differences "$dir" $outputs)
  local status
  status=$(cat "$dir/lin/lin.status")
  [ "$status" = "$expected" ] || problems+="linux status $status, not $expected; "
  report "$name" "$problems"
}

mkdir -p "$WORK/inputs" "$WORK/cases"

# --- 0. the unit tests, under Wine ----------------------------------------------
if (cd "$WIN" && ctest -j "$JOBS" --timeout 300 --output-on-failure) \
  >"$WORK/unit-tests.log" 2>&1; then
  report "unit_tests ($(grep -o 'tests failed out of [0-9]*' "$WORK/unit-tests.log" |
    sed 's/.* out of //') under Wine, none failed)" ""
else
  grep -A40 'The following tests FAILED' "$WORK/unit-tests.log" ||
    tail -40 "$WORK/unit-tests.log"
  report "unit_tests" "see above"
fi

# --- 1. the example call tool -------------------------------------------------
for variant in "alaw --alaw" "ulaw --ulaw" "alaw_mono --alaw --mono" "ulaw_mono --ulaw --mono"; do
  read -r name options <<<"$variant"
  dir="$WORK/cases/make_test_call_$name"
  mkdir -p "$dir/lin" "$dir/win"
  # shellcheck disable=SC2086
  run lin "$dir/lin" make_test_call "$name.wav" $options --seconds 4
  # shellcheck disable=SC2086
  run win "$dir/win" make_test_call "$name.wav" $options --seconds 4
  problems=$(differences "$dir" "$name.wav")
  [ "$(cat "$dir/lin/lin.status")" = 0 ] || problems+="linux status not 0; "
  report "make_test_call $name" "$problems"
  cp "$dir/lin/$name.wav" "$WORK/inputs/" 2>/dev/null
done

# --- 2. conversions and appends ------------------------------------------------
for name in alaw ulaw alaw_mono ulaw_mono; do
  compare "convert_$name" 0 "$name.wav" "out.wav" -- -i "$name.wav" -F out.wav
done
cp "$WORK/cases/convert_alaw/lin/out.wav" "$WORK/inputs/earlier.wav"
for name in ulaw alaw_mono; do
  compare "append_$name" 0 "$name.wav earlier.wav" "earlier.wav" -- \
    -i "$name.wav" -f earlier.wav
  compare "append_${name}_new_file" 0 "$name.wav" "new.wav" -- \
    -i "$name.wav" -f new.wav
done

# --- 3. framed WAV files, every codec type ---------------------------------------
cat >"$WORK/framed.py" <<'EOF'
# Writes typed-frame WAV files (format tag 0xF001) with random payloads.
import random, struct, sys

def fcs_table():
    table = []
    for i in range(256):
        v = i
        for _ in range(8):
            v = (v >> 1) ^ 0x8408 if v & 1 else v >> 1
        table.append(((v & 0xFF) << 8) | (v >> 8))
    return table

TABLE = fcs_table()

def check_bytes(data):
    fcs = 0xFFFF
    for b in data:
        fcs = ((fcs << 8) ^ TABLE[((fcs >> 8) ^ b) & 0xFF]) & 0xFFFF
    usual = ((fcs & 0xFF) << 8) | (fcs >> 8)
    check = ~usual & 0xFFFF
    return bytes([check & 0xFF, check >> 8])

def frame(control, codec, payload):
    raw = bytes([control, codec]) + payload
    out = bytearray([0xFF])
    for b in raw + check_bytes(raw):
        out += bytes([0xFE, (b + 2) & 0xFF]) if b >= 0xFE else bytes([b])
    return bytes(out)

def wav(data):
    fmt = struct.pack('<HHIIHHH', 0xF001, 1, 8000, 8000, 1, 8, 0)
    body = (b'WAVE' + b'fmt ' + struct.pack('<I', len(fmt)) + fmt +
            b'fact' + struct.pack('<II', 4, len(data)) +
            b'data' + struct.pack('<I', len(data)) + data)
    if len(data) % 2:
        body += b'\0'
    return b'RIFF' + struct.pack('<I', len(body)) + body

# Payload of one 20-ms frame per codec type.
def payload(rng, codec):
    def rand(n):
        return bytes(rng.getrandbits(8) for _ in range(n))
    if codec in (2, 3):
        return rand(160)
    if codec == 4:  # two 33-byte units, each opening with the 0xD nibble
        return b''.join(bytes([0xD0 | rng.getrandbits(4)]) + rand(32) for _ in range(2))
    if codec in (5, 6, 7, 8):  # 40/32/24/16 kbit/s: 50/40/30/20 bytes per 80 samples
        return rand(2 * {5: 50, 6: 40, 7: 30, 8: 20}[codec])
    if codec == 9:
        return rand(20)
    if codec == 13:
        return rand(160)
    if codec == 40:  # milliseconds of silence
        return bytes([rng.randrange(1, 40)])
    return rand(7)

out_dir = sys.argv[1]
for codec in (2, 3, 4, 5, 6, 7, 8, 9, 13, 40):
    rng = random.Random(codec)
    data = b''
    for n in range(50):
        for direction in (0, 1):
            # Silence takes turns with A-law speech in the other direction.
            c = 2 if codec == 40 and (n + direction) % 2 else codec
            data += frame(direction, c, payload(rng, c))
    data += b'\xff'
    open('%s/framed_%d.wav' % (out_dir, codec), 'wb').write(wav(data))

rng = random.Random(99)
data = b''
for n in range(20):
    data += frame(n % 2, 2, payload(rng, 2))
    if n == 10:
        data += frame(0, 11, b'\x01\x02')
data += b'\xff'
open('%s/framed_unsupported.wav' % out_dir, 'wb').write(wav(data))
EOF
python3 "$WORK/framed.py" "$WORK/inputs" || die "could not write the framed files"
for codec in 2 3 4 5 6 7 8 9 13 40; do
  compare "framed_type_$codec" 0 "framed_$codec.wav" "out.wav" -- \
    -i "framed_$codec.wav" -F out.wav
done
compare "framed_unsupported_type" 248 "framed_unsupported.wav" "out.wav" -- \
  -i framed_unsupported.wav -F out.wav

# --- 4 and 5. the recording service on 127.0.0.1 ------------------------------------
cat >"$WORK/service.py" <<'EOF'
# One session of the recording service on 127.0.0.1: the queue list, the
# name line, then A-law audio. "once": all of it, then close; "slow": 160
# bytes every 20 ms until the peer goes (at most 60 s).
import socket, sys, time

mode, port_file, received_file = sys.argv[1:4]
server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(('127.0.0.1', 0))
server.listen(1)
server.settimeout(60)
with open(port_file + '.tmp', 'w') as f:
    f.write(str(server.getsockname()[1]))
import os
os.rename(port_file + '.tmp', port_file)
peer, _ = server.accept()
peer.settimeout(20)
peer.sendall(b'q1\r\n[End]\r\n')
received = b''
while not received.endswith(b'\r\n') and len(received) < 100:
    chunk = peer.recv(100)
    if not chunk:
        break
    received += chunk
open(received_file, 'wb').write(received)
audio = bytes((i * 37 + i // 256) & 0xFF for i in range(24000))
if mode == 'once':
    peer.sendall(audio)
else:
    end = time.time() + 60
    i = 0
    try:
        while time.time() < end:
            peer.sendall(audio[i:i + 160])
            i = (i + 160) % len(audio)
            time.sleep(0.02)
    except OSError:
        pass
peer.close()
EOF

# start_service MODE DIR: starts a session in the background; sets PORT and
# SERVICE_PID (empty PORT if it did not start).
start_service() {
  local mode=$1 dir=$2
  rm -f "$dir/port"
  python3 "$WORK/service.py" "$mode" "$dir/port" "$dir/received" &
  SERVICE_PID=$!
  CHILDREN+=("$SERVICE_PID")
  PORT=""
  for _ in $(seq 100); do
    [ -f "$dir/port" ] && { PORT=$(cat "$dir/port"); break; }
    sleep 0.05
  done
}

# finish_service: waits (bounded) for the session to end.
finish_service() {
  for _ in $(seq 100); do
    kill -0 "$SERVICE_PID" 2>/dev/null || break
    sleep 0.05
  done
  kill -KILL "$SERVICE_PID" 2>/dev/null
  wait "$SERVICE_PID" 2>/dev/null
  forget "$SERVICE_PID"
}

dir="$WORK/cases/stream"
mkdir -p "$dir/lin" "$dir/win"
problems=""
for side in lin win; do
  start_service once "$dir/$side"
  if [ -z "$PORT" ]; then
    problems+="the $side service did not start; "
    echo 1 >"$dir/$side/$side.status"
    continue
  fi
  run "$side" "$dir/$side" hearkener -h 127.0.0.1 -p "$PORT" -q q1 -F out.wav
  finish_service
done
problems+=$(differences "$dir" out.wav)
[ "$(cat "$dir/lin/lin.status")" = 0 ] || problems+="linux status not 0; "
[ "$(cat "$dir/win/received" 2>/dev/null)" = $'q1\r' ] || problems+="the name line sent was not q1; "
report "stream_queue_session" "$problems"

# The stop: Ctrl+C (SIGINT to the Wine process of hearkener.exe) while the
# service streams without end.
dir="$WORK/cases/stop"
mkdir -p "$dir"
problems=""
elapsed=""
start_service slow "$dir"
if [ -z "$PORT" ]; then
  problems="the service did not start"
else
  (cd "$dir" && exec wine "$WIN/hearkener.exe" -h 127.0.0.1 -p "$PORT" -q q1 -F out.wav) \
    >"$dir/win.out" 2>"$dir/win.err" &
  wine_pid=$!
  CHILDREN+=("$wine_pid")
  # The process that runs hearkener.exe: the started one once it has
  # exec'd the preloader, otherwise its child that did.
  target=""
  started=$(date +%s%N)
  for _ in $(seq 100); do
    for pid in "$wine_pid" $(pgrep -P "$wine_pid"); do
      if tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q 'hearkener\.exe'; then
        target=$pid
      fi
    done
    # The output file opens once the queue exchange is done: the program
    # is then past its start (its console handler is installed first).
    [ -n "$target" ] && [ -f "$dir/out.wav" ] && break
    sleep 0.05
  done
  # About 1 s after the start, and at least 0.3 s of audio in the buffer.
  sleep 0.3
  now=$(date +%s%N)
  left=$((1000 - (now - started) / 1000000))
  [ "$left" -gt 0 ] && sleep "$(printf '0.%03d' "$left")"
  if [ -z "$target" ] || [ ! -f "$dir/out.wav" ]; then
    problems="the program never started recording (process '${target}'); "
    kill -KILL "$wine_pid" 2>/dev/null
  else
    kill -INT "$target"
    sent=$(date +%s%N)
    for _ in $(seq 60); do
      kill -0 "$wine_pid" 2>/dev/null || break
      sleep 0.05
    done
    ended=$(date +%s%N)
    if kill -0 "$wine_pid" 2>/dev/null; then
      problems+="still running 3 s after the interrupt; "
      kill -KILL "$wine_pid" 2>/dev/null
    fi
  fi
  wait "$wine_pid"
  status=$?
  forget "$wine_pid"
  finish_service
  if [ -z "$problems" ]; then
    elapsed=$(((ended - sent) / 1000000))
    # The program stops within about 100 ms; the end of the Wine process
    # on a loaded machine comes on top (measured to its exit, polled every
    # 50 ms), as for the Linux end-to-end stop checks of the sanitizer
    # builds.
    [ "$elapsed" -le 1500 ] || problems+="took ${elapsed} ms to stop; "
    [ "$status" = 0 ] || problems+="status $status; "
    [ -s "$dir/win.err" ] && problems+="stderr: $(tr -d '\r' <"$dir/win.err" | head -2); "
    problems+=$(python3 - "$dir/out.wav" <<'EOF'
import struct, sys
data = open(sys.argv[1], 'rb').read()
problems = []
if len(data) <= 58 or data[:4] != b'RIFF':
    problems.append('no audio after the header (%d bytes)' % len(data))
else:
    if struct.unpack_from('<I', data, 4)[0] != len(data) - 8:
        problems.append('RIFF size is not the file length - 8')
    at = data.find(b'data', 12, 80)
    if at < 0 or struct.unpack_from('<I', data, at + 4)[0] != len(data) - at - 8:
        problems.append('data size is not what follows the data header')
print('; '.join(problems), end='')
EOF
)
  fi
fi
report "stop_on_ctrl_c${elapsed:+ (ended ${elapsed} ms after the interrupt)}" "$problems"

# --- 5. console lines ----------------------------------------------------------------
# A wrong command line: the same text as on Linux, each line ended by "\r\n"
# (the console is written in binary mode: no "\r\r\n").
dir="$WORK/cases/console_lines"
mkdir -p "$dir"
(cd "$dir" && timeout 60 "$LIN/hearkener" -x) >"$dir/lin.out" 2>"$dir/lin.err"
(cd "$dir" && timeout 60 wine "$WIN/hearkener.exe" -x) >"$dir/win.out" 2>"$dir/win.err"
problems=""
[ -s "$dir/win.err" ] || problems+="no message; "
grep -q $'\r\r' "$dir/win.err" && problems+="a line ends in CR CR LF; "
[ "$(grep -c $'\r$' "$dir/win.err")" = "$(wc -l <"$dir/win.err")" ] ||
  problems+="a line ends without CR LF; "
# The usage names the program as started: the same text apart from that.
win_name="Z:${WIN//\//\\}\\hearkener.exe"
[ "$(tr -d '\r' <"$dir/win.err" | sed "s|${win_name//\\/\\\\}|PROGRAM|g")" = \
  "$(sed "s|$LIN/hearkener|PROGRAM|g" "$dir/lin.err")" ] ||
  problems+="the text differs from Linux's; "
report "console_line_ends" "$problems"

# --- 6. playback through wave-out ----------------------------------------------
# The 4-second example call (a whole number of device buffers) on the
# default device: the run ends with 0 and says nothing, and the device got
# every 16-bit sample that sox decodes from the file, in order, with nothing
# between or after them but runs of digital silence. Those runs are Wine's:
# its ALSA driver writes one period (10 ms) of zeros whenever its timer finds
# the device drained and less than a period waiting, which a loaded machine
# brings about when the program's next buffer reaches the driver late, and
# after the last buffer until the device is closed (the file device here
# drains at once). No sample of the file is zero (A-law's smallest magnitude
# decodes to 8), so the zeros are told apart exactly. The device consumes at
# once, so this does not check the pacing (the unit tests do). On a failure
# the device's recording is kept for reading.
dir="$WORK/cases/playback"
mkdir -p "$dir"
cp "$WORK/inputs/alaw.wav" "$dir/"
rm -f "$WORK/played.wav"
(cd "$dir" && timeout 30 wine "$WIN/hearkener.exe" -i alaw.wav) \
  >"$dir/win.out" 2>"$dir/win.err"
status=$?
problems=""
[ "$status" = 0 ] || problems+="status $status; "
[ -s "$dir/win.out" ] && problems+="stdout: $(tr -d '\r' <"$dir/win.out" | head -2); "
[ -s "$dir/win.err" ] && problems+="stderr: $(tr -d '\r' <"$dir/win.err" | head -2); "
silent_frames=""
if [ ! -s "$WORK/played.wav" ]; then
  problems+="the device got nothing; "
else
  [ "$(sox --i -r "$WORK/played.wav")/$(sox --i -c "$WORK/played.wav")" = 8000/2 ] ||
    problems+="played at $(sox --i -r "$WORK/played.wav") Hz, $(sox --i -c "$WORK/played.wav") channels; "
  # One line per stereo frame of 16-bit samples.
  frames() { sox "$1" -t raw -e signed -b 16 - | od -An -v -tx4 -w4; }
  frames "$dir/alaw.wav" >"$dir/expected.frames"
  frames "$WORK/played.wav" >"$dir/played.frames"
  grep -vx ' 00000000' "$dir/played.frames" >"$dir/played-sound.frames"
  silent_frames=$(grep -cx ' 00000000' "$dir/played.frames")
  if grep -qx ' 00000000' "$dir/expected.frames"; then
    problems+="the file has silent frames of its own: the check cannot tell them apart; "
  elif ! cmp -s "$dir/expected.frames" "$dir/played-sound.frames"; then
    problems+="the played samples differ from the file's ($(wc -l <"$dir/played-sound.frames") frames of sound and $silent_frames silent ones, the file has $(wc -l <"$dir/expected.frames")); "
  fi
fi
if [ -n "$problems" ] && [ -s "$WORK/played.wav" ]; then
  kept="$WIN/test-windows-played.wav"
  cp "$WORK/played.wav" "$kept" && problems+="the device's recording is kept in $kept; "
fi
report "playback_wave_out${silent_frames:+ ($silent_frames silent frames inserted by the driver)}" "$problems"

# --- 7. a crash report ------------------------------------------------------------
# A thread that faults in a program that is playing: the report and the
# minidump land in the crash-dump folder below the common application data,
# named after the product name that the registry gives (hex-encoded value
# "rn" of HKLM\Software\quandrilex\Defaults), and the process ends with the
# exception code (0xC0000005; Wine passes its low byte on).
dir="$WORK/cases/crash"
mkdir -p "$dir"
cp "$WORK/inputs/alaw.wav" "$dir/"
product="Tellan Test"
wine reg add 'HKLM\Software\quandrilex\Defaults' /v rn /t REG_SZ /f \
  /d "$(printf '%s' "$product" | od -An -tx1 | tr -d ' \n')" >/dev/null 2>&1
dumps="$WINEPREFIX/drive_c/ProgramData/quandrilex/$product/crashdumps"
(cd "$dir" && exec timeout 30 wine "$WIN/hearkener.exe" -i alaw.wav) \
  >"$dir/win.out" 2>"$dir/win.err" &
wine_pid=$!
CHILDREN+=("$wine_pid")
problems=""
injected=""
for _ in $(seq 40); do
  sleep 0.25
  if wine "$WIN/crash_injector.exe" hearkener.exe >"$dir/injector.out" 2>&1; then
    injected=yes
    break
  fi
done
wait "$wine_pid"
status=$?
forget "$wine_pid"
if [ -z "$injected" ]; then
  problems="the injector found no program: $(tr -d '\r' <"$dir/injector.out" | head -1)"
else
  [ "$status" = 5 ] || problems+="status $status, not 5; "
  report_file=$(find "$dumps" -name 'Crash-hearkener-*' ! -name '*.dmp' 2>/dev/null | head -1)
  if [ -z "$report_file" ]; then
    problems+="no report in $dumps; "
  else
    text=$(tr -d '\r' <"$report_file")
    for line in "application: hearkener" "exception: 0xc0000005 (EXCEPTION_ACCESS_VIOLATION)" \
      "minidump: C:\\ProgramData\\quandrilex\\$product\\crashdumps\\$(basename "$report_file").dmp" \
      "end of report"; do
      grep -qxF "$line" <<<"$text" || problems+="no line \"$line\" in the report; "
    done
    dump="$report_file.dmp"
    [ "$(head -c 4 "$dump" 2>/dev/null)" = MDMP ] || problems+="no minidump beside the report; "
  fi
fi
report "crash_report" "$problems"

echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
