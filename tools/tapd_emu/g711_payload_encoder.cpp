// G.711 payloads (codec types 2 and 3): one byte per sample, full scale.
#include "codecs/g711.h"
#include "tools/tapd_emu/payload_encoder.h"
#include "tools/tapd_emu/ulaw.h"

namespace tapd_emu {
namespace {

class G711PayloadEncoder : public PayloadEncoder {
 public:
  explicit G711PayloadEncoder(bool alaw) : alaw_(alaw) {}

  bool encode(const int16_t* samples, std::vector<uint8_t>* payload) override {
    for (int i = 0; i < kFrameSamples; ++i) {
      // A 16-bit sample is a 13-bit A-law input shifted left by 3.
      payload->push_back(alaw_ ? linearToAlaw(samples[i] >> 3)
                               : linearToUlaw(samples[i]));
    }
    return true;
  }

 private:
  bool alaw_;
};

}  // namespace

PayloadEncoderPtr makeG711PayloadEncoder(Codec codec, std::string*) {
  return std::make_unique<G711PayloadEncoder>(codec == Codec::kAlaw);
}

}  // namespace tapd_emu
