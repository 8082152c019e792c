#include "media/framed_channel.h"

#include <array>

#include "codecs/g711.h"
#include "support/reporter.h"

namespace {

constexpr int32_t kQuietEnergy = 100;

// A decoded sample's A-law byte: the sample shifted right by 2, companded.
// Looked up rather than computed because every decoded sample passes here.
struct SampleToAlaw {
  SampleToAlaw() {
    for (int32_t i = 0; i < 16384; ++i) table[static_cast<size_t>(i)] = linearToAlaw(i - 8192);
  }
  uint8_t operator()(int16_t sample) const {
    return table[static_cast<size_t>((sample >> 2) + 8192)];
  }
  std::array<uint8_t, 16384> table{};
};
const SampleToAlaw kSampleToAlaw;

// Types 2 and 3: one byte per sample, u-law converted.
int32_t decodeG711(FramedChannel* channel, const uint8_t* payload,
                   int32_t length, bool ulaw) {
  for (int32_t i = 0; i < length; ++i) {
    if (ringSpaceContiguous(&channel->output) == 0) return kFramedDropped;
    ringPutByte(&channel->output, ulaw ? ulawToAlaw(payload[i]) : payload[i]);
  }
  return 0;
}

// Type 40: the first byte counts 1-ms units of silence. A fill larger than
// the free space is cut to it, so unread audio is never overwritten.
int32_t decodeSilence(FramedChannel* channel, const uint8_t* payload,
                      int32_t length) {
  if (length == 0) return 1;
  const int32_t wanted = 8 * payload[0];
  const int32_t space = ringSpace(&channel->output);
  const int32_t put = wanted < space ? wanted : space;
  for (int32_t i = 0; i < put; ++i) {
    ringPutByte(&channel->output, kAlawSilence);
  }
  if (put < wanted) {
    reportLine(channel->reporter, ReportKind::kNotice,
               "g711 buffer size exceeded, dropping %d bytes of silence data",
               wanted - put);
    return kFramedDropped;
  }
  return 1;
}

bool decoderFailedBefore(const FramedChannel* channel, SpeechCodec codec) {
  return (channel->decoderFailed & (1u << static_cast<int>(codec))) != 0;
}

// Notes that `codec`'s decoder could not be created; prints `message` the
// first time for this direction.
void decoderCreateFailed(FramedChannel* channel, SpeechCodec codec,
                         const char* message) {
  if (!decoderFailedBefore(channel, codec)) {
    reportLine(channel->reporter, ReportKind::kNotice, "%s", message);
  }
  channel->decoderFailed |= 1u << static_cast<int>(codec);
}

// Makes channel->g726 a decoder opened for `info`'s rate, reopening it when
// the direction last decoded anything else or it is open for another rate.
bool prepareG726(FramedChannel* channel, const SpeechCodecInfo& info) {
  if (channel->g726Ready == 1 && channel->codecType == info.codecType &&
      channel->g726Type == info.codecType) {
    return true;
  }
  channel->g726.reset();
  channel->g726Ready = 0;
  channel->g726Type = 0;
  channel->g726 = info.create(info);
  if (channel->g726 == nullptr) {
    decoderCreateFailed(channel, SpeechCodec::kG726,
                        "could not initialize G.726 codec");
    return false;
  }
  channel->g726Ready = 1;
  channel->g726Type = info.codecType;
  return true;
}

SpeechDecoderPtr* slotFor(FramedChannel* channel, SpeechCodec codec) {
  switch (codec) {
    case SpeechCodec::kGsm:
      return &channel->gsm;
    case SpeechCodec::kG726:
      return &channel->g726;
    case SpeechCodec::kG729:
      return &channel->g729;
    case SpeechCodec::kG722:
      return &channel->g722;
  }
  return nullptr;
}

const char* creationFailure(SpeechCodec codec) {
  switch (codec) {
    case SpeechCodec::kG729:
      return "could not initialize G.729 context";
    case SpeechCodec::kGsm:
      return "could not initialize GSM context";
    case SpeechCodec::kG722:
      return "could not initialize G.722 context";
    case SpeechCodec::kG726:
      break;
  }
  return "could not initialize G.726 codec";
}

// The direction's decoder for `info`, created with the codec's first
// payload; nullptr when it cannot be created (a failure is not retried).
SpeechDecoder* decoderFor(FramedChannel* channel, const SpeechCodecInfo& info) {
  if (info.codec == SpeechCodec::kG726) {
    return prepareG726(channel, info) ? channel->g726.get() : nullptr;
  }
  SpeechDecoderPtr* slot = slotFor(channel, info.codec);
  if (*slot == nullptr && !decoderFailedBefore(channel, info.codec)) {
    *slot = info.create(info);
    if (*slot == nullptr) {
      decoderCreateFailed(channel, info.codec, creationFailure(info.codec));
    }
  }
  return slot->get();
}

// Types 4 to 9 and 13: unit by unit, each decoded, scaled and companded.
int32_t decodeBlocks(FramedChannel* channel, const SpeechCodecInfo& info,
                     const uint8_t* payload, int32_t length, bool erasure) {
  if (length == 0) return 1;
  SpeechDecoder* decoder = decoderFor(channel, info);
  if (decoder == nullptr) return kFramedNoDecoder;
  int16_t samples[kSpeechMaxSamples];
  int32_t quiet = 1;
  bool first = true;
  for (int32_t offset = 0; offset < length; offset += info.unitBytes) {
    const int32_t remaining = length - offset;
    if (remaining < info.unitBytes) {
      reportLine(channel->reporter, ReportKind::kNotice,
                 "dropping %d bytes of %s data", remaining, info.name);
      return kFramedDropped;
    }
    if (ringSpace(&channel->output) < info.samplesPerUnit) {
      reportLine(channel->reporter, ReportKind::kNotice,
                 "g711 buffer size exceeded, dropping %d bytes of %s data",
                 remaining, info.name);
      return kFramedDropped;
    }
    const int32_t n = decoder->decode(payload + offset, samples,
                                      info.samplesPerUnit, first && erasure);
    first = false;
    if (n <= 0) {
      reportLine(channel->reporter, ReportKind::kNotice,
                 "%s decode error, dropping %d bytes of %s data", info.name,
                 remaining, info.name);
      return kFramedDropped;
    }
    uint8_t alaw[kSpeechMaxSamples];
    for (int32_t i = 0; i < n; ++i) alaw[i] = kSampleToAlaw(samples[i]);
    ringPutBytes(&channel->output, alaw, n);
    quiet = framedSamplesQuiet(samples, n);
  }
  return quiet;
}

int32_t decodePayload(FramedChannel* channel, int32_t codecType,
                      const uint8_t* payload, int32_t length, bool erasure) {
  switch (codecType) {
    case kCodecTypeIgnored:
    case kCodecTypeIgnoredToo:
      return 0;
    case kCodecTypeAlaw:
      return decodeG711(channel, payload, length, false);
    case kCodecTypeUlaw:
      return decodeG711(channel, payload, length, true);
    case kCodecTypeSilence:
      return decodeSilence(channel, payload, length);
    default:
      break;
  }
  const SpeechCodecInfo* info = speechCodecFind(codecType);
  if (info == nullptr) {
    reportLine(channel->reporter, ReportKind::kNotice,
               "unsupported codec type %d", codecType);
    return kFramedUnsupported;
  }
  return decodeBlocks(channel, *info, payload, length, erasure);
}

}  // namespace

