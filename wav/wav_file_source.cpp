#include "wav/wav_file_source.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <utility>

#include "codecs/g711.h"
#include "core/input_mode.h"
#include "media/framed_context.h"
#include "support/debug_trace.h"
#include "support/system_error.h"
#include "wav/wav_format_text.h"
#include "wav/wav_header.h"

namespace {

// The data chunk is read in pieces of this size, at file offsets that are
// multiples of it; 1024-byte reads are then served from memory.
constexpr size_t kReadBufferSize = 128 * 1024;

// Values of WavSourceState::access.
constexpr int32_t kAccessIdle = 0;
constexpr int32_t kAccessReading = 1;  // a read is using the stream
constexpr int32_t kAccessClosed = 2;   // the stream is closed for good

}  // namespace

struct WavSourceState {
  // Serialises read (main thread) against close (possibly the stop thread):
  // a read holds kAccessReading while it uses the stream, and close closes
  // the stream only after moving the state from kAccessIdle to
  // kAccessClosed. One atomic exchange per read, where a mutex costs two.
  std::atomic<int32_t> access{kAccessIdle};
  FILE* stream = nullptr;
  InputMode inputMode = InputMode::kAlaw;
  int32_t channels = 0;
  // Unsigned: recordings of 2 GiB up to the 4 GiB limit of the sink are read
  // back like any other.
  uint32_t dataLength = 0;
  uint32_t consumed = 0;
  // File offsets of the next byte to fetch and of the end of the data chunk.
  uint64_t position = 0;
  uint64_t dataEnd = 0;
  // Present for the framed tags only; owned, released by the destructor.
  FramedContext* decoder = nullptr;
  // The file name as given, and the errno value of a failed read (0: none);
  // both used by the main thread only.
  std::string name;
  int readError = 0;
  // Fetched bytes not yet taken: buffer[head, tail).
  size_t head = 0;
  size_t tail = 0;
  uint8_t buffer[kReadBufferSize];
  // Data bytes taken so far, for wavFileSourceProgress on another thread.
  std::atomic<uint64_t> taken{0};
};

namespace {

// Holds a read's turn on the stream for its scope; the turn is refused once
// the source is closed.
class ReadTurn {
 public:
  explicit ReadTurn(WavSourceState* state) : state_(state) {
    int32_t expected = kAccessIdle;
    held_ = state_->access.compare_exchange_strong(expected, kAccessReading,
                                                   std::memory_order_acquire);
  }
  ~ReadTurn() {
    if (held_) state_->access.store(kAccessIdle, std::memory_order_release);
  }
  ReadTurn(const ReadTurn&) = delete;
  ReadTurn& operator=(const ReadTurn&) = delete;

  bool held() const { return held_; }

