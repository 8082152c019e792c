// G.722 payloads (codec type 13): 64000 bit/s from 16 kHz audio, two 80-byte
// units per 20 ms, from spandsp. The 8 kHz source is brought to 16 kHz by
// linear interpolation: each sample is preceded by the midpoint between it
// and the sample before it.
#include <cmath>
#include <cstdint>

// telephony.h first: g722.h needs its definitions.
#include <spandsp/telephony.h>
//
#include <spandsp/g722.h>
// telephony.h redefines lrint and lrintf as plain casts.
#undef lrint
#undef lrintf

#include "tools/tapd_emu/payload_encoder.h"

namespace tapd_emu {
namespace {

constexpr int kG722Rate = 64000;
constexpr int kG722PayloadBytes = 160;  // 2 units of 80 bytes

struct G722Deleter {
  void operator()(g722_encode_state_t* state) const { g722_encode_free(state); }
};

class G722PayloadEncoder : public PayloadEncoder {
 public:
  explicit G722PayloadEncoder(g722_encode_state_t* state) : state_(state) {}

  bool encode(const int16_t* samples, std::vector<uint8_t>* payload) override {
    int16_t wide[2 * kFrameSamples];
    for (int i = 0; i < kFrameSamples; ++i) {
      const int16_t sample = blockCodecInput(samples[i]);
      wide[2 * i] = static_cast<int16_t>((previous_ + sample) / 2);
      wide[2 * i + 1] = sample;
      previous_ = sample;
    }
    uint8_t out[kG722PayloadBytes];
    const int length = g722_encode(state_.get(), out, wide, 2 * kFrameSamples);
    if (length != kG722PayloadBytes) return false;
    payload->insert(payload->end(), out, out + length);
    return true;
  }

 private:
  std::unique_ptr<g722_encode_state_t, G722Deleter> state_;
  int previous_ = 0;
};

}  // namespace

PayloadEncoderPtr makeG722PayloadEncoder(std::string* error) {
  g722_encode_state_t* state = g722_encode_init(nullptr, kG722Rate, 0);
  if (state == nullptr) {
    *error = "could not create a G.722 encoder";
    return nullptr;
  }
  return std::make_unique<G722PayloadEncoder>(state);
}

}  // namespace tapd_emu
