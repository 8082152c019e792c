#!/bin/bash
# Generates seed inputs for the fuzz targets into fuzz/corpus/<target>/, as
# files named seed-*: valid framed streams of every codec from the recorder
# emulator, WAV files from sox and ffmpeg and hand-made odd ones,
# configuration and registry texts, queue lists, command lines, formats and
# UTF-8/UTF-16 texts. Each seed stays at most 4 KiB.
#
# Deterministic and idempotent: a seed is rewritten only when its content
# changes, and files not named seed-* are left alone.
#
# Usage: fuzz/make_seeds.sh [BUILD_DIR]
#   BUILD_DIR (default: build) holds tools/tapd_emu/tapd-emu and
#   make_test_call, e.g. after
#     cmake --build BUILD_DIR --target tapd-emu make_test_call
# Needs python3, sox and ffmpeg.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
emu="$build/tools/tapd_emu/tapd-emu"
make_call="$build/make_test_call"
for tool in "$emu" "$make_call"; do
  [ -x "$tool" ] || { echo "missing $tool (build it first)" >&2; exit 1; }
done
for tool in python3 sox ffmpeg; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out="$work/corpus"
mkdir -p "$out"/{wav_file,framed_context,framed_frames,ini_parser,registry_file}
mkdir -p "$out"/{queue_exchange,command_line,format,utf_convert}

