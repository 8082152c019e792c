#include "net/stream_source.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "codecs/g711.h"
#include "media/framed_context.h"
#include "net/queue_exchange.h"
#include "net/socket.h"
#include "support/debug_trace.h"

namespace {

// The framed pull waits in slices of this length for bytes or urgent data.
constexpr int32_t kPullWaitSliceMs = 1000;

Result sourceResultOf(NetResult result) {
  return result < 0 ? kResultNetwork : result;
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
  return kResultNetwork;
}

// The decoder's pull callback: `source` is the StreamSource.
int32_t pullFromSource(void* source, uint8_t* buffer, int32_t length) {
  return static_cast<StreamSource*>(source)->pull(buffer, length);
}

}  // namespace

// Remembers why the connection failed (the first reason only).
void StreamSource::noteFailure(NetResult result) {
  NetStatus status = result == kNetWaitExceptional
                         ? netStatusOf(NetError::kUrgent)
                         : netSocketStatus(connection_);
  if (!status.failed()) return;  // closed by a stop
  netStatusSet(&failure_, status.error, NetPhase::kStreaming,
               status.systemText);
}

StreamSource::~StreamSource() {
  close();
  framedContextDestroy(decoder_);
  netDestroy(connection_);
}

Result StreamSource::close() {
  // Exactly one caller gets past this, whichever thread it runs on.
  if (!markClosed()) return kResultOk;
  debugTrace("closing socket...\n");
  netClose(connection_);
  return kResultOk;
}

Result StreamSource::wait(int32_t timeoutMs) {
  if (!isOpen()) return kResultNotOpen;
  if (aheadEnd_ > aheadStart_) return 1;
  // Decoded audio waiting in the decoder is ready without a receive.
  if (decoder_ != nullptr && framedContextPending(decoder_)) return 1;
  const NetResult ready = netWaitReadable(connection_, timeoutMs);
  if (ready < 0) {
    debugTrace("socket select error (%d)...\n", ready);
    noteFailure(ready);
  }
  return sourceResultOf(ready);
}

Result StreamSource::read(uint8_t* buffer, int32_t capacity, int32_t* count) {
  if (!isOpen()) {
    if (count != nullptr) *count = -1;
    return kResultNotOpen;
  }
  if (decoder_ != nullptr) {
    // A failed pull comes back with *count == -1.
    return sourceResultOf(framedContextRead(decoder_, buffer, capacity, count));
  }
  if (aheadEnd_ <= aheadStart_) {
    const NetResult received = netReceive(connection_, ahead_, kReadAheadBytes);
    if (received < 0) {
      noteFailure(received);
      *count = -1;
      return sourceResultOf(received);
    }
    if (mode_ == InputMode::kUlaw) {
      ulawToAlawInPlace(ahead_, static_cast<size_t>(received));
    }
    aheadStart_ = 0;
    aheadEnd_ = received;
  }
  const int32_t available = aheadEnd_ - aheadStart_;
  const int32_t taken = capacity <= 0          ? 0
                        : capacity < available ? capacity
                                               : available;
  if (taken > 0) {
    std::memcpy(buffer, ahead_ + aheadStart_, static_cast<size_t>(taken));
  }
  aheadStart_ += taken;
  *count = taken;
  return kResultOk;
}

std::unique_ptr<StreamSource> openStreamSource(
    const char* host, int32_t port, const char* queueName, InputMode inputMode,
    const std::atomic<int32_t>* stopFlag, Reporter* reporter,
    StreamOpenOutcome* outcome) {
  StreamOpenOutcome ignored;
  if (outcome == nullptr) outcome = &ignored;
  *outcome = StreamOpenOutcome{};
  std::unique_ptr<StreamSource> source(new (std::nothrow) StreamSource);
  if (source == nullptr) {
    debugTrace("could not allocate memory\n");
    return nullptr;
  }
  debugTrace("connecting to host %s and port %d...\n",
             host != nullptr ? host : "(none)", port);
  NetStatus status;
  source->connection_ = netConnect(host, port, stopFlag, reporter, &status);
  if (source->connection_ == nullptr) {
    debugTrace("can't connect to host %s:%d\n",
               host != nullptr ? host : "(none)", port);
    outcome->failure = netFailureOf(status, host, port);
    return nullptr;
  }
  if (queueName != nullptr) {
    status = queueExchange(source->connection_, queueName, stopFlag,
                           &outcome->offered);
    if (status.failed()) {
      outcome->failure = netFailureOf(status, host, port);
      return nullptr;
    }
  }
  source->host_ = host;
  source->port_ = port;
  source->mode_ = inputMode;
  if (inputMode == InputMode::kFramed || inputMode == InputMode::kFramedTyped) {
    source->decoder_ =
        framedContextCreate(pullFromSource, source.get(), inputMode, reporter);
    if (source->decoder_ == nullptr) {
      debugTrace("could not create RTP context\n");
      return nullptr;
    }
  }
  source->markOpen();
  return source;
}

int32_t StreamSource::pull(uint8_t* buffer, int32_t length) {
  // The decoder pulls until a frame decodes, without returning to the
  // source's wait: urgent data must be noticed here, before each receive.
  for (;;) {
    const NetResult ready = netWaitReadable(connection_, kPullWaitSliceMs);
    if (ready == 0) continue;
    if (ready == kNetWaitExceptional) {
      debugTrace("urgent data while pulling framed bytes...\n");
      noteFailure(ready);
      return kFramedPullFailed;
    }
    // Not readable but reported: the blocking receive below decides.
    if (ready == 1 || ready == kNetWaitNotReadable) break;
    noteFailure(ready);
    return kFramedPullFailed;
  }
  const NetResult received = netReceive(connection_, buffer, length);
  if (received < 0) noteFailure(received);
  return received < 0 ? kFramedPullFailed : received;
}

Failure StreamSource::failure() const {
  return netFailureOf(failure_, host_.c_str(), port_);
}

Failure streamSourceFailure(const AudioSource* source) {
  const auto* stream = dynamic_cast<const StreamSource*>(source);
  return stream != nullptr ? stream->failure() : Failure{};
}