bool framedChannelInit(FramedChannel* channel) {
  if (ringInit(&channel->output, kFramedChannelRingSize) != 0) {
    reportLine(channel->reporter, ReportKind::kNotice,
               "could not initialize ring buffer of size %d",
               kFramedChannelRingSize);
    framedChannelRelease(channel);
    return false;
  }
  channel->lastResult = 1;
  channel->codecType = 0;
  channel->g726Ready = 0;
  channel->g726Type = 0;
  channel->decoderFailed = 0;
  return true;
}

void framedChannelRelease(FramedChannel* channel) {
  channel->g729.reset();
  channel->g722.reset();
  channel->gsm.reset();
  channel->g726.reset();
  channel->g726Ready = 0;
  channel->g726Type = 0;
  channel->decoderFailed = 0;
  ringRelease(&channel->output);
}

int32_t framedChannelDecode(FramedChannel* channel, int32_t codecType,
                            const uint8_t* payload, int32_t length,
                            bool erasure) {
  const int32_t result =
      decodePayload(channel, codecType, payload, length, erasure);
  if (result >= 0) {
    channel->lastResult = result;
    channel->codecType = codecType;
  } else {
    channel->codecType = 0;
  }
  return result;
}

int32_t framedSamplesQuiet(const int16_t* samples, int32_t n) {
  if (n <= 0) return 1;
  int64_t sum = 0;
  for (int32_t i = 0; i < n; ++i) sum += samples[i];
  const int64_t mean = sum / n;
  int64_t energy = 0;
  for (int32_t i = 0; i < n; ++i) {
    const int64_t d = samples[i] - mean;
    energy += d * d;
  }
  return energy / n <= kQuietEnergy ? 1 : 0;
}
