// WAV file sink: the AudioSink that stores the audio currency unchanged
// behind the 58-byte A-law stereo header.
//
// What a run records is never thrown away by the sink: a write that fails
// (disk full, an I/O error, the file size limit) ends the run's writing, and
// close still leaves a complete recording of every byte that reached the
// file, cut to whole frames, with its header patched (see WavRunEnd). A recording stops
// growing at the 4 GiB limit of the WAV format's sizes. The sink prints one
// console line for each failure it meets after opening; a refused open
// hands its reason back instead.
//
// A recording cut off while being written (the process killed, the system
// stopped) is still a WAV file: each time the audio reaches a file offset
// that is a multiple of kWavHeaderUpdateBytes, the sink puts it into the
// file and then brings the header's sizes up to it. The header never lags
// the audio in the file by more than kWavHeaderUpdateBytes (1.024 s), and at
// most that much of the audio taken is lost. Nothing is forced to the disk;
// after a power loss the file holds what the system wrote back.
//
// Thread-safety: used by the main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "core/audio_endpoint.h"
#include "support/failure.h"
#include "wav/output_file.h"
#include "wav/wav_file_io.h"
#include "wav/wav_header.h"

// The file offsets at whose multiples a recording's header is brought up to
// date: about every second of audio (1.024 s), in writes of whole 16 KiB
// pieces of the page cache, which cost far less than unaligned ones. Also
// the most audio a cut-off recording holds beyond its header's data size.
constexpr uint64_t kWavHeaderUpdateBytes = 16 * 1024;

// What putting an appended-to recording back needs, so that a failed run
// never destroys a recording that existed before it. Filled by the opens;
// `existed` is false when the sink created the file.
struct WavPriorState {
  bool existed = false;
  uint64_t length = 0;                            // file length before the run
  uint8_t header[kWavAlawStereoHeaderLength] = {};  // its header bytes
  uint64_t appendOffset = 0;  // where the run's audio starts
  // The bytes from appendOffset to the end that the run overwrites: half a
  // frame, and a pad byte behind an odd data length.
  uint8_t tail[2] = {};
  uint32_t tailLength = 0;  // 0 to 2
};

// What a run did to its output file. The sink fills it at opening and keeps
// it current until close; its owner reads it after the sink is gone.
struct WavSinkRun {
  bool created = false;   // the run made the file (created, or emptied it)
  uint64_t audioBefore = 0;   // audio bytes held before the run
  uint64_t audioWritten = 0;  // bytes of this run the file holds
  bool limitReached = false;  // writing stopped at the 4 GiB limit
  FileIdentity file;
};

enum class WavSinkOpenStatus : int32_t {
  kOk = 0,
  kFailed = -1,         // could not be opened, created or read
  kNotRegular = -2,     // not a regular file
  kSameAsInput = -3,    // the run's input file
  kBusy = -4,           // another run writes it
  kNotARecording = -5,  // append: not a recording this sink can continue
};

struct WavSinkOptions {
  int32_t append = 0;  // nonzero: continue an existing recording
  FileIdentity input;  // the run's input file, refused as output
  // When set, every operation on the opened file goes through what this
  // returns for it (tests put a double that fails chosen calls there); the
  // sink owns the result and destroys it before the file.
  std::function<std::unique_ptr<WavFileIo>(WavFileIo* file)> wrapFile;
};

// How the run that writes the sink ended; close settles the file by it
// while the file is still held. kComplete (the default): the input was
// taken to its end, and an odd last byte stays. kStopped: the recording
// ends at its last whole frame. kFailed: likewise, and a run that keeps no
// whole frame leaves no trace (a file it made is removed, a recording it
// appended to is put back byte for byte, and one it did not change is not
// written at all). A failed write counts as kFailed.
enum class WavRunEnd { kComplete, kStopped, kFailed };

struct WavSinkState;

class WavFileSink final : public AudioSink {
 public:
  ~WavFileSink() override;
  Result close() override;
  Result write(const uint8_t* bytes, int32_t length) override;

  // How the run ended; call before close.
  void setRunEnd(WavRunEnd end);

 private:
  friend std::unique_ptr<WavFileSink> openWavFileSinkChecked(
      const char*, const WavSinkOptions&, WavSinkRun*, WavPriorState*,
      WavSinkOpenStatus*, Failure*);
  WavFileSink() = default;
  std::unique_ptr<WavSinkState> state_;
};

// Opens the sink. append != 0: continue the audio of an existing file of the
// 58-byte A-law stereo layout, or create the file when it does not exist;
// an existing file that is not such a recording is refused untouched. A
// recording is continued behind its last whole frame in the file: also one
// that was cut off while being written, whose RIFF size ends with its data
// chunk and whose file holds at most kWavHeaderUpdateBytes beyond its data
// size. Anything more behind the data is not the sink's to overwrite.
// append == 0: create the file anew (emptying it). Every refusal leaves the
// file untouched. `run`, `prior`, `status` and `failure` may be null;
// `run` must outlive the sink. A refusal other than kSameAsInput and kBusy
// leaves the file's name and the reason in *failure: the system's error
// text, "not a regular file", or for an append what the file is and what
// -f continues.
std::unique_ptr<WavFileSink> openWavFileSinkChecked(
    const char* fileName, const WavSinkOptions& options, WavSinkRun* run,
    WavPriorState* prior, WavSinkOpenStatus* status,
    Failure* failure = nullptr);

// openWavFileSinkChecked with no input to avoid.
std::unique_ptr<WavFileSink> openWavFileSink(const char* fileName,
                                             int32_t append,
                                             WavPriorState* prior);

// WavFileSink::setRunEnd of `sink` when it is a WAV file sink and still
// open; nothing otherwise.
void wavSinkSetRunEnd(AudioSink* sink, WavRunEnd end);
