// G.726 adapter over libavcodec's AV_CODEC_ID_ADPCM_G726 decoder (code words
// packed most significant bit first): one channel at 8000 samples per
// second, code words of bitRate / 8000 bits, 80 samples per unit.
//
// The decoder's prediction history cannot be reset in place, so a change of
// rate means a new decoder (a new adapter) rather than a flush.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

#include <cstring>
#include <new>

#include "codecs/codec_library.h"
#include "codecs/speech_decoder.h"

namespace {

// The libavcodec and libavutil functions this adapter calls, resolved once.
struct AvApi {
  decltype(&::avcodec_find_decoder) findDecoder = nullptr;
  decltype(&::avcodec_alloc_context3) allocContext = nullptr;
  decltype(&::avcodec_free_context) freeContext = nullptr;
  decltype(&::avcodec_open2) open = nullptr;
  decltype(&::avcodec_send_packet) sendPacket = nullptr;
  decltype(&::avcodec_receive_frame) receiveFrame = nullptr;
  decltype(&::av_packet_alloc) allocPacket = nullptr;
  decltype(&::av_packet_free) freePacket = nullptr;
  decltype(&::av_frame_alloc) allocFrame = nullptr;
  decltype(&::av_frame_free) freeFrame = nullptr;
  decltype(&::av_frame_unref) unrefFrame = nullptr;
  decltype(&::av_channel_layout_default) defaultLayout = nullptr;
  decltype(&::av_log_set_level) setLogLevel = nullptr;
};

// The resolved functions, or nullptr when either library cannot be had.
// The libraries' own logging is silenced once, before any use.
const AvApi* avApi() {
  static const AvApi* const api = []() -> const AvApi* {
    static AvApi table;
    const CodecLibrary codec = CodecLibrary::kAvcodec;
    const CodecLibrary util = CodecLibrary::kAvutil;
    const bool resolved =
        codecLibraryResolve(util, "av_log_set_level", &table.setLogLevel) &&
        codecLibraryResolve(util, "av_frame_alloc", &table.allocFrame) &&
        codecLibraryResolve(util, "av_frame_free", &table.freeFrame) &&
        codecLibraryResolve(util, "av_frame_unref", &table.unrefFrame) &&
        codecLibraryResolve(util, "av_channel_layout_default",
                            &table.defaultLayout) &&
        codecLibraryResolve(codec, "avcodec_find_decoder", &table.findDecoder) &&
        codecLibraryResolve(codec, "avcodec_alloc_context3",
                            &table.allocContext) &&
        codecLibraryResolve(codec, "avcodec_free_context", &table.freeContext) &&
        codecLibraryResolve(codec, "avcodec_open2", &table.open) &&
        codecLibraryResolve(codec, "avcodec_send_packet", &table.sendPacket) &&
        codecLibraryResolve(codec, "avcodec_receive_frame",
                            &table.receiveFrame) &&
        codecLibraryResolve(codec, "av_packet_alloc", &table.allocPacket) &&
        codecLibraryResolve(codec, "av_packet_free", &table.freePacket);
    if (!resolved) return nullptr;
    table.setLogLevel(AV_LOG_QUIET);
    return &table;
  }();
  return api;
}

struct CodecContextDeleter {
  void operator()(AVCodecContext* context) const {
    avApi()->freeContext(&context);
  }
};
struct FrameDeleter {
  void operator()(AVFrame* frame) const { avApi()->freeFrame(&frame); }
};
struct PacketDeleter {
  void operator()(AVPacket* packet) const { avApi()->freePacket(&packet); }
};

class G726Decoder final : public SpeechDecoder {
 public:
  explicit G726Decoder(int32_t unitBytes) : unitBytes_(unitBytes) {}

  // REQUIRES: avApi() is not null.
  bool open(int32_t bitRate) {
    const AvApi& av = *avApi();
    const AVCodec* codec = av.findDecoder(AV_CODEC_ID_ADPCM_G726);
    if (codec == nullptr) return false;
    context_.reset(av.allocContext(codec));
    frame_.reset(av.allocFrame());
    packet_.reset(av.allocPacket());
    if (!context_ || !frame_ || !packet_) return false;
    context_->sample_rate = 8000;
    av.defaultLayout(&context_->ch_layout, 1);
    context_->bit_rate = bitRate;
    // Mandatory: the decoder takes its code-word size from here.
    context_->bits_per_coded_sample = bitRate / 8000;
    return av.open(context_.get(), codec, nullptr) == 0;
  }

  int32_t decode(const uint8_t* unit, int16_t* samples, int32_t capacity,
                 bool /*erasure*/) override {
    const AvApi& av = *avApi();
    // The packet only borrows the unit; libavcodec copies what it keeps.
    packet_->data = const_cast<uint8_t*>(unit);
    packet_->size = unitBytes_;
    const int sent = av.sendPacket(context_.get(), packet_.get());
    packet_->data = nullptr;
    packet_->size = 0;
    if (sent < 0) return -1;
    int32_t written = 0;
    bool failed = false;
    // Drain every frame the unit produced so the decoder never holds a
    // stale one, even when we refuse its contents.
    while (av.receiveFrame(context_.get(), frame_.get()) == 0) {
      const int n = frame_->nb_samples;
      if (frame_->format != AV_SAMPLE_FMT_S16 || n <= 0 ||
          n > capacity - written) {
        failed = true;
      } else {
        std::memcpy(samples + written, frame_->data[0],
                    static_cast<size_t>(n) * sizeof(int16_t));
        written += n;
      }
      av.unrefFrame(frame_.get());
    }
    if (failed || written == 0) return -1;
    return written;
  }

 private:
  int32_t unitBytes_;
  std::unique_ptr<AVCodecContext, CodecContextDeleter> context_;
  std::unique_ptr<AVFrame, FrameDeleter> frame_;
  std::unique_ptr<AVPacket, PacketDeleter> packet_;
};

}  // namespace

SpeechDecoderPtr g726DecoderCreate(const SpeechCodecInfo& info) {
  if (avApi() == nullptr) return nullptr;
  auto decoder =
      std::unique_ptr<G726Decoder>(new (std::nothrow) G726Decoder(info.unitBytes));
  if (decoder == nullptr || !decoder->open(info.bitRate)) return nullptr;
  return decoder;
}
