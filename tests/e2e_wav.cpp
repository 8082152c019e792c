#include "tests/e2e_wav.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "codecs/g711.h"

namespace e2e {

namespace {

void putLe16(Bytes* out, uint16_t value) {
  out->push_back(static_cast<uint8_t>(value));
  out->push_back(static_cast<uint8_t>(value >> 8));
}

void putLe32(Bytes* out, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void putId(Bytes* out, const char* id) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(id[i]));
}

void setLe32(Bytes* out, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    (*out)[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

void putFormat(Bytes* out, uint16_t tag, uint16_t channels, uint32_t rate,
               uint16_t bits) {
  putId(out, "fmt ");
  putLe32(out, 18);
  putLe16(out, tag);
  putLe16(out, channels);
  putLe32(out, rate);
  putLe32(out, rate * channels);  // one byte per sample
  putLe16(out, channels);
  putLe16(out, bits);
  putLe16(out, 0);
}

}  // namespace

Bytes buildWav(const WavPlan& plan) {
  Bytes out;
  putId(&out, "RIFF");
  putLe32(&out, 0);
  putId(&out, "WAVE");
  putFormat(&out, plan.tag, plan.channels, plan.rate, plan.bitsPerSample);
  if (plan.factChunk) {
    putId(&out, "fact");
    putLe32(&out, 4);
    putLe32(&out, static_cast<uint32_t>(plan.data.size() / plan.channels));
  }
  for (const ExtraChunk& chunk : plan.extraChunks) {
    putId(&out, chunk.id.c_str());
    putLe32(&out, static_cast<uint32_t>(chunk.body.size()));
    out.insert(out.end(), chunk.body.begin(), chunk.body.end());
    if (chunk.body.size() % 2 != 0) out.push_back(0);
  }
  putId(&out, "data");
  putLe32(&out, plan.overrideDataLength
                    ? plan.declaredDataLength
                    : static_cast<uint32_t>(plan.data.size()));
  out.insert(out.end(), plan.data.begin(), plan.data.end());
  const size_t riffEnd =
      plan.overrideDataLength
          ? out.size() - plan.data.size() + plan.declaredDataLength
          : out.size();
  setLe32(&out, 4, static_cast<uint32_t>(riffEnd - 8));
  return out;
}

Bytes patternBytes(size_t length, uint32_t seed) {
  Bytes out(length);
  uint32_t state = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < length; ++i) {
    if (i % 256 == 0) state = state * 1103515245u + 12345u;
    // Within each run of 256 bytes every value appears once.
    out[i] = static_cast<uint8_t>((i * 167u + (state >> 16)) & 0xFF);
  }
  return out;
}

Bytes currencyOf(uint16_t tag, uint16_t channels, const Bytes& data) {
  Bytes out;
  out.reserve(data.size() * (channels == 1 ? 2 : 1));
  for (uint8_t byte : data) {
    const uint8_t alaw = tag == kTagUlaw ? ulawToAlaw(byte) : byte;
    out.push_back(alaw);
    if (channels == 1) out.push_back(alaw);
  }
  return out;
}

Bytes recordingHeader(uint64_t audioLength) {
  static const uint8_t kHeader[kRecordingHeaderLength] = {
      0x52, 0x49, 0x46, 0x46, 0x00, 0x00, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45,
      0x66, 0x6D, 0x74, 0x20, 0x12, 0x00, 0x00, 0x00, 0x06, 0x00, 0x02, 0x00,
      0x40, 0x1F, 0x00, 0x00, 0x80, 0x3E, 0x00, 0x00, 0x02, 0x00, 0x08, 0x00,
      0x00, 0x00, 0x66, 0x61, 0x63, 0x74, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x64, 0x61, 0x74, 0x61, 0x00, 0x00, 0x00, 0x00};
  Bytes out(kHeader, kHeader + kRecordingHeaderLength);
  setLe32(&out, 4,
          static_cast<uint32_t>(kRecordingHeaderLength - 8 + audioLength));
  setLe32(&out, 46, static_cast<uint32_t>(audioLength / 2));
  setLe32(&out, 54, static_cast<uint32_t>(audioLength));
  return out;
}

Bytes recordingOf(const Bytes& audio) {
  Bytes out = recordingHeader(audio.size());
  out.insert(out.end(), audio.begin(), audio.end());
  return out;
}

bool writeSparseWav(const std::string& path, uint16_t tag, uint16_t channels,
                    uint64_t dataLength, const Bytes& tail) {
  WavPlan plan;
  plan.tag = tag;
  plan.channels = channels;
  plan.overrideDataLength = true;
  plan.declaredDataLength = static_cast<uint32_t>(dataLength);
  Bytes header = buildWav(plan);
  // The fact count of the data the file declares.
  setLe32(&header, 46, static_cast<uint32_t>(dataLength / channels));
  const int fd =
      open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const off_t length = static_cast<off_t>(header.size() + dataLength);
  bool ok = write(fd, header.data(), header.size()) ==
                static_cast<ssize_t>(header.size()) &&
            ftruncate(fd, length) == 0;
  if (ok && !tail.empty()) {
    ok = pwrite(fd, tail.data(), tail.size(),
                length - static_cast<off_t>(tail.size())) ==
         static_cast<ssize_t>(tail.size());
  }
  return close(fd) == 0 && ok;
}

std::string difference(const Bytes& actual, const Bytes& expected) {
  if (actual == expected) return "";
  size_t at = 0;
  while (at < actual.size() && at < expected.size() &&
         actual[at] == expected[at])
    ++at;
  char text[160];
  snprintf(text, sizeof text,
           "%zu bytes, expected %zu; first difference at offset %zu",
           actual.size(), expected.size(), at);
  std::string out = text;
  if (at < actual.size() && at < expected.size()) {
    snprintf(text, sizeof text, " (0x%02X, expected 0x%02X)", actual[at],
             expected[at]);
    out += text;
  }
  return out;
}

int64_t fileSize(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return -1;
  return static_cast<int64_t>(info.st_size);
}

Bytes readRange(const std::string& path, uint64_t offset, size_t length) {
  Bytes out(length);
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Bytes();
  const ssize_t got = pread(fd, out.data(), length, static_cast<off_t>(offset));
  close(fd);
  out.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return out;
}

int64_t allocatedBlocks(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return -1;
  return static_cast<int64_t>(info.st_blocks);
}

const char* hearkenerExe() { return HEARKENER_EXE; }

run_program::RunResult runHearkener(const std::vector<std::string>& args,
                                    const run_program::RunOptions& options) {
  std::vector<std::string> argv{hearkenerExe()};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program::runProgram(argv, options);
}
const char* makeTestCallExe() { return MAKE_TEST_CALL_EXE; }

run_program::RunResult convertFile(const std::string& in, const Bytes& input,
                                   const std::string& out) {
  if (!test_files::writeFile(in, input)) return run_program::RunResult();
  return runHearkener({"-i", in, "-F", out});
}

}  // namespace e2e
