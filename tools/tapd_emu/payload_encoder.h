// Encoders for one direction of a framed call: each turns 20 ms of 8 kHz
// 16-bit audio into the payload of one frame of its codec type. One adapter
// file per codec library; makePayloadEncoder picks it.
//
// The receiver turns a block codec's decoded sample into A-law after an
// arithmetic shift right by 2, where a linear sample takes a shift by 3:
// block codecs therefore get half-scale samples, which keeps every codec at
// the level of the source.
//
// Thread-safety: an encoder belongs to one session's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/tapd_emu/queue_setup.h"

namespace tapd_emu {

// Samples per frame: 20 ms at 8000 Hz.
constexpr int kFrameSamples = 160;

class PayloadEncoder {
 public:
  virtual ~PayloadEncoder() = default;

  // Appends the payload for kFrameSamples samples to *payload. Returns false
  // when the codec library failed.
  // REQUIRES: samples holds kFrameSamples values.
  [[nodiscard]] virtual bool encode(const int16_t* samples,
                                    std::vector<uint8_t>* payload) = 0;

  // Called before the first frame after frames sent as silence payloads.
  // It does what the receiver's decoder does then: the G.726 decoder starts
  // afresh when the codec type of a direction changes, the others keep
  // their state. Returns false when the codec library failed.
  [[nodiscard]] virtual bool resumeAfterSilence() { return true; }
};

using PayloadEncoderPtr = std::unique_ptr<PayloadEncoder>;

// A new encoder for `codec`, or nullptr with *error set.
PayloadEncoderPtr makePayloadEncoder(Codec codec, std::string* error);

// The input a block-codec encoder gets for a source sample (see above).
inline int16_t blockCodecInput(int16_t sample) {
  return static_cast<int16_t>(sample >> 1);
}

// The adapters, one per file.
PayloadEncoderPtr makeG711PayloadEncoder(Codec codec, std::string* error);
PayloadEncoderPtr makeGsmPayloadEncoder(std::string* error);
PayloadEncoderPtr makeG726PayloadEncoder(Codec codec, std::string* error);
PayloadEncoderPtr makeG729PayloadEncoder(std::string* error);
PayloadEncoderPtr makeG722PayloadEncoder(std::string* error);

}  // namespace tapd_emu
