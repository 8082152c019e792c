#include "wav/wav_format_text.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint16_t kTagPcm = 0x0001;
constexpr uint16_t kTagFloat = 0x0003;
constexpr uint16_t kTagAlaw = 0x0006;
constexpr uint16_t kTagUlaw = 0x0007;
constexpr uint16_t kTagFramed = 0xF000;
constexpr uint16_t kTagFramedTyped = 0xF001;
constexpr uint32_t kAcceptedRate = 8000;

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool isFramed(uint16_t tag) {
  return tag == kTagFramed || tag == kTagFramedTyped;
}

std::string encodingOf(const WavFormatFound& found) {
  char text[48];
  switch (found.tag) {
    case kTagPcm:
      if (found.bitsPerSample == 0) return "PCM";
      std::snprintf(text, sizeof text, "%u-bit PCM",
                    static_cast<unsigned>(found.bitsPerSample));
      return text;
    case kTagFloat:
      if (found.bitsPerSample == 0) return "floating-point";
      std::snprintf(text, sizeof text, "%u-bit floating-point",
                    static_cast<unsigned>(found.bitsPerSample));
      return text;
    case kTagAlaw:
      return "A-law";
    case kTagUlaw:
      return "u-law";
    case kTagFramed:
    case kTagFramedTyped:
      return "framed codec stream";
    default:
      std::snprintf(text, sizeof text, "format 0x%04X",
                    static_cast<unsigned>(found.tag));
      return text;
  }
}

// `name` as one word of a command line: quoted when it holds anything but
// letters, digits and the usual path characters.
std::string commandWord(const char* name) {
  bool plain = name[0] != '\0';
  for (const char* p = name; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x80 && !std::isalnum(c) && std::strchr("._-/\\:+,=@%", c) == nullptr) {
      plain = false;
    }
  }
  return plain ? std::string(name) : "\"" + std::string(name) + "\"";
}

}  // namespace

bool wavFormatAccepted(const WavFormatFound& found) {
  const bool knownTag = found.tag == kTagAlaw || found.tag == kTagUlaw ||
                        isFramed(found.tag);
  return knownTag && (found.channels == 1 || found.channels == 2) &&
         found.rate == kAcceptedRate;
}

std::string wavFormatDescription(const WavFormatFound& found) {
  std::string text = encodingOf(found);
  text += " at " + std::to_string(found.rate) + " Hz";
  if (found.channels != 1 && found.channels != 2) {
    text += ", " + std::to_string(found.channels) + " channels";
  }
  return text;
}

std::string wavFormatRefusal(const char* fileName, const WavFormatFound& found) {
  std::string text = wavFormatDescription(found);
  text += "; accepted: A-law, u-law or framed codec streams at 8000 Hz";
  if (isFramed(found.tag)) return text;
  text += " (convert with: sox " + commandWord(fileName) + " -e a-law";
  if (found.rate != kAcceptedRate) text += " -r 8000";
  if (found.channels > 2) text += " -c 2";
  if (found.channels == 0) text += " -c 1";
  return text + " out.wav)";
}

std::string wavNotWavReason(const uint8_t* head, size_t length) {
  if (length == 0) return "not a WAV file (the file is empty)";
  const bool id3 = length >= 3 && std::memcmp(head, "ID3", 3) == 0;
  const bool mpegSync = length >= 2 && head[0] == 0xFF && (head[1] & 0xE0) == 0xE0;
  if (id3 || mpegSync) return "not a WAV file (it starts like an MP3 file)";
  if (length < 12) return "not a WAV file (shorter than a RIFF header)";
  return "not a WAV file (no RIFF WAVE header)";
}

std::string wavNotARecording(const char* what) {
  return std::string(what) +
         " (-f continues only this program's own recordings: A-law, two "
         "channels, 8000 Hz; -F replaces the file)";
}

std::string wavNotARecordingReason(const uint8_t* header, uint64_t length,
                                   bool ourLayout) {
  if (length < 12 || memcmp(header, "RIFF", 4) != 0 ||
      memcmp(header + 8, "WAVE", 4) != 0) {
    return wavNotARecording("not a WAV file");
  }
  if (length >= 36 && memcmp(header + 12, "fmt ", 4) == 0 && !ourLayout) {
    WavFormatFound found;
    found.tag = static_cast<uint16_t>(le32(header + 20) & 0xFFFF);
    found.channels = static_cast<uint16_t>(le32(header + 20) >> 16);
    found.rate = le32(header + 24);
    found.bitsPerSample = static_cast<uint16_t>(le32(header + 32) >> 16);
    if (found.tag != 0x0001 && found.tag != 0x0003) found.bitsPerSample = 0;
    const bool ours =
        found.tag == 0x0006 && found.channels == 2 && found.rate == 8000;
    std::string what = ours ? "a WAV file in another layout ("
                            : "a WAV file in another format (";
    what += wavFormatDescription(found);
    if (found.channels == 1) what += ", one channel";
    if (found.channels == 2) what += ", two channels";
    return wavNotARecording((what + ")").c_str());
  }
  if (!ourLayout) {
    return wavNotARecording("a WAV file of another layout");
  }
  return wavNotARecording("a WAV file with more than audio behind its header");
}
