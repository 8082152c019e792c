// RecordingSeries: the recordings of a --record run, made one after the
// other through the WAV file sink with every rule of any other recording
// (lock, identity checks, crash-safe header, kept audio on failure).
//
// Its sink() is the AudioSink the main loop writes. A recording is created
// at the first byte of audio after the previous one ended (so a call that
// brings no audio makes no file), named by the pattern at that moment, and
// it ends when endRecording is called, after `splitBytes` of audio, or
// just below the WAV format's 4 GiB limit; a block is divided between two
// recordings at that offset, so the recordings joined hold every byte
// written, once. Each recording is finished and closed before the next is
// created.
//
// A write that fails (disk full, an I/O error) ends that recording, which
// keeps what reached its file; the block being written goes on into a new
// recording (what the failed sink still held, at most
// kWavHeaderUpdateBytes, is lost with the failed write). When that
// one cannot be created or fails again before taking any bytes, the write
// fails with -4 and the series makes no more recordings.
//
// Console lines: "recording NAME" for each recording made, "kept recording
// NAME (S seconds of audio)" for one that ended by a failure, and the
// reason of each failure (the sink's own lines, or the creation's reason).
//
// Thread-safety: main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <memory>

#include "core/audio_endpoint.h"
#include "app/record_pattern.h"
#include "wav/wav_file_sink.h"

struct RecordingSeriesOptions {
  const char* pattern = nullptr;  // checked by recordPatternError
  const char* queue = nullptr;    // %q; null: "test"
  // Audio bytes per recording before the next begins; 0: no split. Rounded
  // down to whole frames.
  uint64_t splitBytes = 0;
  FileIdentity input;  // -i: the run's input, never an output
  // The time a name is made for (tests); empty: the local time now.
  std::function<PatternTime()> clock;
};

class RecordingSeries {
 public:
  explicit RecordingSeries(RecordingSeriesOptions options);
  // Finishes a recording still open as stopped.
  ~RecordingSeries();
  RecordingSeries(const RecordingSeries&) = delete;
  RecordingSeries& operator=(const RecordingSeries&) = delete;

  // A sink for runMainLoop that writes into the series, which must outlive
  // it. Its close ends no recording: endRecording does.
  std::unique_ptr<AudioSink> sink();

  // Writes into the current recording, making and ending recordings as
  // described above.
  Result write(const uint8_t* bytes, int32_t length);

  // Finishes and closes the open recording (if any), settled by `end`.
  // Returns 0, or -4 when finishing it failed (the recording keeps what
  // reached it) or the series had already failed.
  Result endRecording(WavRunEnd end);

  // Recordings made so far.
  uint32_t recordingsMade() const { return made_; }

 private:
  bool openNext();
  // Closes the current recording; false when closing failed.
  bool finish(WavRunEnd end);

  RecordingSeriesOptions options_;
  uint64_t limit_;  // audio bytes per recording
  std::unique_ptr<WavFileSink> current_;
  WavSinkRun run_;
  std::string name_;
  uint64_t written_ = 0;   // bytes in the current recording
  uint32_t made_ = 0;
  bool failed_ = false;    // no more recordings can be made
  int failuresInARow_ = 0;
};
