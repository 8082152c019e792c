#include "wav/wav_file_sink.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "support/debug_trace.h"

namespace {

constexpr size_t kStreamBufferSize = 64 * 1024;

struct WavSinkState {
  FILE* stream = nullptr;
  // Audio bytes in the data chunk: those present when appending plus every
  // byte written since. 64-bit so it cannot overflow; writes keep the file
  // within the 32-bit sizes of the header.
  uint64_t byteCount = 0;
  char buffer[kStreamBufferSize];
};

Result sinkClose(AudioEndpoint* sink) {
  if (!endpointUsable(sink)) return 0;
  auto* state = static_cast<WavSinkState*>(sink->state);
  Result result = 0;
  const int32_t update =
      wavUpdateSizes(state->stream, kWavFormatAlaw, 1,
                     static_cast<uint32_t>(state->byteCount / 2));
  if (update < 0) {
    debugTrace("could not update WAV header (%d, %d, %ld)\n", update, errno,
               static_cast<long>(ftello(state->stream)));
    result = kResultWavOutput;
  }
  // A failing close loses buffered audio: that is a failed run too.
  if (fclose(state->stream) != 0) result = kResultWavOutput;
  state->stream = nullptr;
  sink->isOpen = 0;
  return result;
}

void sinkDestroy(AudioEndpoint* sink) {
  if (sink == nullptr) return;
  sinkClose(sink);
  delete static_cast<WavSinkState*>(sink->state);
  delete sink;
}

Result sinkWrite(AudioEndpoint* sink, const uint8_t* bytes, int32_t length) {
  if (!endpointUsable(sink)) return kResultWavOutput;
  auto* state = static_cast<WavSinkState*>(sink->state);
  if (length <= 0) return length;
  const uint64_t fileLength =
      kWavAlawStereoHeaderLength + state->byteCount + static_cast<uint64_t>(length);
  if (fileLength > kWavMaxFileLength) {
    debugTrace("WAV file would exceed 4 GiB, not writing\n");
    return kResultWavOutput;
  }
  int32_t done = 0;
  while (done < length) {
    const size_t stored =
        fwrite(bytes + done, 1, static_cast<size_t>(length - done), state->stream);
    if (stored == 0) {
      debugTrace("could not write to WAV file\n");
      return kResultWavOutput;
    }
    state->byteCount += stored;
    done += static_cast<int32_t>(stored);
  }
  return length;
}

// The 58 header bytes of a recording of ours, with the three size fields
// (RIFF, fact count, data) masked out.
bool isAlawStereoRecordingHeader(const uint8_t* header) {
  uint8_t expected[kWavAlawStereoHeaderLength];
  size_t at = 0;
  const WavLayout layout = wavSelectLayout(kWavFormatAlaw, 1);
  for (int32_t i = 0; i < layout.count; ++i) {
    memcpy(expected + at, layout.segments[i].bytes, layout.segments[i].length);
    at += layout.segments[i].length;
  }
  for (size_t i = 0; i < sizeof expected; ++i) {
    const bool sizeField = (i >= 4 && i < 8) || (i >= 46 && i < 50) ||
                           (i >= 54 && i < 58);
    if (!sizeField && header[i] != expected[i]) return false;
  }
  return true;
}

enum class AppendOutcome { kReady, kMissing, kRefused };

// Positions `stream` (opened "r+b" on an existing file) behind its existing
// audio and fills `prior`. Refuses, leaving the file untouched, anything that
// is not a patched recording of the 58-byte A-law stereo layout with nothing
// behind its data.
AppendOutcome prepareAppend(FILE* stream, WavSinkState* state,
                            WavPriorState* prior) {
  if (fseeko(stream, 0, SEEK_END) != 0) return AppendOutcome::kRefused;
  const off_t end = ftello(stream);
  if (end < 0) return AppendOutcome::kRefused;
  const uint64_t length = static_cast<uint64_t>(end);
  if (length == 0) {
    // An empty file holds nothing to continue: write a fresh header into it,
    // and a failed run empties it again rather than deleting it.
    if (prior != nullptr) prior->existed = true;
    return AppendOutcome::kMissing;
  }
  if (length < kWavAlawStereoHeaderLength || length > kWavMaxFileLength) {
    return AppendOutcome::kRefused;
  }
  uint8_t header[kWavAlawStereoHeaderLength];
  if (fseeko(stream, 0, SEEK_SET) != 0 ||
      fread(header, 1, sizeof header, stream) != sizeof header ||
      !isAlawStereoRecordingHeader(header)) {
    return AppendOutcome::kRefused;
  }
  uint32_t declaredLength = 0;
  if (wavFindChunkUnsigned(stream, "data", &declaredLength) != 0 ||
      ftello(stream) != kWavAlawStereoHeaderLength) {
    return AppendOutcome::kRefused;
  }
  const uint64_t present = length - kWavAlawStereoHeaderLength;
  // Unsigned: a recording of 2 GiB or more is still ours to continue.
  const uint64_t declared = declaredLength;
  // Bytes behind the declared data (beyond an odd pad byte) are not ours to
  // overwrite.
  if (present > declared + 1) return AppendOutcome::kRefused;
  // Continue behind the last whole frame that is both declared and present:
  // never beyond the end (a hole would play as noise), never splitting a frame.
  const uint64_t audio = (declared < present ? declared : present) & ~1ull;
  const uint64_t appendOffset = kWavAlawStereoHeaderLength + audio;
  // At most 2: present <= declared + 1, and audio is that rounded down.
  uint8_t tail[2] = {};
  const size_t tailLength = static_cast<size_t>(length - appendOffset);
  if (tailLength > 0 &&
      (tailLength > sizeof tail ||
       fseeko(stream, static_cast<off_t>(appendOffset), SEEK_SET) != 0 ||
       fread(tail, 1, tailLength, stream) != tailLength)) {
    return AppendOutcome::kRefused;
  }
  if (fseeko(stream, static_cast<off_t>(appendOffset), SEEK_SET) != 0) {
    return AppendOutcome::kRefused;
  }
  state->byteCount = audio;
  if (prior != nullptr) {
    prior->existed = true;
    prior->length = length;
    memcpy(prior->header, header, sizeof header);
    prior->appendOffset = appendOffset;
    memcpy(prior->tail, tail, sizeof tail);
    prior->tailLength = static_cast<uint32_t>(tailLength);
  }
  return AppendOutcome::kReady;
}

}  // namespace

