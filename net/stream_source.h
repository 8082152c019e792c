// Recorder stream source: the AudioSource that connects to the recording
// service, selects a live queue through the queue exchange and delivers its
// audio as the currency: A-law bytes (input mode 2) unchanged, u-law bytes
// (mode 3) converted to A-law, framed streams (modes 6 and 7) decoded by an
// FramedContext that pulls from the connection through StreamSource::pull.
//
// Thread-safety: open, wait, read and the destructor run on the main thread.
// close may also run on the stop thread while the main thread is inside wait
// or read: it shuts the connection down, which makes the pending call return
// at once, and the state that call uses stays valid until the destructor.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/audio_endpoint.h"
#include "core/input_mode.h"
#include "media/framed_context.h"
#include "net/socket.h"
#include "support/failure.h"
#include "support/reporter.h"

// What opening a stream source found (see openStreamSource).
struct StreamOpenOutcome {
  // Why opening failed: "HOST port PORT" or "HOST" and the reason; empty
  // after a stop or an unreadable input mode.
  Failure failure;
  // The queue names of the service's list, in its order (see
  // queueExchange); empty without a queue exchange.
  std::vector<std::string> offered;
};

// Read results: those of AudioSource; in the framed modes a receive failure
// is kResultNetwork with *count == -1, the service's orderly close the end
// (0, *count == 0), and the end read is kResultUndecodable when frames of the
// run had unsupported codec types.
class StreamSource final : public AudioSource {
 public:
  ~StreamSource() override;
  Result close() override;
  Result wait(int32_t timeoutMs) override;
  Result read(uint8_t* buffer, int32_t capacity, int32_t* count) override;

  // Why the connection failed during the run ("HOST port PORT" and the
  // reason: a reset, urgent data, a receive failure); empty while it has
  // not failed, and when it ended by a close (the operator's stop) rather
  // than by a failure.
  Failure failure() const;

  // The framed decoder's byte supply: receives up to `length` bytes from the
  // connection. Returns the number received, 0 when the service closed the
  // connection, or kFramedPullFailed on a receive failure, on urgent data (also
  // when it arrives while the pull waits for bytes), and when the
  // connection has been closed.
  [[nodiscard]] int32_t pull(uint8_t* buffer, int32_t length);

 private:
  friend std::unique_ptr<StreamSource> openStreamSource(
      const char*, int32_t, const char*, InputMode, const std::atomic<int32_t>*,
      Reporter*, StreamOpenOutcome*);
  // One receive takes up to this many bytes, which the following reads hand
  // out: a fast service then costs one readiness wait and one receive per
  // block of this size instead of per read of the main loop.
  static constexpr int32_t kReadAheadBytes = 32768;

  StreamSource() = default;
  void noteFailure(NetResult result);

  // Set at open, released by the destructor only: close on the stop thread
  // shuts it down but never frees it, so a wait or read in progress on the
  // main thread keeps a valid connection.
  NetSocket* connection_ = nullptr;
  InputMode mode_ = InputMode::kAlaw;
  // Received bytes not yet read, already in the currency: [start, end).
  uint8_t ahead_[kReadAheadBytes];
  int32_t aheadStart_ = 0;
  int32_t aheadEnd_ = 0;
  // Framed modes only: decodes what pull receives. Released by the
  // destructor only, like the connection.
  FramedContext* decoder_ = nullptr;
  // The service's address as given, and the first failure of the
  // connection during the run.
  std::string host_;
  int32_t port_ = 0;
  NetStatus failure_;
};

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
[[nodiscard]] std::unique_ptr<StreamSource> openStreamSource(
    const char* host, int32_t port, const char* queueName, InputMode inputMode,
    const std::atomic<int32_t>* stopFlag, Reporter* reporter = nullptr,
    StreamOpenOutcome* outcome = nullptr);

// StreamSource::failure of `source` when it is a stream source; empty
// otherwise.
Failure streamSourceFailure(const AudioSource* source);
