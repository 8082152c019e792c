// GSM 06.10 payloads (codec type 4): one plain 33-byte frame per 160
// samples, from libgsm.
#include <gsm.h>

#include "tools/tapd_emu/payload_encoder.h"

namespace tapd_emu {
namespace {

constexpr int kGsmFrameBytes = 33;

struct GsmDeleter {
  void operator()(gsm_state* state) const { gsm_destroy(state); }
};

class GsmPayloadEncoder : public PayloadEncoder {
 public:
  explicit GsmPayloadEncoder(gsm state) : state_(state) {}

  bool encode(const int16_t* samples, std::vector<uint8_t>* payload) override {
    gsm_signal input[kFrameSamples];
    for (int i = 0; i < kFrameSamples; ++i) {
      input[i] = blockCodecInput(samples[i]);
    }
    gsm_byte frame[kGsmFrameBytes];
    gsm_encode(state_.get(), input, frame);
    payload->insert(payload->end(), frame, frame + kGsmFrameBytes);
    return true;
  }

 private:
  std::unique_ptr<gsm_state, GsmDeleter> state_;
};

}  // namespace

PayloadEncoderPtr makeGsmPayloadEncoder(std::string* error) {
  gsm state = gsm_create();
  if (state == nullptr) {
    *error = "could not create a GSM encoder";
    return nullptr;
  }
  return std::make_unique<GsmPayloadEncoder>(state);
}

}  // namespace tapd_emu
