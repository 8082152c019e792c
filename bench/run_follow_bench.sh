#!/bin/bash
# The --follow soak: HOURS of 1-minute calls, served --fast by tapd-emu with
# a gap before each call, recorded by one `hearkener --follow --record` run.
# Checks every call's audio byte for byte in its file and reports the
# program's peak and current RSS after the first hour of calls and at the
# end, its open descriptors at the start and the end, and its CPU time per
# hour of audio against a single run that records one call of the same
# length in total.
# Usage: bench/run_follow_bench.sh [build-dir] [hours] [gap-ms]
#        (defaults: build-bench, 24 hours, 1000 ms)
set -eu
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-"$source_dir/build-bench"}
hours=${2:-24}
gap_ms=${3:-1000}
calls=$((hours * 60))

cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release \
  -DHEARKENER_SANITIZE=OFF -DHEARKENER_FUZZ=OFF >/dev/null
cmake --build "$build_dir" -j2 --target hearkener tapd-emu make_test_call >/dev/null
build_dir=$(cd "$build_dir" && pwd)
hearkener=$build_dir/hearkener
emu=$build_dir/tools/tapd_emu/tapd-emu

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
# One hour of call audio; call k is minute (k - 1) mod 60 of it.
"$build_dir/make_test_call" source.wav --alaw --seconds 3600 >/dev/null

start_emu() {  # port call-seconds gap-ms
  "$emu" --port "$1" --fast --call-seconds "$2" --call-gap "$3" \
    --queue sales=source.wav >"emu-$1.out" 2>"emu-$1.log" &
  pids+=($!)
  for _ in $(seq 100); do
    grep -q listening "emu-$1.out" 2>/dev/null && return 0
    sleep 0.05
  done
  echo "tapd-emu did not start" >&2
  exit 1
}

status_kb() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status"; }
fds() { ls "/proc/$1/fd" | wc -l; }
cpu_seconds() {  # utime + stime of a live process
  awk -v tck="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15) / tck }' \
    "/proc/$1/stat"
}
wait_file() {  # path pid
  while [ ! -e "$1" ]; do
    kill -0 "$2" 2>/dev/null || { echo "hearkener ended early" >&2; exit 1; }
    sleep 0.1
  done
}

port=$((21000 + RANDOM % 2000))
start_emu "$port" 60 "$gap_ms"
began=$(date +%s)
"$hearkener" -h 127.0.0.1 -p "$port" -q sales --follow \
  --record 'rec/%q-%n.wav' 2>follow.err &
follower=$!
pids+=("$follower")
wait_file rec/sales-1.wav "$follower"
fd_start=$(fds "$follower")
rss_start=$(status_kb "$follower" VmRSS)
first_hour=$((calls < 60 ? calls : 60))
wait_file "rec/sales-$((first_hour + 1)).wav" "$follower"
hwm_hour=$(status_kb "$follower" VmHWM)
rss_hour=$(status_kb "$follower" VmRSS)
# The call after the last is under way: every call counted is finished.
wait_file "rec/sales-$((calls + 1)).wav" "$follower"
hwm_end=$(status_kb "$follower" VmHWM)
rss_end=$(status_kb "$follower" VmRSS)
fd_end=$(fds "$follower")
cpu_follow=$(cpu_seconds "$follower")
kill -TERM "$follower"
wait "$follower" && follow_status=0 || follow_status=$?
wall=$(($(date +%s) - began))

# Every call's audio, byte for byte: the data behind the 58-byte header of
# file k is minute (k - 1) mod 60 of the source's data.
python3 - "$calls" <<'PY'
import struct, sys
calls = int(sys.argv[1])
with open("source.wav", "rb") as f:
    src = f.read()
pos = 12
while pos + 8 <= len(src):
    cid, size = src[pos:pos + 4], struct.unpack("<I", src[pos + 4:pos + 8])[0]
    if cid == b"data":
        data = src[pos + 8:pos + 8 + size]
        break
    pos += 8 + size + (size & 1)
minute = 60 * 16000
bad = 0
for k in range(1, calls + 1):
    with open("rec/sales-%d.wav" % k, "rb") as f:
        got = f.read()[58:]
    start = ((k - 1) % 60) * minute
    if got != data[start:start + minute]:
        bad += 1
        print("call %d differs (%d bytes)" % (k, len(got)))
print("calls byte-exact: %d of %d" % (calls - bad, calls))
sys.exit(1 if bad else 0)
PY

# The reference: one run that records one call of all the audio.
single_port=$((port + 1))
start_emu "$single_port" $((hours * 3600)) 0
TIMEFORMAT="%U %S"
single=$( { time "$hearkener" -h 127.0.0.1 -p "$single_port" -q sales \
  -F single.wav 2>single.err; } 2>&1 )
cpu_single=$(echo "$single" | awk '{ printf "%.2f", $1 + $2 }')

echo "follow run: $calls calls of 60 s, gap $gap_ms ms, $wall s wall, exit $follow_status"
echo "RSS kB: start $rss_start; after hour 1 $rss_hour (peak $hwm_hour); end $rss_end (peak $hwm_end)"
echo "descriptors: start $fd_start, end $fd_end"
echo "CPU s: follow $cpu_follow for $hours h of audio; single call $cpu_single"
awk -v f="$cpu_follow" -v s="$cpu_single" -v h="$hours" 'BEGIN {
  printf "CPU per hour of audio: follow %.3f s, single %.3f s, ratio %.2f\n",
         f / h, s / h, (s > 0 ? f / s : 0) }'
echo "state lines: $(grep -vc '^recording ' follow.err || true)"
