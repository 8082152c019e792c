// Recorder stream source: the AudioSource that connects to the recording
// service, selects a live queue through the queue exchange and delivers its
// audio as the currency: A-law bytes (input mode 2) unchanged, u-law bytes
// (mode 3) converted to A-law, framed streams (modes 6 and 7) decoded by an
// RtpContext that pulls from the connection through streamSourcePull.
//
// Thread-safety: open, wait, read and destroy run on the main thread. close
// may also run on the stop thread while the main thread is inside wait or
// read: it shuts the connection down, which makes the pending call return at
// once, and the state that call uses stays valid until destroy.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "app/audio_endpoint.h"
#include "media/rtp_context.h"
#include "support/failure.h"
#include "support/reporter.h"

// Read results: those of AudioEndpoint; in the framed modes a receive failure
// is kResultNetwork with *count == -1, the service's orderly close the end
// (0, *count == 0), and the end read is kResultUndecodable when frames of the
// run had unsupported codec types.
//
// Opens the source: connects to host:port, performs the queue exchange when
// `queueName` is given (nothing is read or sent before the audio
// otherwise), and reads `inputMode` audio. `stopFlag` (may be null) is
// watched while connecting and exchanging: once it is set, opening gives up
// within about 100 ms. Returns nullptr on any failure (no connection, the
// service closing or failing before the end of its queue list, a failed send
// of the queue name, a stop, an input mode that cannot be read). Nothing is
// printed: the socket layer and the decoder report their lines to
// `reporter` (null: the console), and *outcome (may be null) tells why
// opening failed and which queues the service offered.
// REQUIRES: *stopFlag and *reporter outlive the source.
struct StreamOpenOutcome {
  // Why opening failed: "HOST port PORT" or "HOST" and the reason; empty
  // after a stop or an unreadable input mode.
  Failure failure;
  // The queue names of the service's list, in its order (see
  // queueExchange); empty without a queue exchange.
  std::vector<std::string> offered;
};
[[nodiscard]] AudioSource* openStreamSource(
    const char* host, int32_t port, const char* queueName, int32_t inputMode,
    const std::atomic<int32_t>* stopFlag, Reporter* reporter = nullptr,
    StreamOpenOutcome* outcome = nullptr);

// Why the connection of the open stream source failed during the run
// ("HOST port PORT" and the reason: a reset, urgent data, a receive
// failure); empty while it has not failed, and when it ended by a close
// (the operator's stop) rather than by a failure.
// REQUIRES: source was returned by openStreamSource.
Failure streamSourceFailure(const AudioSource* source);

// The byte-pull callback of the media decoder for framed input: receives up
// to `length` bytes from the connection of the source whose private state is
// `sourceState` (AudioEndpoint::state). Returns the number received, 0 when
// the service closed the connection, or kRtpPullFailed on a receive failure,
// on urgent data (also when it arrives while the pull waits for bytes), and
// when the connection has been closed.
[[nodiscard]] int32_t streamSourcePull(void* sourceState, uint8_t* buffer,
                                       int32_t length);
