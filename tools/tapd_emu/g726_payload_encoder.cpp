// G.726 payloads (codec types 5 to 8): two units of 80 code words per 20 ms,
// packed most significant bit first, from libavcodec's "g726" encoder (the
// packing its "g726" decoder reads; "g726le" is the other one).
#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

#include "tools/tapd_emu/payload_encoder.h"

namespace tapd_emu {
namespace {

constexpr int kUnitSamples = 80;

struct ContextDeleter {
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
using ContextPtr = std::unique_ptr<AVCodecContext, ContextDeleter>;

// Code-word bits: 5, 4, 3 or 2 for types 5 to 8.
int codeBits(Codec codec) { return 10 - static_cast<int>(codec); }

// An encoder context for `bits`-bit code words fed 80 samples at a time.
ContextPtr openContext(int bits) {
  const AVCodec* codec = avcodec_find_encoder_by_name("g726");
  if (codec == nullptr) return nullptr;
  ContextPtr context(avcodec_alloc_context3(codec));
  if (!context) return nullptr;
  context->sample_rate = 8000;
  context->sample_fmt = AV_SAMPLE_FMT_S16;
  av_channel_layout_default(&context->ch_layout, 1);
  context->bit_rate = 8000 * bits;  // selects the code-word size
  if (avcodec_open2(context.get(), codec, nullptr) < 0 ||
      context->bits_per_coded_sample != bits) {
    return nullptr;
  }
  // The encoder announces frames of about 1 KiB, but any whole number of
  // bytes is fine for it; 80 samples always are.
  context->frame_size = kUnitSamples;
  return context;
}

class G726PayloadEncoder : public PayloadEncoder {
 public:
  G726PayloadEncoder(int bits, ContextPtr context, AVFrame* frame,
                     AVPacket* packet)
      : bits_(bits),
        context_(std::move(context)),
        frame_(frame),
        packet_(packet) {}

  bool encode(const int16_t* samples, std::vector<uint8_t>* payload) override {
    for (int unit = 0; unit < kFrameSamples / kUnitSamples; ++unit) {
      if (av_frame_make_writable(frame_.get()) < 0) return false;
      auto* input = reinterpret_cast<int16_t*>(frame_->data[0]);
      for (int i = 0; i < kUnitSamples; ++i) {
        input[i] = blockCodecInput(samples[unit * kUnitSamples + i]);
      }
      if (avcodec_send_frame(context_.get(), frame_.get()) < 0 ||
          avcodec_receive_packet(context_.get(), packet_.get()) < 0) {
        return false;
      }
      const bool whole = packet_->size == kUnitSamples * bits_ / 8;
      if (whole) {
        payload->insert(payload->end(), packet_->data,
                        packet_->data + packet_->size);
      }
      av_packet_unref(packet_.get());
      if (!whole) return false;
    }
    return true;
  }

  bool resumeAfterSilence() override {
    ContextPtr fresh = openContext(bits_);
    if (!fresh) return false;
    context_ = std::move(fresh);
    return true;
  }

 private:
  int bits_;
  ContextPtr context_;
  std::unique_ptr<AVFrame, FrameDeleter> frame_;
  std::unique_ptr<AVPacket, PacketDeleter> packet_;
};

}  // namespace

PayloadEncoderPtr makeG726PayloadEncoder(Codec codec, std::string* error) {
  av_log_set_level(AV_LOG_QUIET);
  const int bits = codeBits(codec);
  ContextPtr context = openContext(bits);
  std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
  std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
  if (!context || !frame || !packet) {
    *error = "could not open libavcodec's G.726 encoder";
    return nullptr;
  }
  frame->nb_samples = kUnitSamples;
  frame->format = AV_SAMPLE_FMT_S16;
  frame->sample_rate = 8000;
  av_channel_layout_default(&frame->ch_layout, 1);
  if (av_frame_get_buffer(frame.get(), 0) < 0) {
    *error = "could not allocate a G.726 frame";
    return nullptr;
  }
  return std::make_unique<G726PayloadEncoder>(
      bits, std::move(context), frame.release(), packet.release());
}

}  // namespace tapd_emu