 private:
  WavSourceState* state_;
  bool held_;
};

// Fetches the next piece of the data chunk into the empty buffer, past the
// stream's own buffer. Returns the number of bytes fetched, 0 at the end of
// the chunk or of the file, or -1 on a read error.
int64_t refillBuffer(WavSourceState* state) {
  uint64_t want = kReadBufferSize - state->position % kReadBufferSize;
  const uint64_t unread = state->dataEnd - state->position;
  if (want > unread) want = unread;
  if (want == 0) return 0;
  const int64_t got =
      wavSourceReadAt(state->stream, state->position, state->buffer,
                      static_cast<size_t>(want), &state->readError);
  if (got > 0) {
    state->position += static_cast<uint64_t>(got);
    state->head = 0;
    state->tail = static_cast<size_t>(got);
  }
  return got;
}

// Copies the next `size` bytes of the data chunk to `destination`. Returns
// the number copied, fewer only where the chunk or the file ends, or -1 on a
// read error. REQUIRES: the caller holds a ReadTurn.
int64_t takeData(WavSourceState* state, uint8_t* destination, size_t size) {
  size_t done = 0;
  while (done < size) {
    if (state->head == state->tail) {
      const int64_t got = refillBuffer(state);
      if (got < 0) return -1;
      if (got == 0) break;
    }
    size_t piece = state->tail - state->head;
    if (piece > size - done) piece = size - done;
    memcpy(destination + done, state->buffer + state->head, piece);
    state->head += piece;
    done += piece;
  }
  state->taken.store(state->taken.load(std::memory_order_relaxed) + done,
                     std::memory_order_relaxed);
  return static_cast<int64_t>(done);
}

// The one translation of decoder results into source results.
Result sourceResultOf(FramedResult result) {
  switch (result) {
    case FramedResult::kOk:
      return kResultOk;
    case FramedResult::kUndecodable:
      return kResultUndecodable;
    case FramedResult::kPullFailed:
      break;
  }
  return kResultWavInput;
}

// The framed decoder's byte supply: the rest of the data chunk, nothing
// beyond it; 0 also where the file ends early, kFramedPullFailed on a read
// error. Runs inside WavFileSource::read, which holds the read turn.
int32_t pullFromFile(void* userData, uint8_t* destination, int32_t length) {
  auto* state = static_cast<WavSourceState*>(userData);
  if (state->stream == nullptr) return kFramedPullFailed;
  if (length <= 0 || state->consumed >= state->dataLength) return 0;
  uint32_t n = static_cast<uint32_t>(length);
  const uint32_t left = state->dataLength - state->consumed;
  if (n > left) n = left;
  const int64_t got = takeData(state, destination, n);
  if (got < 0) return kFramedPullFailed;
  state->consumed += static_cast<uint32_t>(got);
  return static_cast<int32_t>(got);
}

uint16_t le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Why a file whose chunk walk found no format chunk is refused.
std::string noFormatReason(FILE* stream, int32_t found) {
  if (found == kWavFindNotRiffWave || found == kWavFindShortFile) {
    uint8_t head[12];
    size_t length = 0;
    if (fseeko(stream, 0, SEEK_SET) == 0) {
      length = fread(head, 1, sizeof head, stream);
    }
    return wavNotWavReason(head, length);
  }
  if (found >= 0) return "damaged WAV file (format chunk too short)";
  return "damaged WAV file (no format chunk)";
}

// Checks the format chunk and positions the stream at the first audio byte.
// Returns an empty string, or why the file is refused.
std::string readFormat(FILE* stream, const char* fileName,
                       WavSourceState* state) {
  const int32_t formatLength = wavFindChunk(stream, "fmt ");
  if (formatLength < 8) {
    debugTrace("invalid WAV file\n");
    return noFormatReason(stream, formatLength);
  }
  // The bits per sample, when the chunk holds them, only describe a refusal.
  uint8_t format[16];
  const size_t wanted = formatLength >= 16 ? 16 : 8;
  if (fread(format, 1, wanted, stream) != wanted) {
    debugTrace("shorten WAV file\n");
    return ferror(stream) ? systemErrorText(EIO)
                          : "damaged WAV file (cut short in its format chunk)";
  }
  WavFormatFound found;
  found.tag = le16(format);
  found.channels = le16(format + 2);
  found.rate = le32(format + 4);
  found.bitsPerSample = wanted == 16 ? le16(format + 14) : 0;
  if (!wavFormatAccepted(found)) {
    debugTrace("unsupported WAV format (0x%04x, %d channels, %u Hz)\n",
               found.tag, found.channels, static_cast<unsigned>(found.rate));
    return wavFormatRefusal(fileName, found);
  }
  state->channels = found.channels;
  switch (found.tag) {
    case 0x0006:
      state->inputMode = InputMode::kAlaw;
      break;
    case 0x0007:
      state->inputMode = InputMode::kUlaw;
      break;
    default:  // 0xF000, 0xF001
      state->inputMode =
          found.tag == 0xF000 ? InputMode::kFramed : InputMode::kFramedTyped;
      state->decoder =
          framedContextCreate(pullFromFile, state, state->inputMode);
      if (state->decoder == nullptr) {
        debugTrace("could not create RTP context\n");
        return systemErrorText(ENOMEM);
      }
      break;
  }
  uint32_t dataLength = 0;
  if (wavFindChunkUnsigned(stream, "data", &dataLength) != 0) {
    debugTrace("missing WAV data chunk\n");
    return "damaged WAV file (no data chunk)";
  }
  const off_t dataStart = ftello(stream);
  if (dataStart < 0) {
    debugTrace("could not locate WAV data chunk\n");
    return systemErrorText(errno);
  }
  state->dataLength = dataLength;
  state->position = static_cast<uint64_t>(dataStart);
  state->dataEnd = state->position + dataLength;
  return std::string();
}

}  // namespace

