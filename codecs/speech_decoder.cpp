#include "codecs/speech_decoder.h"

namespace {

// G.726 code words are bitRate / 8000 bits; a unit always holds 80 of them.
constexpr SpeechCodecInfo kCodecs[] = {
    {4, SpeechCodec::kGsm, 33, 160, 13200, "GSM", gsmDecoderCreate},
    {5, SpeechCodec::kG726, 50, 80, 40000, "G.726", g726DecoderCreate},
    {6, SpeechCodec::kG726, 40, 80, 32000, "G.726", g726DecoderCreate},
    {7, SpeechCodec::kG726, 30, 80, 24000, "G.726", g726DecoderCreate},
    {8, SpeechCodec::kG726, 20, 80, 16000, "G.726", g726DecoderCreate},
    {9, SpeechCodec::kG729, 10, 80, 8000, "G.729", g729DecoderCreate},
    {13, SpeechCodec::kG722, 80, 80, 64000, "G.722", g722DecoderCreate},
};

}  // namespace

const SpeechCodecInfo* speechCodecFind(int32_t codecType) {
  for (const SpeechCodecInfo& info : kCodecs) {
    if (info.codecType == codecType) return &info;
  }
  return nullptr;
}
