// G.729 Annex A adapter over bcg729: 10-byte frames, 80 samples each, no
// SID or RFC 3389 comfort-noise payloads.
extern "C" {
#include <bcg729/decoder.h>
}

#include <new>

#include "codecs/speech_decoder.h"

namespace {

constexpr uint8_t kFrameBytes = 10;

struct Bcg729Deleter {
  void operator()(bcg729DecoderChannelContextStruct* channel) const {
    closeBcg729DecoderChannel(channel);
  }
};

class G729Decoder final : public SpeechDecoder {
 public:
  explicit G729Decoder(bcg729DecoderChannelContextStruct* channel)
      : channel_(channel) {}

  int32_t decode(const uint8_t* unit, int16_t* samples, int32_t capacity,
                 bool erasure) override {
    if (capacity < 80) return -1;
    bcg729Decoder(channel_.get(), unit, kFrameBytes, erasure ? 1 : 0, 0, 0,
                  samples);
    return 80;
  }

 private:
  std::unique_ptr<bcg729DecoderChannelContextStruct, Bcg729Deleter> channel_;
};

}  // namespace

SpeechDecoderPtr g729DecoderCreate(const SpeechCodecInfo& /*info*/) {
  bcg729DecoderChannelContextStruct* channel = initBcg729DecoderChannel();
  if (channel == nullptr) return nullptr;
  auto* decoder = new (std::nothrow) G729Decoder(channel);
  if (decoder == nullptr) closeBcg729DecoderChannel(channel);
  return SpeechDecoderPtr(decoder);
}