WavFileSource::~WavFileSource() {
  close();
  if (state_ != nullptr) framedContextDestroy(state_->decoder);
}

Result WavFileSource::close() {
  WavSourceState* state = state_.get();
  // Cleared first, so that no new read takes a turn while close waits.
  if (!markClosed()) return 0;
  int32_t expected = kAccessIdle;
  while (!state->access.compare_exchange_weak(expected, kAccessClosed,
                                              std::memory_order_acquire)) {
    if (expected == kAccessClosed) return 0;
    expected = kAccessIdle;
    std::this_thread::yield();  // a read is finishing with the stream
  }
  if (state->stream != nullptr) {
    fclose(state->stream);
    state->stream = nullptr;
  }
  return 0;
}

Result WavFileSource::wait(int32_t /*timeoutMs*/) {
  return 1;  // file data is always ready
}

Result WavFileSource::read(uint8_t* buffer, int32_t capacity, int32_t* count) {
  *count = -1;
  if (!isOpen()) return kResultWavInput;
  WavSourceState* state = state_.get();
  const ReadTurn turn(state);
  if (!turn.held() || !isOpen() || state->stream == nullptr) {
    return kResultWavInput;
  }
  if (state->decoder != nullptr) {
    // A failed pull comes back with *count == -1.
    return sourceResultOf(
        framedContextRead(state->decoder, buffer, capacity, count));
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
  // A short count without an error is a file that ends early: the end.
  const int64_t got = takeData(state, buffer, static_cast<size_t>(n));
  if (got < 0) {
    debugTrace("read error\n");
    return kResultWavInput;
  }
  const int32_t r = static_cast<int32_t>(got);
  state->consumed += static_cast<uint32_t>(r);
  if (state->inputMode == InputMode::kUlaw) {
    ulawToAlawInPlace(buffer, static_cast<size_t>(r));
  }
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

Failure WavFileSource::failure() const {
  if (state_->readError == 0) return Failure{};
  return Failure{state_->name, systemErrorText(state_->readError)};
}

void WavFileSource::progress(uint64_t* taken, uint64_t* total) const {
  *taken = state_->taken.load(std::memory_order_relaxed);
  *total = state_->dataLength;
}

std::unique_ptr<WavFileSource> openWavFileSource(const char* fileName,
                                                 Failure* failure) {
  Failure ignored;
  if (failure == nullptr) failure = &ignored;
  *failure = Failure{fileName != nullptr ? fileName : "", std::string()};
  debugTrace("opening wav file %s...\n", fileName ? fileName : "(null)");
  std::unique_ptr<WavFileSource> source(new (std::nothrow) WavFileSource);
  if (source != nullptr) {
    source->state_.reset(new (std::nothrow) WavSourceState);
  }
  if (source == nullptr || source->state_ == nullptr) {
    debugTrace("could not allocate memory\n");
    failure->reason = systemErrorText(ENOMEM);
    return nullptr;
  }
  WavSourceState* state = source->state_.get();
  int openError = 0;
  std::unique_ptr<FILE, int (*)(FILE*)> stream(
      wavSourceOpenFile(fileName, &openError), fclose);
  if (stream == nullptr) {
    failure->reason =
        openError != 0 ? systemErrorText(openError) : "not a regular file";
    return nullptr;
  }
  std::string refused = readFormat(stream.get(), fileName, state);
  if (!refused.empty()) {
    failure->reason = std::move(refused);
    return nullptr;
  }
  *failure = Failure{};
  state->name = fileName;
  wavSourceAdviseSequential(stream.get(), state->position);
  state->stream = stream.release();
  source->markOpen();
  return source;
}

Failure wavSourceFailure(const AudioSource* source) {
  const auto* wav = dynamic_cast<const WavFileSource*>(source);
  return wav != nullptr ? wav->failure() : Failure{};
}

bool wavFileSourceProgress(AudioSource* source, uint64_t* taken,
                           uint64_t* total) {
  const auto* wav = dynamic_cast<const WavFileSource*>(source);
  if (wav == nullptr) return false;
  wav->progress(taken, total);
  return true;
}
