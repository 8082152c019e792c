// G.729 Annex A payloads (codec type 9): two 10-byte frames per 20 ms, from
// bcg729 with voice activity detection off.
#include <cstring>

extern "C" {
#include <bcg729/encoder.h>
}

#include "tools/tapd_emu/payload_encoder.h"

namespace tapd_emu {
namespace {

constexpr int kG729FrameSamples = 80;
constexpr int kG729FrameBytes = 10;

struct G729Deleter {
  void operator()(bcg729EncoderChannelContextStruct* context) const {
    closeBcg729EncoderChannel(context);
  }
};

class G729PayloadEncoder : public PayloadEncoder {
 public:
  explicit G729PayloadEncoder(bcg729EncoderChannelContextStruct* context)
      : context_(context) {}

  bool encode(const int16_t* samples, std::vector<uint8_t>* payload) override {
    for (int unit = 0; unit < kFrameSamples / kG729FrameSamples; ++unit) {
      int16_t input[kG729FrameSamples];
      for (int i = 0; i < kG729FrameSamples; ++i) {
        input[i] = blockCodecInput(samples[unit * kG729FrameSamples + i]);
      }
      uint8_t frame[kG729FrameBytes];
      uint8_t length = 0;
      bcg729Encoder(context_.get(), input, frame, &length);
      if (length != kG729FrameBytes) return false;
      payload->insert(payload->end(), frame, frame + kG729FrameBytes);
    }
    return true;
  }

 private:
  std::unique_ptr<bcg729EncoderChannelContextStruct, G729Deleter> context_;
};

}  // namespace

PayloadEncoderPtr makeG729PayloadEncoder(std::string* error) {
  bcg729EncoderChannelContextStruct* context = initBcg729EncoderChannel(0);
  if (context == nullptr) {
    *error = "could not create a G.729 encoder";
    return nullptr;
  }
  return std::make_unique<G729PayloadEncoder>(context);
}

}  // namespace tapd_emu
