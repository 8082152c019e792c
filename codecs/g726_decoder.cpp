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
#include <mutex>
#include <new>

#include "codecs/speech_decoder.h"

namespace {

struct CodecContextDeleter {
  void operator()(AVCodecContext* context) const {
    avcodec_free_context(&context);
  }
};
struct FrameDeleter {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

void silenceLibraryLog() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

class G726Decoder final : public SpeechDecoder {
 public:
  explicit G726Decoder(int32_t unitBytes) : unitBytes_(unitBytes) {}

  bool open(int32_t bitRate) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_ADPCM_G726);
    if (codec == nullptr) return false;
    context_.reset(avcodec_alloc_context3(codec));
    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!context_ || !frame_ || !packet_) return false;
    context_->sample_rate = 8000;
    av_channel_layout_default(&context_->ch_layout, 1);
    context_->bit_rate = bitRate;
    // Mandatory: the decoder takes its code-word size from here.
    context_->bits_per_coded_sample = bitRate / 8000;
    return avcodec_open2(context_.get(), codec, nullptr) == 0;
  }

  int32_t decode(const uint8_t* unit, int16_t* samples, int32_t capacity,
                 bool /*erasure*/) override {
    // The packet only borrows the unit; libavcodec copies what it keeps.
    packet_->data = const_cast<uint8_t*>(unit);
    packet_->size = unitBytes_;
    const int sent = avcodec_send_packet(context_.get(), packet_.get());
    packet_->data = nullptr;
    packet_->size = 0;
    if (sent < 0) return -1;
    int32_t written = 0;
    bool failed = false;
    // Drain every frame the unit produced so the decoder never holds a
    // stale one, even when we refuse its contents.
    while (avcodec_receive_frame(context_.get(), frame_.get()) == 0) {
      const int n = frame_->nb_samples;
      if (frame_->format != AV_SAMPLE_FMT_S16 || n <= 0 ||
          n > capacity - written) {
        failed = true;
      } else {
        std::memcpy(samples + written, frame_->data[0],
                    static_cast<size_t>(n) * sizeof(int16_t));
        written += n;
      }
      av_frame_unref(frame_.get());
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
  silenceLibraryLog();
  auto decoder =
      std::unique_ptr<G726Decoder>(new (std::nothrow) G726Decoder(info.unitBytes));
  if (decoder == nullptr || !decoder->open(info.bitRate)) return nullptr;
  return decoder;
}
