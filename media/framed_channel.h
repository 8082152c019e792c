// FramedChannel: one call direction of the media decoder. It holds the decoded
// A-law bytes of that direction until the mixer interleaves them, the
// decoders of that direction (each created with the first payload of its
// codec, so a call loads only the codec libraries it uses; G.726 reopened
// when its rate changes), and what the mixer needs to know about the last
// payload.
//
// Thread-safety: none; used by the thread that reads the owning source.
#pragma once

#include <cstdint>

#include "codecs/speech_decoder.h"
#include "media/byte_ring.h"
#include "support/reporter.h"

// Frame codec types handled outside the block codecs' table.
constexpr int32_t kCodecTypeIgnored = 1;
constexpr int32_t kCodecTypeAlaw = 2;
constexpr int32_t kCodecTypeUlaw = 3;
constexpr int32_t kCodecTypeIgnoredToo = 17;
constexpr int32_t kCodecTypeSilence = 40;

// Bytes of a direction's output ring (holds up to 3999, about half a
// second).
constexpr int32_t kFramedChannelRingSize = 4000;

// Results of framedChannelDecode besides the quiet flag (0 or 1).
constexpr int32_t kFramedDropped = -1;      // (part of) the payload was dropped
constexpr int32_t kFramedUnsupported = -3;  // a codec type nobody decodes
// A payload whose decoder cannot be created (its library is missing): as
// undecodable as an unsupported type.
constexpr int32_t kFramedNoDecoder = kFramedUnsupported;

struct FramedChannel {
  ByteRing output;
  // 1 when the last decoded unit was quiet (or the mixer padded the
  // direction, or nothing was decoded yet), 0 when it was not.
  int32_t lastResult = 1;
  // Codec type of the last successfully decoded payload; 0 at creation and
  // after a failed decode.
  int32_t codecType = 0;
  SpeechDecoderPtr g729;
  SpeechDecoderPtr gsm;
  SpeechDecoderPtr g722;
  SpeechDecoderPtr g726;
  // 1 while `g726` is set up; g726Type is the codec type (and so the rate)
  // it was opened for. Tracking the rate separately from codecType keeps a
  // unit from ever reaching a decoder opened for another code-word size.
  int32_t g726Ready = 0;
  int32_t g726Type = 0;
  // Bit (1 << SpeechCodec) set once creating that codec's decoder failed:
  // its failure is printed once, and it is not tried again.
  uint32_t decoderFailed = 0;
  // Where the channel's lines go (null: the console). They are all
  // kNotice: the frame that a failed payload drops is counted once, by the
  // context's "could not decode frame" line.
  Reporter* reporter = nullptr;
};

// Sets the channel up: its output ring (decoders come with their first
// payload). Returns true, or false after reporting why (the channel is
// then released). Keeps channel->reporter.
// REQUIRES: the channel is fresh or released.
[[nodiscard]] bool framedChannelInit(FramedChannel* channel);

// Frees the decoders and the ring. Safe on a partly set-up or released
// channel.
void framedChannelRelease(FramedChannel* channel);

// Decodes one payload of `codecType` into the channel's output ring as
// A-law bytes. `erasure` is the frame's G.729 erasure flag. Returns 0 or 1
// (the quiet flag of the last unit; 1 for an empty block-codec payload),
// kFramedDropped, kFramedUnsupported or kFramedNoDecoder. Every
// problem is reported; a non-negative result and the type are remembered in
// the channel, a negative one clears the channel's codec type.
// REQUIRES: framedChannelInit succeeded; payload holds `length` bytes.
[[nodiscard]] int32_t framedChannelDecode(FramedChannel* channel,
                                          int32_t codecType,
                                          const uint8_t* payload,
                                          int32_t length, bool erasure);

// 1 when n samples are quiet (energy around their mean at most 100, or
// n == 0), else 0.
int32_t framedSamplesQuiet(const int16_t* samples, int32_t n);
