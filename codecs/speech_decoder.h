// SpeechDecoder: the one small interface behind the adapters to the speech
// decoder libraries (GSM 06.10, G.726, G.729 Annex A, G.722), and the table
// that maps a frame's codec type to its payload unit, its samples per unit
// and the factory of its decoder.
//
// Each decoder owns its library state and keeps the codec's history between
// units, so one decoder serves one direction of one call. Creating a decoder
// allocates; decoding a unit allocates nothing in the GSM, G.729 and G.722
// adapters (the G.726 adapter goes through libavcodec's packet API, which
// keeps small reference records on the heap per unit).
//
// Thread-safety: a decoder is used by one thread at a time; the table and
// the factories may be used from any thread.
#pragma once

#include <cstdint>
#include <memory>

// Samples of the largest unit of any codec (GSM: 160).
constexpr int32_t kSpeechMaxSamples = 160;

enum class SpeechCodec { kGsm, kG726, kG729, kG722 };

class SpeechDecoder {
 public:
  virtual ~SpeechDecoder() = default;
  // Decodes one unit of the codec's unit size into at most `capacity`
  // samples. `erasure` asks the decoder to conceal a lost frame (G.729 only;
  // the others ignore it). Returns the number of samples written, or -1 when
  // the unit is rejected (only GSM and G.726 can reject one). Never writes
  // more than `capacity` samples.
  // REQUIRES: `unit` holds the codec's unit size in bytes.
  virtual int32_t decode(const uint8_t* unit, int16_t* samples,
                         int32_t capacity, bool erasure) = 0;
};

using SpeechDecoderPtr = std::unique_ptr<SpeechDecoder>;

struct SpeechCodecInfo {
  int32_t codecType;       // the frame's codec type
  SpeechCodec codec;
  int32_t unitBytes;       // payload bytes per unit
  int32_t samplesPerUnit;  // samples a unit decodes to
  int32_t bitRate;         // G.726: 16000 to 40000; others informational
  const char* name;        // as the console messages name the codec
  // Creates a decoder for this entry; nullptr when the library fails.
  SpeechDecoderPtr (*create)(const SpeechCodecInfo& info);
};

// The entry for a block codec's codec type (4 GSM, 5 to 8 G.726 at 40, 32,
// 24, 16 kbit/s, 9 G.729, 13 G.722), or nullptr for every other type.
const SpeechCodecInfo* speechCodecFind(int32_t codecType);

// The factories behind the table, one per adapter file.
SpeechDecoderPtr gsmDecoderCreate(const SpeechCodecInfo& info);
SpeechDecoderPtr g726DecoderCreate(const SpeechCodecInfo& info);
SpeechDecoderPtr g729DecoderCreate(const SpeechCodecInfo& info);
SpeechDecoderPtr g722DecoderCreate(const SpeechCodecInfo& info);
