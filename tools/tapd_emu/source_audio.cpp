#include "tools/tapd_emu/source_audio.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "codecs/g711.h"
#include "tools/tapd_emu/scoped_fd.h"
#include "tools/tapd_emu/ulaw.h"
#include "wav/wav_header.h"

namespace tapd_emu {
namespace {

constexpr uint16_t kTagPcm = 0x0001;
constexpr uint16_t kTagAlaw = 0x0006;
constexpr uint16_t kTagUlaw = 0x0007;

struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

uint16_t le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

size_t SourceAudio::offset(size_t frame, int channel) const {
  const size_t sampleBytes = format_ == SampleFormat::kPcm16 ? 2 : 1;
  const size_t c = channels_ == 1 ? 0 : static_cast<size_t>(channel & 1);
  return (frame * static_cast<size_t>(channels_) + c) * sampleBytes;
}

int16_t SourceAudio::linear(size_t frame, int channel) const {
  const uint8_t* p = &data_[offset(frame, channel)];
  switch (format_) {
    case SampleFormat::kPcm16:
      return static_cast<int16_t>(le16(p));
    case SampleFormat::kAlaw:
      return alawToLinear(*p);
    case SampleFormat::kUlaw:
      break;
  }
  return ulawToLinear(*p);
}

uint8_t SourceAudio::alaw(size_t frame, int channel) const {
  const uint8_t byte = data_[offset(frame, channel)];
  if (format_ == SampleFormat::kAlaw) return byte;
  if (format_ == SampleFormat::kUlaw) return ulawToAlaw(byte);
  return linearToAlaw(linear(frame, channel) >> 3);
}

uint8_t SourceAudio::ulaw(size_t frame, int channel) const {
  if (format_ == SampleFormat::kUlaw) return data_[offset(frame, channel)];
  return linearToUlaw(linear(frame, channel));
}

std::string loadSourceAudio(const std::string& path, SourceAudio* audio) {
  // O_NONBLOCK: a FIFO or a device is refused, never waited on.
  ScopedFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat info {};
  if (!fd.valid() || fstat(fd.get(), &info) != 0) {
    return path + ": " + strerror(errno);
  }
  if (!S_ISREG(info.st_mode)) return path + ": not a regular file";
  File file(fdopen(fd.get(), "rb"));
  if (!file) return path + ": " + strerror(errno);
  fd.release();
  uint32_t length = 0;
  if (wavFindChunkUnsigned(file.get(), "fmt ", &length) != 0 || length < 16) {
    return path + ": not a WAV file (no format chunk, or an unfinished one)";
  }
  uint8_t format[16];
  if (fread(format, 1, sizeof format, file.get()) != sizeof format) {
    return path + ": the format chunk is cut short";
  }
  const uint16_t tag = le16(format);
  const uint16_t channels = le16(format + 2);
  const uint32_t rate = le32(format + 4);
  const uint16_t bits = le16(format + 14);
  SourceAudio loaded;
  if (tag == kTagPcm && bits == 16) {
    loaded.format_ = SampleFormat::kPcm16;
  } else if (tag == kTagAlaw || tag == kTagUlaw) {
    loaded.format_ =
        tag == kTagAlaw ? SampleFormat::kAlaw : SampleFormat::kUlaw;
  } else {
    char detail[96];
    snprintf(detail, sizeof detail, "format tag 0x%04x with %u bits", tag,
             static_cast<unsigned>(bits));
    return path + ": unsupported " + detail +
           " (16-bit PCM, A-law or u-law only)";
  }
  if (channels != 1 && channels != 2) {
    return path + ": " + std::to_string(channels) + " channels (1 or 2 only)";
  }
  if (rate != 8000) {
    return path + ": " + std::to_string(rate) + " Hz (8000 Hz only)";
  }
  loaded.channels_ = channels;
  if (wavFindChunkUnsigned(file.get(), "data", &length) != 0) {
    return path + ": no data chunk";
  }
  // Never more than the file holds: a declared length may be anything.
  const long start = ftell(file.get());
  if (start < 0 || fseek(file.get(), 0, SEEK_END) != 0) {
    return path + ": " + strerror(errno);
  }
  const long end = ftell(file.get());
  if (end < start || fseek(file.get(), start, SEEK_SET) != 0) {
    return path + ": " + strerror(errno);
  }
  if (static_cast<uint64_t>(end - start) < length) {
    length = static_cast<uint32_t>(end - start);
  }
  loaded.data_.resize(length);
  const size_t got = fread(loaded.data_.data(), 1, length, file.get());
  if (ferror(file.get())) return path + ": " + strerror(errno);
  // A file that ends early gives what it holds.
  const size_t frameBytes =
      channels * (loaded.format_ == SampleFormat::kPcm16 ? 2u : 1u);
  loaded.frames_ = got / frameBytes;
  loaded.data_.resize(loaded.frames_ * frameBytes);
  *audio = std::move(loaded);
  return "";
}

}  // namespace tapd_emu
