// WAV file source: the AudioSource that reads a WAV file (format tags
// 0x0006 A-law, 0x0007 u-law, one or two channels, 8000 Hz) and delivers
// the audio currency: u-law converted to A-law, mono widened to two
// channels. Files with the tags 0xF000 and 0xF001 carry framed streams,
// which an FramedContext decodes from the data chunk.
//
// Thread-safety: open, wait, read and the destructor run on the main thread;
// close may also run on the stop thread. A close that meets a read in progress
// waits for that read to finish, then closes the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "core/audio_endpoint.h"
#include "support/failure.h"

struct WavSourceState;

class WavFileSource final : public AudioSource {
 public:
  ~WavFileSource() override;
  Result close() override;
  Result wait(int32_t timeoutMs) override;
  Result read(uint8_t* buffer, int32_t capacity, int32_t* count) override;

  // Why the last read failed; empty while none has.
  Failure failure() const;
  // For a progress display: stores the data bytes taken so far and the data
  // chunk's length. Callable from any thread while the source exists.
  void progress(uint64_t* taken, uint64_t* total) const;

 private:
  friend std::unique_ptr<WavFileSource> openWavFileSource(const char*,
                                                          Failure*);
  WavFileSource() = default;
  std::unique_ptr<WavSourceState> state_;
};

// Opens the source on the file. Returns nullptr when the file cannot be
// opened, is not a regular file (opening never blocks on a FIFO or device),
// is not a WAV file, or has an unsupported format (also a channel count
// other than 1 or 2). Then *failure (may be null) names the file and the
// reason: the system's error text, "not a regular file", "not a WAV file
// (...)", or the format found with what is accepted and how to convert it.
// Read results: those of AudioSource; a read error of the file is
// kResultWavInput with *count == -1 (wavSourceFailure says why), while a
// file shorter than its data chunk declares simply ends early. For the
// framed tags the end read is kResultUndecodable when frames had
// unsupported codec types.
[[nodiscard]] std::unique_ptr<WavFileSource> openWavFileSource(
    const char* fileName, Failure* failure = nullptr);

// WavFileSource::failure of `source` when it is a WAV file source; empty
// otherwise.
Failure wavSourceFailure(const AudioSource* source);

// The platform part: opens `fileName` for reading, close-on-exec, when it
// names a regular file. Returns nullptr otherwise, without waiting, with
// *error set to the errno value of the failure (EISDIR for a folder), or to
// 0 when the name leads to something else that is not a regular file.
[[nodiscard]] FILE* wavSourceOpenFile(const char* fileName, int* error);

// The platform part: reads up to `size` bytes at `offset` of the stream's
// file, past the stream's buffer and position. Returns the number read (0
// at the end of the file), or -1 on a read error with *error set to its
// errno value.
[[nodiscard]] int64_t wavSourceReadAt(FILE* stream, uint64_t offset,
                                      void* buffer, size_t size, int* error);

// The platform part: advises the system that the file will be read once,
// front to back, from `offset`. Only advice; nothing fails.
void wavSourceAdviseSequential(FILE* stream, uint64_t offset);

// WavFileSource::progress of `source`; false when it is not a WAV file
// source.
bool wavFileSourceProgress(AudioSource* source, uint64_t* taken,
                           uint64_t* total);
