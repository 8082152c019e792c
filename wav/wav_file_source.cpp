#include "wav/wav_file_source.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "codecs/g711.h"
#include "media/rtp_context.h"
#include "support/debug_trace.h"
#include "wav/wav_header.h"

namespace {

constexpr int32_t kInputModeAlaw = 2;
constexpr int32_t kInputModeUlaw = 3;
constexpr size_t kStreamBufferSize = 64 * 1024;

struct WavSourceState {
  // Serialises read (main thread) against close (possibly the stop thread),
  // so the stream is never closed under a read that is using it.
  std::mutex lock;
  FILE* stream = nullptr;
  int32_t inputMode = kInputModeAlaw;
  int32_t channels = 0;
  // Unsigned: recordings of 2 GiB up to the 4 GiB limit of the sink are read
  // back like any other.
  uint32_t dataLength = 0;
  uint32_t consumed = 0;
  // Present for the framed tags only; owned, released by destroy.
  RtpContext* decoder = nullptr;
  char buffer[kStreamBufferSize];
};

// The one translation of decoder results into source results.
Result sourceResultOf(RtpResult result) {
  switch (result) {
    case RtpResult::kOk:
      return kResultOk;
    case RtpResult::kUndecodable:
      return kResultUndecodable;
    case RtpResult::kPullFailed:
      break;
  }
  return kResultWavInput;
}

// The framed decoder's byte supply: the rest of the data chunk, nothing
// beyond it; 0 also where the file ends early, kRtpPullFailed on a read
// error. Runs inside sourceRead, under the state's lock.
int32_t pullFromFile(void* userData, uint8_t* destination, int32_t length) {
  auto* state = static_cast<WavSourceState*>(userData);
  if (state->stream == nullptr) return kRtpPullFailed;
  if (length <= 0 || state->consumed >= state->dataLength) return 0;
  uint32_t n = static_cast<uint32_t>(length);
  const uint32_t left = state->dataLength - state->consumed;
  if (n > left) n = left;
  const size_t got = fread(destination, 1, n, state->stream);
  if (got < n && ferror(state->stream)) return kRtpPullFailed;
  state->consumed += static_cast<uint32_t>(got);
  return static_cast<int32_t>(got);
}

Result sourceClose(AudioEndpoint* source) {
  if (!endpointUsable(source)) return 0;
  auto* state = static_cast<WavSourceState*>(source->state);
  std::lock_guard<std::mutex> guard(state->lock);
  if (source->isOpen.exchange(0) == 1 && state->stream != nullptr) {
    fclose(state->stream);
    state->stream = nullptr;
  }
  return 0;
}

void sourceDestroy(AudioEndpoint* source) {
  if (source == nullptr) return;
  sourceClose(source);
  auto* state = static_cast<WavSourceState*>(source->state);
  if (state != nullptr) rtpContextDestroy(state->decoder);
  delete state;
  delete source;
}

Result sourceWait(AudioEndpoint* /*source*/, int32_t /*timeoutMs*/) {
  return 1;  // file data is always ready
}

Result sourceRead(AudioEndpoint* source, uint8_t* buffer, int32_t capacity,
                  int32_t* count) {
  *count = -1;
  if (!endpointUsable(source)) return kResultWavInput;
  auto* state = static_cast<WavSourceState*>(source->state);
  std::lock_guard<std::mutex> guard(state->lock);
  if (source->isOpen.load() != 1 || state->stream == nullptr) {
    return kResultWavInput;
  }
  if (state->decoder != nullptr) {
    // A failed pull comes back with *count == -1.
    return sourceResultOf(
        rtpContextRead(state->decoder, buffer, capacity, count));
  }
  if (state->consumed > state->dataLength) return kResultWavInput;
  int64_t n = state->channels == 1 ? capacity / 2 : capacity;
  const int64_t left = state->dataLength - state->consumed;
  if (n > left) n = left;
  if (n == 0) {
    *count = 0;
    return 0;
  }
  if (n < 0) return kResultWavInput;
  const size_t got = fread(buffer, 1, static_cast<size_t>(n), state->stream);
  // A short count without an error is a file that ends early: the end.
  if (got < static_cast<size_t>(n) && ferror(state->stream)) {
    debugTrace("read error\n");
    return kResultWavInput;
  }
  const int32_t r = static_cast<int32_t>(got);
  state->consumed += static_cast<uint32_t>(r);
  if (state->inputMode == kInputModeUlaw) ulawToAlawInPlace(buffer, got);
  if (state->channels == 1) {
    // Widen from the last byte to the first so no unread byte is overwritten.
    for (int32_t i = r - 1; i >= 0; --i) {
      buffer[2 * i] = buffer[i];
      buffer[2 * i + 1] = buffer[i];
    }
    *count = 2 * r;
  } else {
    *count = r;
  }
  return 0;
}

uint16_t le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Checks the format chunk and positions the stream at the first audio byte.
bool readFormat(FILE* stream, WavSourceState* state) {
  if (wavFindChunk(stream, "fmt ") < 8) {
    debugTrace("invalid WAV file\n");
    return false;
  }
  uint8_t format[8];
  if (fread(format, 1, sizeof format, stream) != sizeof format) {
    debugTrace("shorten WAV file\n");
    return false;
  }
  const uint16_t tag = le16(format);
  const int channels = le16(format + 2);
  const uint32_t rate = le32(format + 4);
  if (channels != 1 && channels != 2) {
    debugTrace("unsupported number of channels (%d)\n", channels);
    return false;
  }
  if (rate != 8000) {
    debugTrace("unsupported sample rate (%d)\n", static_cast<int>(rate));
    return false;
  }
  state->channels = channels;
  switch (tag) {
    case 0x0006:
      state->inputMode = kInputModeAlaw;
      break;
    case 0x0007:
      state->inputMode = kInputModeUlaw;
      break;
    case 0xF000:
    case 0xF001:
      state->inputMode = tag == 0xF000 ? kRtpModeFramed : kRtpModeTyped;
      state->decoder =
          rtpContextCreate(pullFromFile, state, state->inputMode);
      if (state->decoder == nullptr) {
        debugTrace("could not create RTP context\n");
        return false;
      }
      break;
    default:
      debugTrace("unsupported WAV format (0x%04x)\n", tag);
      return false;
  }
  uint32_t dataLength = 0;
  if (wavFindChunkUnsigned(stream, "data", &dataLength) != 0) {
    debugTrace("missing WAV data chunk\n");
    return false;
  }
  state->dataLength = dataLength;
  return true;
}

}  // namespace

AudioSource* openWavFileSource(const char* fileName) {
  debugTrace("opening wav file %s...\n", fileName ? fileName : "(null)");
  auto* source = new (std::nothrow) AudioEndpoint;
  auto* state = new (std::nothrow) WavSourceState;
  if (source == nullptr || state == nullptr) {
    debugTrace("could not allocate memory\n");
    delete source;
    delete state;
    return nullptr;
  }
  std::unique_ptr<FILE, int (*)(FILE*)> stream(wavSourceOpenFile(fileName),
                                               fclose);
  if (stream == nullptr) {
    delete source;
    delete state;
    return nullptr;
  }
  setvbuf(stream.get(), state->buffer, _IOFBF, sizeof state->buffer);
  if (!readFormat(stream.get(), state)) {
    rtpContextDestroy(state->decoder);
    delete source;
    delete state;
    return nullptr;
  }
  state->stream = stream.release();
  source->destroy = sourceDestroy;
  source->close = sourceClose;
  source->wait = sourceWait;
  source->read = sourceRead;
  source->state = state;
  source->isOpen = 1;
  return source;
}
