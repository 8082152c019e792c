#include "net/stream_source.h"

#include <cstring>
#include <new>
#include <string>

#include "codecs/g711.h"
#include "media/rtp_context.h"
#include "net/queue_exchange.h"
#include "net/socket.h"
#include "support/debug_trace.h"

namespace {

// Input modes this source reads.
constexpr int32_t kInputModeAlaw = 2;
constexpr int32_t kInputModeUlaw = 3;

// One receive takes up to this many bytes, which the following reads hand
// out: a fast service then costs one readiness wait and one receive per
// block of this size instead of per read of the main loop.
constexpr int32_t kReadAheadBytes = 32768;

// The framed pull waits in slices of this length for bytes or urgent data.
constexpr int32_t kPullWaitSliceMs = 1000;

struct StreamSourceState {
  // Set at open, released by destroy only: close on the stop thread shuts
  // it down but never frees it, so a wait or read in progress on the main
  // thread keeps a valid record.
  NetSocket* connection = nullptr;
  int32_t mode = kInputModeAlaw;
  // Received bytes not yet read, already in the currency: [start, end).
  uint8_t ahead[kReadAheadBytes];
  int32_t aheadStart = 0;
  int32_t aheadEnd = 0;
  // Framed modes only: decodes what streamSourcePull receives. Released by
  // destroy only, like the connection.
  RtpContext* decoder = nullptr;
  // The service's address as given, and the first failure of the
  // connection during the run.
  std::string host;
  int32_t port = 0;
  NetStatus failure;
};

// Remembers why the connection failed (the first reason only).
void noteFailure(StreamSourceState* state, NetResult result) {
  NetStatus status = result == kNetWaitExceptional
                         ? netStatusOf(NetError::kUrgent)
                         : netSocketStatus(state->connection);
  if (!status.failed()) return;  // closed by a stop
  netStatusSet(&state->failure, status.error, NetPhase::kStreaming,
               status.systemText);
}

// The one translation of socket results into source results: counts pass,
// every failure is kResultNetwork.
Result sourceResultOf(NetResult result) {
  return result < 0 ? kResultNetwork : result;
}

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
  return kResultNetwork;
}

StreamSourceState* stateOf(AudioEndpoint* endpoint) {
  return static_cast<StreamSourceState*>(endpoint->state);
}

Result streamClose(AudioEndpoint* endpoint) {
  if (endpoint == nullptr || endpoint->state == nullptr) return kResultOk;
  // Exactly one caller gets past this, whichever thread it runs on.
  if (endpoint->isOpen.exchange(0) != 1) return kResultOk;
  debugTrace("closing socket...\n");
  netClose(stateOf(endpoint)->connection);
  return kResultOk;
}

void streamDestroy(AudioEndpoint* endpoint) {
  if (endpoint == nullptr) return;
  streamClose(endpoint);
  StreamSourceState* state = stateOf(endpoint);
  if (state != nullptr) {
    rtpContextDestroy(state->decoder);
    netDestroy(state->connection);
  }
  delete state;
  delete endpoint;
}

Result streamWait(AudioEndpoint* endpoint, int32_t timeoutMs) {
  if (!endpointUsable(endpoint)) return kResultNotOpen;
  StreamSourceState* state = stateOf(endpoint);
  if (state->aheadEnd > state->aheadStart) return 1;
  // Decoded audio waiting in the decoder is ready without a receive.
  if (state->decoder != nullptr && rtpContextPending(state->decoder)) return 1;
  const NetResult ready = netWaitReadable(state->connection, timeoutMs);
  if (ready < 0) {
    debugTrace("socket select error (%d)...\n", ready);
    noteFailure(state, ready);
  }
  return sourceResultOf(ready);
}

Result streamRead(AudioEndpoint* endpoint, uint8_t* buffer, int32_t capacity,
                  int32_t* count) {
  if (!endpointUsable(endpoint)) {
    if (count != nullptr) *count = -1;
    return kResultNotOpen;
  }
  StreamSourceState* state = stateOf(endpoint);
  if (state->decoder != nullptr) {
    // A failed pull comes back with *count == -1.
    return sourceResultOf(
        rtpContextRead(state->decoder, buffer, capacity, count));
  }
  if (state->aheadEnd <= state->aheadStart) {
    const NetResult received =
        netReceive(state->connection, state->ahead, kReadAheadBytes);
    if (received < 0) {
      noteFailure(state, received);
      *count = -1;
      return sourceResultOf(received);
    }
    if (state->mode == kInputModeUlaw) {
      ulawToAlawInPlace(state->ahead, static_cast<size_t>(received));
    }
    state->aheadStart = 0;
    state->aheadEnd = received;
  }
  const int32_t available = state->aheadEnd - state->aheadStart;
  const int32_t taken = capacity <= 0          ? 0
                        : capacity < available ? capacity
                                               : available;
  if (taken > 0) {
    std::memcpy(buffer, state->ahead + state->aheadStart,
                static_cast<size_t>(taken));
  }
  state->aheadStart += taken;
  *count = taken;
  return kResultOk;
}

}  // namespace