# --- Framed streams of every codec, both framings -------------------------
# The callee answers after 1.5 s, so a three-second call has both sides
# talking; the seeds keep a few frames of each direction and codec type.
"$make_call" "$work/call.wav" --alaw --seconds 3 >/dev/null
codecs=(alaw ulaw gsm g726-40 g726-32 g726-24 g726-16 g729 g722)
framed=()
for i in "${!codecs[@]}"; do
  c0=${codecs[$i]}
  c1=${codecs[$(((i + 1) % ${#codecs[@]}))]}
  for framing in framed framed6; do
    name="$framing-$c0-$c1"
    "$emu" --write "$work/$name.wav" --queue "x=$work/call.wav:$framing:$c0,$c1" \
      >/dev/null
    framed+=("$name")
  done
done

# --- WAV files from sox and ffmpeg -----------------------------------------
sox -R -n -r 8000 -c 1 -e a-law "$work/sox-alaw-mono.wav" synth 0.1 sine 440
sox -R -n -r 8000 -c 2 -e a-law "$work/sox-alaw-stereo.wav" synth 0.05 sine 440 sine 660
sox -R -n -r 8000 -c 1 -e u-law "$work/sox-ulaw-mono.wav" synth 0.1 sine 300
sox -R -n -r 8000 -c 2 -e u-law "$work/sox-ulaw-stereo.wav" synth 0.05 sine 300 sine 900
sox -R -n -r 8000 -c 1 -e signed -b 16 "$work/sox-pcm16-mono.wav" synth 0.05 sine 440
sox -R "$work/call.wav" -e a-law "$work/sox-call-alaw.wav" trim 0 0.05
for law in alaw mulaw; do
  for channels in 1 2; do
    ffmpeg -nostdin -loglevel error -y -i "$work/call.wav" -t 0.05 \
      -ac "$channels" -ar 8000 -c:a "pcm_$law" \
      "$work/ffmpeg-$law-$channels.wav"
  done
done

# --- Everything else is assembled byte by byte ------------------------------
WORK="$work" OUT="$out" FRAMED="${framed[*]}" python3 - <<'PYTHON'
import os
import struct

work = os.environ["WORK"]
out = os.environ["OUT"]
LIMIT = 4096


def put(target, name, data):
    if isinstance(data, str):
        data = data.encode("utf-8")
    assert len(data) <= LIMIT, (target, name, len(data))
    with open(os.path.join(out, target, "seed-" + name), "wb") as f:
        f.write(data)


def read(name):
    with open(os.path.join(work, name), "rb") as f:
        return f.read()


def chunks(wav):
    """(id, body) of each chunk after the RIFF header."""
    at = 12
    while at + 8 <= len(wav):
        cid, size = struct.unpack_from("<4sI", wav, at)
        yield cid, wav[at + 8:at + 8 + size]
        at += 8 + size + (size & 1)


def data_of(wav):
    return next(body for cid, body in chunks(wav) if cid == b"data")


def unescape(piece):
    """A frame's bytes as sent between two flags, unescaped, checks removed."""
    raw = bytearray()
    escape = False
    for b in piece:
        if escape:
            raw.append(b + 0xFE)
            escape = False
        elif b == 0xFE:
            escape = True
        else:
            raw.append(b)
    return bytes(raw[:-2])


def pick_frames(stream, typed, per_kind=3):
    """The first `per_kind` frames of each direction and codec type, in
    stream order, as (escaped bytes, unescaped frame)."""
    counts = {}
    picked = []
    for piece in stream.split(b"\xff"):
        frame = unescape(piece)
        if len(frame) < 2:
            continue
        kind = (frame[0] & 1, frame[1]) if typed else (frame[0] & 1, frame[0] >> 2)
        counts[kind] = counts.get(kind, 0) + 1
        if counts[kind] <= per_kind:
            picked.append((piece, frame))
    return picked


def riff(*parts, riff_size=None):
    body = b"WAVE" + b"".join(parts)
    size = len(body) if riff_size is None else riff_size
    return b"RIFF" + struct.pack("<I", size) + body


def chunk(cid, body, declared=None):
    size = len(body) if declared is None else declared
    return cid + struct.pack("<I", size) + body + (b"\0" if len(body) & 1 else b"")


def fmt(tag, channels, bits=8, extra=None):
    block = channels * bits // 8
    body = struct.pack("<HHIIHH", tag, channels, 8000, 8000 * block, block, bits)
    if extra is not None:
        body += struct.pack("<H", len(extra)) + extra
    return chunk(b"fmt ", body)


# Selectors of framed_frames' records: index into its table of codec types.
KTYPES = [1, 2, 3, 4, 5, 6, 7, 8, 9, 13, 17, 40]


def frame_records(frame_list, typed):
    """framed_frames records [length/2][control][selector][payload]."""
    records = bytearray()
    pending = {}  # an odd-length payload waiting for a second one to pair
    for f in frame_list:
        if typed:
            control, ctype, payload = f[0], f[1], f[2:]
        else:
            control, ctype, payload = f[0] & 3, f[0] >> 2, f[1:]
        if len(payload) & 1:
            # Records hold even lengths: two odd units (GSM) go in one frame.
            if (control, ctype) not in pending:
                pending[(control, ctype)] = payload
                continue
            payload = pending.pop((control, ctype)) + payload
        selector = KTYPES.index(ctype) if ctype in KTYPES else ctype
        record = bytes([len(payload) // 2, control, selector]) + payload
        if len(payload) // 2 > 255 or len(records) + len(record) > 3500:
            continue
        records += record
    return bytes(records)


# Framed recordings: the whole WAV, its stream, and its frames as records.
for name in os.environ["FRAMED"].split():
    wav = read(name + ".wav")
    typed = name.startswith("framed-")
    picked = pick_frames(data_of(wav), typed)
    while len(b"\xff".join(p for p, _ in picked)) > 3500:
        picked = picked[:-1]
    cut = b"\xff" + b"\xff".join(p for p, _ in picked) + b"\xff"
    before = [chunk(cid, body) for cid, body in chunks(wav) if cid != b"data"]
    put("wav_file", name + ".wav", riff(*before, chunk(b"data", cut)))
    put("framed_context", name, bytes([1 if typed else 0]) + cut)
    put("framed_context", name + "-segments", bytes([0x5B if typed else 0x5A]) + cut)
    if typed:  # the records are the same for both framings
        put("framed_frames", name, frame_records([f for _, f in picked], typed))

# WAVs from sox and ffmpeg as written, one shortened to its first bytes.
for name in sorted(os.listdir(work)):
    if name.startswith(("sox-", "ffmpeg-")):
        data = read(name)
        if len(data) > LIMIT:
            data = data[:LIMIT]
        put("wav_file", name, data)

# Hand-made WAVs: odd chunks, odd sizes, lengths beyond the file.
audio = bytes(range(0x50, 0x90)) * 2
put("wav_file", "odd-chunk-before-fmt.wav",
    riff(chunk(b"junk", b"abc"), fmt(6, 2), chunk(b"data", audio)))
put("wav_file", "fmt-extension.wav",
    riff(fmt(7, 1, extra=b""), chunk(b"fact", struct.pack("<I", 128)),
         chunk(b"data", audio)))
put("wav_file", "data-beyond-file.wav",
    riff(fmt(6, 2), chunk(b"data", audio, declared=0x7FFFFFF0)))
put("wav_file", "data-max-length.wav",
    riff(fmt(6, 1), chunk(b"data", audio, declared=0xFFFFFFFF)))
put("wav_file", "riff-size-wrong.wav",
    riff(fmt(6, 2), chunk(b"data", audio), riff_size=0xFFFFFFFF))
put("wav_file", "odd-data-then-list.wav",
    riff(fmt(6, 2), chunk(b"data", audio[:33]),
         chunk(b"LIST", b"INFOISFT" + struct.pack("<I", 5) + b"seed\0\0")))
put("wav_file", "chunk-beyond-file.wav",
    riff(fmt(6, 2), chunk(b"LIST", b"INFO", declared=0x10000000),
         chunk(b"data", audio)))
put("wav_file", "fmt-short.wav",
    riff(chunk(b"fmt ", struct.pack("<HH", 6, 2)), chunk(b"data", audio)))
put("wav_file", "no-data.wav", riff(fmt(6, 2)))
put("wav_file", "tag-f001-odd-codec.wav",
    riff(fmt(0xF001, 1), chunk(b"data", b"\xff\x00\x63\x01\x02\x03\xff")))
put("wav_file", "rate-16000.wav",
    riff(chunk(b"fmt ", struct.pack("<HHIIHH", 6, 2, 16000, 32000, 2, 8)),
         chunk(b"data", audio)))

# defaults.ini texts.
ini = {
    "keys": "release = 5\r\ndir = C:\\\\Recordings\r\n"
            "regPath = Software\\\\quandrilex\\\\Defaults\r\n"
            "vendor = \"quandrilex\"\r\nversion = 3.9.1\r\n"
            "srvDisplayName = \"Call recorder \\\"main\\\"\"\r\n",
    "escapes": "dir=\"C:\\\\Rec\\tordings\\\\\"\nvendor=a\\qb\\x41\\\n"
               "version=\\a\\b\\f\\n\\r\\t\\v\\\\\\\"\n",
    "numbers": "release=0x7FFFFFFF\nrelease=-2147483648\nrelease=017\n"
               "release=99999999999999999999\nrelease= +12 \nrelease=\n",
    "long-value": "srvDisplayName=" + "x" * 600 + "\nversion=" + "v" * 300 + "\n",
    "long-key": "k" * 140 + "=1\n" + " " * 130 + "release=3\n",
    "enums": "cdrInterval=CDRI_YEARLY\ndtmfSource=dtmf_src_te\n"
             "autoArchive=CDRI_NONE\ndecoder_fmt=text\n",
    "comments": "# comment\n=release=1\n\n\r\n  \t\nrelease\nRELEASE = 7\n",
    "schema": "dbSchema=id,int;name,text;;,;\nphoneBookSchema=a,b,c;d\n"
              "dbInitSql=create table %s (%d)\n",
    "nul-and-bytes": b"dir=C:\\\\a\0b\nvendor=\xff\xfe\xc3\xa9\n",
}
for name, text in ini.items():
    put("ini_parser", name, text)

# Registry exports, UTF-8 and UTF-16LE with its mark.
section = "[HKEY_LOCAL_MACHINE\\Software\\quandrilex\\Defaults]"
registry = {
    "typical": "Windows Registry Editor Version 5.00\r\n\r\n" + section + "\r\n"
               "\"rn\"=\"332e392e31\"\r\n\"vn\"=\"3.9.1\"\r\n"
               "\"release\"=dword:00000005\r\n"
               "\"dir\"=\"C:\\\\Recordings\"\r\n",
    "hex-lines": "REGEDIT4\n\n" + section.lower() + "\n"
                 "\"b\"=hex:01,02,03,\\\n  04,05,\\\n  06\n"
                 "\"m\"=hex(7):41,00,00,00,42,00,00,00,00,00\n"
                 "\"q\"=hex(b):01,00,00,00,00,00,00,00\n"
                 "\"e\"=hex(2):25,00,54,00,4d,00,50,00,25,00,00,00\n",
    "merge-delete": section + "\n\"rn\"=\"41\"\n\"vn\"=\"1\"\n"
                    "[HKEY_LOCAL_MACHINE\\Software\\other]\n\"rn\"=\"ff\"\n"
                    + section + "\n\"RN\"=\"42\"\n\"vn\"=-\n"
                    "[-" + section[1:] + "\n" + section + "\n@=\"default\"\n",
    "odd-lines": section + "\n\"unterminated=\"x\n\"a\\\"b\"=\"c\\\\d\"\n"
                 "\"d\"=dword:fffffffff\n\"d2\"=dword:\n\"h\"=hex:0g,1\n"
                 "\"h2\"=hex:\\\n\"rn\"=\"0\"\n[" + "K" * 300 + "]\n",
}
for name, text in registry.items():
    put("registry_file", name + "-utf8", text)
    put("registry_file", name + "-utf16", b"\xff\xfe" + text.encode("utf-16-le"))
put("registry_file", "utf8-bom", b"\xef\xbb\xbf" + registry["typical"].encode())
put("registry_file", "utf16-odd-length",
    b"\xff\xfe" + registry["typical"].encode("utf-16-le") + b"\x41")

# Queue exchanges: [test][line buffer - 2] then [length][bytes] segments.
def exchange(line_mode, buffer, segments):
    data = bytearray([1 if line_mode else 0, buffer - 2])
    for s in segments:
        s = s.encode("latin-1") if isinstance(s, str) else s
        assert len(s) < 256
        data += bytes([len(s)]) + s
    return bytes(data)


alaw = bytes([0xD5, 0x55, 0x2A, 0xAA, 0x80, 0x00, 0xFF, 0x0A, 0x0D]) * 20
queues = {
    "several": (False, 64, ["sales\r\nsupport\r\n", "billing\r\n",
                            "night shift\r\n[End]\r\n"]),
    "end-then-audio": (False, 64, ["q\r\n[End]\r\n" + "", alaw[:120],
                                   alaw[120:]]),
    "end-lookalikes": (False, 16, ["[End]\n", "[end]\r\n", " [End]\r\n",
                                   "[End]\r\r\n", "[End]", "\r\n"]),
    "end-split": (False, 8, ["queue1\r", "\n[E", "nd", "]\r", "\n", "\xd5\x55"]),
    "long-line": (False, 32, ["q" * 250, "q" * 250, "\r\n[End]\r\n"]),
    "long-line-end": (False, 257, ["x" * 255, "y" * 200 + "\r\n[End]\r\n"]),
    "no-end": (False, 64, ["sales\r\n", "support\r\n"]),
    "lines": (True, 6, ["ab\ncd", "efghijkl\n", "\n\n", "m"]),
    "lines-crlf": (True, 257, ["sales\r\n[End]\r\n", "x" * 255]),
    "lines-tiny": (True, 2, ["a\nb", "\n"]),
}
for name, (line_mode, buffer, segments) in queues.items():
    put("queue_exchange", name, exchange(line_mode, buffer, segments))

# Command lines: arguments separated by NUL bytes.
commands = {
    "record-stream": ["-h", "recorder.example", "-p", "20000", "-q", "sales",
                      "-r", "-F", "out.wav"],
    "record-alaw": ["-h", "127.0.0.1", "-q", "q1", "-a", "-f", "a.wav"],
    "record-ulaw": ["-h", "::1", "-p", " +20001x", "-q", "q", "-u"],
    "list": ["-h", "recorder", "-l"],
    "file": ["-i", "in.wav", "-F", "out.wav", "-t"],
    "ports": ["-p", "-1", "-p", "99999999999", "-p", "", "-p", "\t42"],
    "repeated": ["-a", "-u", "-r", "-a", "-t", "-l", "-t"],
    "missing-last": ["-i", "in.wav", "-q"],
    "illegal-long": ["-" + "z" * 300],
    "empty-args": ["", "", "-h", ""],
}
for name, args in commands.items():
    put("command_line", name, "\0".join(args))

# Formats: [capacity] format NUL argument bytes.
def format_seed(capacity, text, values=b""):
    return bytes([capacity]) + text.encode("latin-1") + b"\0" + values


numbers = bytes(range(1, 65))
formats = {
    "integers": (64, "%d %i %u %x %X %o %5d %-5d|%05d %+d % d", numbers),
    "long": (255, "%ld %lld %I64d %hd %lu %llx %hhd", numbers),
    "strings": (40, "[%s] [%10s] [%-10s] [%.3s] [%S] [%ls] [%hs]", numbers),
    "stars": (32, "%*d %.*d %*.*s %-*d", numbers),
    "pointers": (24, "%p %#x %#o %c %C %%", numbers),
    "count": (128, "abc%ndef%hn%lln%n", numbers),
    "empty-sink": (0, "text %d", numbers),
    "exact-fit": (6, "12345%d", numbers),
    "big-width": (255, "%2147483647d %.2147483647s %99999999999d", numbers),
    "odd": (16, "%", b""),
    "unknown": (16, "%y %k %-#0+ 12.7q %l %hh", numbers),
    "unicode": (20, "caf\xc3\xa9 %s \xf0\x9f\x98\x80 %S", numbers),
}
for name, (capacity, text, values) in formats.items():
    put("format", name, format_seed(capacity, text, values))

# UTF texts: [destination size] then the bytes (as UTF-8 and as UTF-16LE).
utf = {
    "ascii": (64, b"hello, world"),
    "two-three-four": (7, "é€😀x".encode()),
    "exact": (5, "ab€".encode()),
    "overlong": (32, b"\xc0\x80\xe0\x80\x80\xf0\x80\x80\x80"),
    "surrogates": (32, b"\xed\xa0\x80\xed\xb0\x80"),
    "truncated": (32, b"a\xe2\x82"),
    "beyond": (32, b"\xf4\x90\x80\x80\xf8\x88\x80\x80\x80"),
    "utf16-pair": (16, "a😀b".encode("utf-16-le")),
    "utf16-lone-high": (16, b"a\x00\x00\xd8b\x00"),
    "utf16-lone-low": (16, b"\x00\xdca\x00"),
    "zero-size": (0, "é".encode()),
    "one-unit": (1, "é".encode()),
    "long": (200, ("Grüße " * 60).encode()),
}
for name, (size, text) in utf.items():
    put("utf_convert", name, bytes([size]) + text)
PYTHON

# Install the seeds, touching only those whose content changed.
added=0
for dir in "$out"/*/; do
  target=$(basename "$dir")
  mkdir -p "fuzz/corpus/$target"
  for seed in "$dir"seed-*; do
    dest="fuzz/corpus/$target/$(basename "$seed")"
    if ! cmp -s "$seed" "$dest"; then
      cp "$seed" "$dest"
      added=$((added + 1))
    fi
  done
done
echo "seeds written or updated: $added"
