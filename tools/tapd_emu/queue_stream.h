// The wire bytes of one queue for one client, made 20 ms (160 sample frames)
// at a time from the queue's source audio: interleaved G.711 bytes, or one
// frame per direction in a framed encoding. Each client gets its own
// QueueStream, so its encoders start with the client.
//
// In the framed encodings a direction whose 20 ms are all near zero is sent
// as a silence payload (codec type 40) instead of its codec, and the last
// partial 20 ms are filled up with zero samples.
//
// Thread-safety: one thread per QueueStream; its QueueSetup and SourceAudio
// must outlive it and not change.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/tapd_emu/payload_encoder.h"
#include "tools/tapd_emu/queue_setup.h"
#include "tools/tapd_emu/source_audio.h"

namespace tapd_emu {

// Samples whose magnitude is at most this (in 16-bit scale) count as
// silence: the A-law and u-law codes next to zero decode within it.
constexpr int kSilenceLevel = 16;

enum class StreamStep { kMore, kEnd, kFailed };

class QueueStream {
 public:
  // `loop`: start the source again at its end instead of ending.
  QueueStream(const QueueSetup& setup, const SourceAudio& audio, bool loop);

  // Creates the encoders. Returns "" or what failed.
  std::string start();

  // Appends the next 20 ms of wire bytes to *out (fewer than 20 ms at the
  // end of an unlooped G.711 source): kMore. kEnd appends nothing: the
  // source is exhausted. kFailed: an encoder failed.
  // REQUIRES: start() succeeded.
  StreamStep next(std::vector<uint8_t>* out);

  // Makes the stream one call: `frames` sample frames from `startFrame`,
  // wrapping round at the source's end.
  void limitToCall(uint64_t startFrame, uint64_t frames);

  // The sample frames covered so far.
  uint64_t framesDone() const { return framesDone_; }

 private:
  // The next up to 160 source frame indices (wrapping when looping).
  size_t takeFrames(size_t* indices);
  StreamStep nextFramed(const size_t* indices, size_t count,
                        std::vector<uint8_t>* out);

  const QueueSetup& setup_;
  const SourceAudio& audio_;
  bool loop_;
  size_t position_ = 0;
  uint64_t framesDone_ = 0;
  uint64_t callFrames_ = 0;  // 0: no call limit
  bool opened_ = false;  // the framed stream's opening flag was sent
  PayloadEncoderPtr encoder_[2];
  bool silent_[2] = {false, false};  // the direction's last frame was silence
  std::vector<uint8_t> payload_;
};

}  // namespace tapd_emu
