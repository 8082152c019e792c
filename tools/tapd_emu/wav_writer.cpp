#include "tools/tapd_emu/wav_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "tools/tapd_emu/queue_stream.h"
#include "tools/tapd_emu/stop_signal.h"
#include "wav/wav_header.h"

namespace tapd_emu {
namespace {

constexpr uint16_t kTagFramedControl = 0xF000;
constexpr uint16_t kTagFramed = 0xF001;
constexpr long kFormatTagOffset = 20;

struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};

// The header layout's format type and, for a framed stream, the tag put
// over the A-law one.
int32_t formatType(WireEncoding encoding) {
  return encoding == WireEncoding::kUlaw ? kWavFormatUlaw : kWavFormatAlaw;
}

std::string writeAll(const ServedQueue& queue, FILE* file) {
  const int32_t type = formatType(queue.setup.encoding);
  if (wavBuildHeader(file, type, 1, 0) < 0) return "cannot write the header";
  if (queue.setup.encoding == WireEncoding::kFramed ||
      queue.setup.encoding == WireEncoding::kFramedControl) {
    const uint16_t tag = queue.setup.encoding == WireEncoding::kFramed
                             ? kTagFramed
                             : kTagFramedControl;
    const uint8_t bytes[2] = {static_cast<uint8_t>(tag & 0xFF),
                              static_cast<uint8_t>(tag >> 8)};
    if (fseek(file, kFormatTagOffset, SEEK_SET) != 0 ||
        fwrite(bytes, 1, 2, file) != 2 || fseek(file, 0, SEEK_END) != 0) {
      return "cannot write the header";
    }
  }
  QueueStream stream(queue.setup, queue.audio, false);
  std::string error = stream.start();
  if (!error.empty()) return error;
  std::vector<uint8_t> bytes;
  uint64_t length = static_cast<uint64_t>(wavHeaderLength(type, 1));
  for (uint64_t chunks = 0;; ++chunks) {
    // A stop leaves no half-written file (the caller removes it).
    if (chunks % 256 == 0 && stopRequested()) return "stopped";
    bytes.clear();
    const StreamStep step = stream.next(&bytes);
    if (step == StreamStep::kFailed) return "the encoder failed";
    if (step == StreamStep::kEnd) break;
    length += bytes.size();
    if (length > kWavMaxFileLength) return "the stream outgrows a WAV file";
    if (fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
      return strerror(errno);
    }
  }
  if (wavUpdateSizes(file, type, 1,
                     static_cast<uint32_t>(stream.framesDone())) != 0) {
    return "cannot patch the header";
  }
  return "";
}

}  // namespace

std::string writeQueueWav(const ServedQueue& queue, const std::string& path) {
  FILE* opened = fopen(path.c_str(), "w+b");
  if (opened == nullptr) return path + ": " + strerror(errno);
  std::unique_ptr<FILE, FileCloser> file(opened);
  std::string error = writeAll(queue, file.get());
  if (fclose(file.release()) != 0 && error.empty()) error = strerror(errno);
  if (!error.empty()) {
    remove(path.c_str());
    return path + ": " + error;
  }
  return "";
}

}  // namespace tapd_emu