AudioSink* openWavFileSink(const char* fileName, int32_t append,
                           WavPriorState* prior) {
  if (prior != nullptr) *prior = WavPriorState{};
  auto* sink = new (std::nothrow) AudioEndpoint;
  auto* state = new (std::nothrow) WavSinkState;
  if (sink == nullptr || state == nullptr) {
    debugTrace("could not allocate memory\n");
    delete sink;
    delete state;
    return nullptr;
  }
  debugTrace("opening wav file %s...\n", fileName ? fileName : "(null)");
  if (fileName == nullptr) {
    delete sink;
    delete state;
    return nullptr;
  }

  FILE* stream = nullptr;
  if (append) {
    stream = fopen(fileName, "r+be");
    if (stream != nullptr) {
      setvbuf(stream, state->buffer, _IOFBF, sizeof state->buffer);
      const AppendOutcome outcome = prepareAppend(stream, state, prior);
      if (outcome != AppendOutcome::kReady) {
        fclose(stream);
        stream = nullptr;
        if (outcome == AppendOutcome::kRefused) {
          debugTrace("not a recording that can be appended to: %s\n", fileName);
          delete sink;
          delete state;
          return nullptr;
        }
      }
    } else if (errno != ENOENT) {
      // It exists but cannot be opened for update: never replace it.
      delete sink;
      delete state;
      return nullptr;
    }
  }
  if (stream == nullptr) {
    stream = fopen(fileName, "w+be");
    if (stream == nullptr) {
      delete sink;
      delete state;
      return nullptr;
    }
    setvbuf(stream, state->buffer, _IOFBF, sizeof state->buffer);
    wavBuildHeader(stream, kWavFormatAlaw, 1, 0);
    fflush(stream);
    state->byteCount = 0;
  }
  state->stream = stream;
  sink->destroy = sinkDestroy;
  sink->close = sinkClose;
  sink->write = sinkWrite;
  sink->state = state;
  sink->isOpen = 1;
  return sink;
}

int32_t wavRestorePriorState(const char* fileName, const WavPriorState& prior) {
  if (fileName == nullptr || !prior.existed) {
    errno = EINVAL;
    return -1;
  }
  FILE* stream = fopen(fileName, "r+be");
  if (stream == nullptr) return -1;
  bool ok = prior.length < sizeof prior.header ||
            fwrite(prior.header, 1, sizeof prior.header, stream) ==
                sizeof prior.header;
  if (ok && prior.tailLength > 0) {
    ok = prior.tailLength <= sizeof prior.tail &&
         fseeko(stream, static_cast<off_t>(prior.appendOffset), SEEK_SET) == 0 &&
         fwrite(prior.tail, 1, prior.tailLength, stream) == prior.tailLength;
  }
  ok = fflush(stream) == 0 && ok;
  ok = ftruncate(fileno(stream), static_cast<off_t>(prior.length)) == 0 && ok;
  ok = fclose(stream) == 0 && ok;
  return ok ? 0 : -1;
}
