// G.729 Annex A adapter over bcg729: 10-byte frames, 80 samples each, no
// SID or RFC 3389 comfort-noise payloads.
extern "C" {
#include <bcg729/decoder.h>
}

#include <new>

#include "codecs/codec_library.h"
#include "codecs/speech_decoder.h"

namespace {

constexpr uint8_t kFrameBytes = 10;

// The bcg729 functions this adapter calls, resolved once.
struct Bcg729Api {
  decltype(&::initBcg729DecoderChannel) init = nullptr;
  decltype(&::closeBcg729DecoderChannel) close = nullptr;
  decltype(&::bcg729Decoder) decode = nullptr;
};

// The resolved functions, or nullptr when bcg729 cannot be had.
const Bcg729Api* bcg729Api() {
  static const Bcg729Api* const api = []() -> const Bcg729Api* {
    static Bcg729Api table;
    const CodecLibrary library = CodecLibrary::kBcg729;
    const bool resolved =
        codecLibraryResolve(library, "initBcg729DecoderChannel", &table.init) &&
        codecLibraryResolve(library, "closeBcg729DecoderChannel", &table.close) &&
        codecLibraryResolve(library, "bcg729Decoder", &table.decode);
    return resolved ? &table : nullptr;
  }();
  return api;
}

struct Bcg729Deleter {
  void operator()(bcg729DecoderChannelContextStruct* channel) const {
    bcg729Api()->close(channel);
  }
};

class G729Decoder final : public SpeechDecoder {
 public:
  explicit G729Decoder(bcg729DecoderChannelContextStruct* channel)
      : channel_(channel) {}

  int32_t decode(const uint8_t* unit, int16_t* samples, int32_t capacity,
                 bool erasure) override {
    if (capacity < 80) return -1;
    bcg729Api()->decode(channel_.get(), unit, kFrameBytes, erasure ? 1 : 0, 0,
                        0, samples);
    return 80;
  }

 private:
  std::unique_ptr<bcg729DecoderChannelContextStruct, Bcg729Deleter> channel_;
};

}  // namespace

SpeechDecoderPtr g729DecoderCreate(const SpeechCodecInfo& /*info*/) {
  const Bcg729Api* api = bcg729Api();
  if (api == nullptr) return nullptr;
  bcg729DecoderChannelContextStruct* channel = api->init();
  if (channel == nullptr) return nullptr;
  auto* decoder = new (std::nothrow) G729Decoder(channel);
  if (decoder == nullptr) api->close(channel);
  return SpeechDecoderPtr(decoder);
}