AudioSource* openStreamSource(const char* host, int32_t port,
                              const char* queueName, int32_t inputMode,
                              const std::atomic<int32_t>* stopFlag,
                              Reporter* reporter, StreamOpenOutcome* outcome) {
  StreamOpenOutcome ignored;
  if (outcome == nullptr) outcome = &ignored;
  *outcome = StreamOpenOutcome{};
  if (inputMode != kInputModeAlaw && inputMode != kInputModeUlaw &&
      inputMode != kRtpModeFramed && inputMode != kRtpModeTyped) {
    debugTrace("could not create RTP context\n");
    return nullptr;
  }
  AudioEndpoint* endpoint = new (std::nothrow) AudioEndpoint;
  StreamSourceState* state = new (std::nothrow) StreamSourceState;
  if (endpoint == nullptr || state == nullptr) {
    debugTrace("could not allocate memory\n");
    delete endpoint;
    delete state;
    return nullptr;
  }
  debugTrace("connecting to host %s and port %d...\n",
             host != nullptr ? host : "(none)", port);
  NetStatus status;
  state->connection = netConnect(host, port, stopFlag, reporter, &status);
  if (state->connection == nullptr) {
    debugTrace("can't connect to host %s:%d\n",
               host != nullptr ? host : "(none)", port);
    outcome->failure = netFailureOf(status, host, port);
    delete state;
    delete endpoint;
    return nullptr;
  }
  if (queueName != nullptr) {
    status = queueExchange(state->connection, queueName, stopFlag,
                           &outcome->offered);
    if (status.failed()) {
      outcome->failure = netFailureOf(status, host, port);
      netDestroy(state->connection);
      delete state;
      delete endpoint;
      return nullptr;
    }
  }
  state->host = host;
  state->port = port;
  state->mode = inputMode;
  if (inputMode == kRtpModeFramed || inputMode == kRtpModeTyped) {
    state->decoder =
        rtpContextCreate(streamSourcePull, state, inputMode, reporter);
    if (state->decoder == nullptr) {
      debugTrace("could not create RTP context\n");
      netDestroy(state->connection);
      delete state;
      delete endpoint;
      return nullptr;
    }
  }
  endpoint->destroy = streamDestroy;
  endpoint->close = streamClose;
  endpoint->wait = streamWait;
  endpoint->read = streamRead;
  endpoint->state = state;
  endpoint->isOpen.store(1);
  return endpoint;
}

int32_t streamSourcePull(void* sourceState, uint8_t* buffer, int32_t length) {
  auto* state = static_cast<StreamSourceState*>(sourceState);
  if (state == nullptr) return kRtpPullFailed;
  // The decoder pulls until a frame decodes, without returning to the
  // source's wait: urgent data must be noticed here, before each receive.
  for (;;) {
    const NetResult ready =
        netWaitReadable(state->connection, kPullWaitSliceMs);
    if (ready == 0) continue;
    if (ready == kNetWaitExceptional) {
      debugTrace("urgent data while pulling framed bytes...\n");
      noteFailure(state, ready);
      return kRtpPullFailed;
    }
    // Not readable but reported: the blocking receive below decides.
    if (ready == 1 || ready == kNetWaitNotReadable) break;
    noteFailure(state, ready);
    return kRtpPullFailed;
  }
  const NetResult received = netReceive(state->connection, buffer, length);
  if (received < 0) noteFailure(state, received);
  return received < 0 ? kRtpPullFailed : received;
}

Failure streamSourceFailure(const AudioSource* source) {
  if (source == nullptr || source->state == nullptr) return {};
  const auto* state = static_cast<const StreamSourceState*>(source->state);
  return netFailureOf(state->failure, state->host.c_str(), state->port);
}
