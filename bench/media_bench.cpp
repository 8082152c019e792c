// Decode throughput of framed streams per codec: real-time factor of the
// whole media path (pull, frame checks, decode, A-law, mixing), and its
// ratio to a bare loop that only calls the decoder on the same payloads.
// With --write-raw DIR it also writes each codec's raw stream (for the
// ffmpeg comparison in run_media_bench.sh).
//
// Payloads are random bytes (GSM frames with their 0xD magic nibble): the
// decoders' cost does not depend on the content.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codecs/speech_decoder.h"
#include "media/fcs16.h"
#include "media/framed_context.h"
#include "tests/framed_stream.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr int kSeconds = 120;

struct Feed {
  const Bytes* bytes;
  size_t at;
};

int32_t pull(void* userData, uint8_t* destination, int32_t length) {
  auto* feed = static_cast<Feed*>(userData);
  const size_t n = std::min(static_cast<size_t>(length), feed->bytes->size() - feed->at);
  std::memcpy(destination, feed->bytes->data() + feed->at, n);
  feed->at += n;
  return static_cast<int32_t>(n);
}

// Mode 7: the whole frame is covered by the check.
void appendFrame(Bytes& stream, const Bytes& frame) {
  framed::appendFrame(stream, frame, 7);
}

struct Codec {
  const char* name;
  int32_t type;
  int32_t unitBytes;
  int32_t samplesPerUnit;
};

double seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const char* rawDir = argc == 3 && std::strcmp(argv[1], "--write-raw") == 0 ? argv[2] : nullptr;
  const Codec codecs[] = {{"G.711", 2, 160, 160},
                          {"GSM", 4, 33, 160},
                          {"G.726-32", 6, 40, 80},
                          {"G.729", 9, 10, 80},
                          {"G.722", 13, 80, 80}};
  std::mt19937 random(7);
  std::printf("%-9s %12s %12s %14s\n", "codec", "framed RTF", "bare RTF", "framed/bare");
  for (const Codec& codec : codecs) {
    // 20 ms of audio per frame and direction.
    const int32_t unitsPerFrame = 160 / codec.samplesPerUnit;
    const int32_t frames = kSeconds * 50;
    std::vector<Bytes> payloads[2];
    Bytes stream;
    Bytes raw;
    for (int f = 0; f < frames; ++f) {
      for (uint8_t d = 0; d < 2; ++d) {
        Bytes payload(static_cast<size_t>(unitsPerFrame * codec.unitBytes));
        for (uint8_t& b : payload) b = static_cast<uint8_t>(random());
        if (codec.type == 4) payload[0] = static_cast<uint8_t>(0xD0 | (payload[0] & 0x0F));
        Bytes frame{d, static_cast<uint8_t>(codec.type)};
        frame.insert(frame.end(), payload.begin(), payload.end());
        appendFrame(stream, frame);
        if (d == 0) raw.insert(raw.end(), payload.begin(), payload.end());
        payloads[d].push_back(std::move(payload));
      }
    }
    stream.push_back(0xFF);

    Feed feed{&stream, 0};
    FramedContext* context =
        framedContextCreate(pull, &feed, InputMode::kFramedTyped);
    if (context == nullptr) return 1;
    uint8_t buffer[1024];
    size_t delivered = 0;
    const Clock::time_point start = Clock::now();
    for (;;) {
      int32_t count = 0;
      (void)framedContextRead(context, buffer, sizeof buffer, &count);
      if (count <= 0) break;
      delivered += static_cast<size_t>(count);
    }
    const double framed = seconds(start);
    framedContextDestroy(context);
    const double audioSeconds = static_cast<double>(delivered) / 16000.0;

    // The bare loop: the decoders alone, both directions.
    double bare = 0;
    int16_t samples[kSpeechMaxSamples];
    volatile int32_t sink = 0;
    if (const SpeechCodecInfo* info = speechCodecFind(codec.type)) {
      SpeechDecoderPtr decoders[2] = {info->create(*info), info->create(*info)};
      const Clock::time_point bareStart = Clock::now();
      for (int f = 0; f < frames; ++f) {
        for (int d = 0; d < 2; ++d) {
          const Bytes& p = payloads[d][static_cast<size_t>(f)];
          for (size_t at = 0; at < p.size(); at += static_cast<size_t>(codec.unitBytes)) {
            sink = sink + decoders[d]->decode(p.data() + at, samples, kSpeechMaxSamples, false);
          }
        }
      }
      bare = seconds(bareStart);
    } else {
      const Clock::time_point bareStart = Clock::now();
      uint8_t copy[320];
      for (int f = 0; f < frames; ++f) {
        for (int d = 0; d < 2; ++d) {
          const Bytes& p = payloads[d][static_cast<size_t>(f)];
          std::memcpy(copy, p.data(), p.size());
          sink = sink + copy[f % 160];
        }
      }
      bare = seconds(bareStart);
    }
    std::printf("%-9s %11.0fx %11.0fx %14.3f\n", codec.name, audioSeconds / framed,
                audioSeconds / bare, framed / bare);
    if (rawDir != nullptr) {
      const std::string path = std::string(rawDir) + "/" + codec.name + ".raw";
      if (FILE* out = std::fopen(path.c_str(), "wb")) {
        std::fwrite(raw.data(), 1, raw.size(), out);
        std::fclose(out);
      }
    }
  }
  return 0;
}
