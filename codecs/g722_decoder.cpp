// G.722 adapter over spandsp: 64000 bit/s, decoded to 8000 samples per
// second (lower sub-band only), so each 80-byte unit gives 80 samples.
//
// spandsp's telephony.h defines lrint, lrintf, TRUE and FALSE as macros; it
// stays confined to this file, included after every standard header.
#include <cmath>
#include <cstdint>
#include <new>

#include "codecs/codec_library.h"
#include "codecs/speech_decoder.h"

#include <spandsp/telephony.h>
#include <spandsp/g722.h>
#include <spandsp/private/g722.h>

#undef lrint
#undef lrintf

namespace {

constexpr int kBitRate = 64000;

// The spandsp functions this adapter calls, resolved once.
struct G722Api {
  decltype(&::g722_decode_init) init = nullptr;
  decltype(&::g722_decode) decode = nullptr;
  decltype(&::g722_decode_release) release = nullptr;
};

// The resolved functions, or nullptr when spandsp cannot be had.
const G722Api* g722Api() {
  static const G722Api* const api = []() -> const G722Api* {
    static G722Api table;
    const CodecLibrary library = CodecLibrary::kSpandsp;
    const bool resolved =
        codecLibraryResolve(library, "g722_decode_init", &table.init) &&
        codecLibraryResolve(library, "g722_decode", &table.decode) &&
        codecLibraryResolve(library, "g722_decode_release", &table.release);
    return resolved ? &table : nullptr;
  }();
  return api;
}

// The decoder state lives inside the adapter: g722_decode_init fills our
// storage and g722_decode_release has nothing of its own to free, so nothing
// is freed twice and nothing leaks.
class G722Decoder final : public SpeechDecoder {
 public:
  bool init() {
    if (g722Api() == nullptr ||
        g722Api()->init(&state_, kBitRate, G722_SAMPLE_RATE_8000) == nullptr) {
      return false;
    }
    initialised_ = true;
    return true;
  }

  ~G722Decoder() override {
    if (initialised_) g722Api()->release(&state_);
  }

  int32_t decode(const uint8_t* unit, int16_t* samples, int32_t capacity,
                 bool /*erasure*/) override {
    // Each code byte yields one sample at this rate and option.
    if (capacity < 80) return -1;
    return g722Api()->decode(&state_, samples, unit, 80);
  }

 private:
  g722_decode_state_t state_{};
  bool initialised_ = false;
};

}  // namespace

SpeechDecoderPtr g722DecoderCreate(const SpeechCodecInfo& /*info*/) {
  auto decoder = std::unique_ptr<G722Decoder>(new (std::nothrow) G722Decoder);
  if (decoder == nullptr || !decoder->init()) return nullptr;
  return decoder;
}
