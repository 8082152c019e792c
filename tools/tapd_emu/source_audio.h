// A queue's source recording, held in memory: 8000 sample frames per
// second, one or two channels of 16-bit PCM, A-law or u-law. It is read once
// at start-up and then shared read-only by every session.
//
// Thread-safety: const after loadSourceAudio; any number of readers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tapd_emu {

enum class SampleFormat { kPcm16, kAlaw, kUlaw };

class SourceAudio {
 public:
  SampleFormat format() const { return format_; }
  int channels() const { return channels_; }
  size_t frames() const { return frames_; }

  // The sample at `frame` of `channel` (0 or 1; a mono file gives its one
  // channel for both) in each representation, converted when the file
  // holds another one.
  // REQUIRES: frame < frames().
  int16_t linear(size_t frame, int channel) const;
  uint8_t alaw(size_t frame, int channel) const;
  uint8_t ulaw(size_t frame, int channel) const;

 private:
  friend std::string loadSourceAudio(const std::string& path,
                                     SourceAudio* audio);
  size_t offset(size_t frame, int channel) const;

  SampleFormat format_ = SampleFormat::kAlaw;
  int channels_ = 2;
  size_t frames_ = 0;
  std::vector<uint8_t> data_;  // whole sample frames only
};

// Reads the WAV file at `path` into *audio. Returns "" or a message for the
// user naming the file and what is wrong with it. What is not a regular
// file (a FIFO, a device, a folder) is refused without waiting on it.
std::string loadSourceAudio(const std::string& path, SourceAudio* audio);

}  // namespace tapd_emu
