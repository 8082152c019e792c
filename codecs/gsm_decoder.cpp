// GSM 06.10 full-rate adapter over libgsm: plain 33-byte frames, 160
// samples each.
#include <gsm.h>

#include <new>

#include "codecs/codec_library.h"
#include "codecs/speech_decoder.h"

namespace {

// The libgsm functions this adapter calls, resolved once.
struct GsmApi {
  decltype(&::gsm_create) create = nullptr;
  decltype(&::gsm_destroy) destroy = nullptr;
  decltype(&::gsm_decode) decode = nullptr;
};

// The resolved functions, or nullptr when libgsm cannot be had.
const GsmApi* gsmApi() {
  static const GsmApi* const api = []() -> const GsmApi* {
    static GsmApi table;
    const CodecLibrary library = CodecLibrary::kGsm;
    const bool resolved =
        codecLibraryResolve(library, "gsm_create", &table.create) &&
        codecLibraryResolve(library, "gsm_destroy", &table.destroy) &&
        codecLibraryResolve(library, "gsm_decode", &table.decode);
    return resolved ? &table : nullptr;
  }();
  return api;
}

struct GsmDeleter {
  void operator()(gsm_state* handle) const { gsmApi()->destroy(handle); }
};

class GsmDecoder final : public SpeechDecoder {
 public:
  explicit GsmDecoder(gsm handle) : handle_(handle) {}

  int32_t decode(const uint8_t* unit, int16_t* samples, int32_t capacity,
                 bool /*erasure*/) override {
    if (capacity < 160) return -1;
    // libgsm takes a non-const frame pointer but only reads it.
    if (gsmApi()->decode(handle_.get(), const_cast<gsm_byte*>(unit),
                         samples) != 0) {
      return -1;
    }
    return 160;
  }

 private:
  std::unique_ptr<gsm_state, GsmDeleter> handle_;
};

}  // namespace

SpeechDecoderPtr gsmDecoderCreate(const SpeechCodecInfo& /*info*/) {
  const GsmApi* api = gsmApi();
  if (api == nullptr) return nullptr;
  gsm handle = api->create();
  if (handle == nullptr) return nullptr;
  auto* decoder = new (std::nothrow) GsmDecoder(handle);
  if (decoder == nullptr) api->destroy(handle);
  return SpeechDecoderPtr(decoder);
}
