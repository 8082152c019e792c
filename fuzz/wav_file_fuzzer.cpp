// Fuzzes everything that reads a WAV file from outside: the file source
// (format checks, chunk walk, reading to the end), and the sink's append
// mode (recognising a recording, positioning behind its audio, patching the
// sizes on close, restoring the file after a failed run).
//
// The input is written to one temporary file per process, reused for every
// input and removed at exit.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/audio_endpoint.h"
#include "wav/wav_file_sink.h"
#include "wav/wav_file_source.h"
#include "wav/wav_header.h"

namespace {

class ScratchFile {
 public:
  ScratchFile() {
    const char* dir =
        access("/dev/shm", W_OK) == 0 ? "/dev/shm" : getenv("TMPDIR");
    path_ = std::string(dir != nullptr ? dir : "/tmp") +
            "/hearkener-wav-fuzz-XXXXXX";
    const int fd = mkstemp(path_.data());
    if (fd < 0) abort();
    close(fd);
  }
  ~ScratchFile() { unlink(path_.c_str()); }
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

const ScratchFile& scratch() {
  static const ScratchFile file;
  return file;
}

bool writeInput(const char* path, const uint8_t* data, size_t size) {
  FILE* file = fopen(path, "wbe");
  if (file == nullptr) return false;
  const bool ok = size == 0 || fwrite(data, 1, size, file) == size;
  return fclose(file) == 0 && ok;
}

void readToTheEnd(const char* path) {
  auto source = openWavFileSource(path);
  if (source == nullptr) return;
  uint8_t block[1024];
  // A hostile data length cannot make this loop forever: the file ends.
  for (;;) {
    int32_t count = 0;
    if (source->wait(50) <= 0) break;
    const Result read = source->read(block, sizeof block, &count);
    if (count <= 0 || (read < 0 && read != kResultUndecodable)) break;
  }
  source->close();
  source.reset();
}

void findChunks(const char* path) {
  FILE* file = fopen(path, "rbe");
  if (file == nullptr) return;
  for (const char* id : {"fmt ", "fact", "data", "LIST"})
    wavFindChunk(file, id);
  fclose(file);
}

// Appends half a frame as a run does, then fails: the file must then hold
// exactly the input again, whether append refused it untouched or put it
// back.
void appendAndRestore(const char* path, const uint8_t* data, size_t size) {
  auto sink = openWavFileSink(path, 1, nullptr);
  if (sink != nullptr) {
    static const uint8_t kHalfFrame[1] = {0xD5};
    sink->write(kHalfFrame, static_cast<int32_t>(size % 2));
    sink->setRunEnd(WavRunEnd::kFailed);
    sink->close();
    sink.reset();
  }
  FILE* file = fopen(path, "rbe");
  if (file == nullptr) abort();
  for (size_t i = 0; i < size; ++i) {
    if (fgetc(file) != data[i]) abort();
  }
  if (fgetc(file) != EOF) abort();
  fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* path = scratch().path();
  if (!writeInput(path, data, size)) return 0;
  readToTheEnd(path);
  findChunks(path);
  appendAndRestore(path, data, size);
  return 0;
}
