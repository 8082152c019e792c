// GSM 06.10 full-rate adapter over libgsm: plain 33-byte frames, 160
// samples each.
#include <gsm.h>

#include <new>

#include "codecs/speech_decoder.h"

namespace {

struct GsmDeleter {
  void operator()(gsm_state* handle) const { gsm_destroy(handle); }
};

class GsmDecoder final : public SpeechDecoder {
 public:
  explicit GsmDecoder(gsm handle) : handle_(handle) {}

  int32_t decode(const uint8_t* unit, int16_t* samples, int32_t capacity,
                 bool /*erasure*/) override {
    if (capacity < 160) return -1;
    // libgsm takes a non-const frame pointer but only reads it.
    if (gsm_decode(handle_.get(), const_cast<gsm_byte*>(unit), samples) != 0) {
      return -1;
    }
    return 160;
  }

 private:
  std::unique_ptr<gsm_state, GsmDeleter> handle_;
};

}  // namespace

SpeechDecoderPtr gsmDecoderCreate(const SpeechCodecInfo& /*info*/) {
  gsm handle = gsm_create();
  if (handle == nullptr) return nullptr;
  auto* decoder = new (std::nothrow) GsmDecoder(handle);
  if (decoder == nullptr) gsm_destroy(handle);
  return SpeechDecoderPtr(decoder);
}
