#include "wav/wav_file_sink.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "support/console_report.h"
#include "support/debug_trace.h"
#include "support/display_name.h"
#include "support/system_error.h"
#include "wav/wav_format_text.h"

namespace {

constexpr uint64_t kHeaderLength = kWavAlawStereoHeaderLength;
// The most audio bytes a recording can hold: its file length is at most
// kWavMaxFileLength.
constexpr uint64_t kMaxAudioBytes = kWavMaxFileLength - kHeaderLength;
// Offsets of the three size fields of the 58-byte layout.
constexpr uint64_t kRiffSizeAt = 4;
constexpr uint64_t kFactCountAt = 46;
constexpr uint64_t kDataSizeAt = 54;

}  // namespace

struct WavSinkState {
  OutputFile file;
  // A test's double in front of `file`, when there is one; destroyed first.
  std::unique_ptr<WavFileIo> wrapper;
  WavFileIo* io = &file;  // every file operation goes through it
  std::string name;       // for console lines
  // Audio offsets count from the first byte behind the header. The run's
  // audio starts at startAudio (0, or behind the audio appended to); every
  // byte below flushed is in the file, every byte below accepted was taken.
  uint64_t startAudio = 0;
  uint64_t flushed = 0;
  uint64_t accepted = 0;
  // Where the file and its header are brought up to date next: never more
  // than kWavHeaderUpdateBytes beyond the data size the header gives, so
  // the buffer never holds more either.
  uint64_t nextUpdate = kWavHeaderUpdateBytes - kHeaderLength;
  bool writeFailed = false;  // a write failed or the limit was reached
  bool headerWritten = false;  // by this run
  WavRunEnd runEnd = WavRunEnd::kComplete;
  WavPriorState prior;
  WavSinkRun* run = nullptr;  // the owner's record, or localRun
  WavSinkRun localRun;
  size_t fill = 0;
  uint8_t buffer[kWavHeaderUpdateBytes];
};

namespace {

void storeLe32(uint8_t* at, uint64_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t loadLe32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

// The 58 header bytes of our layout as the layout table has them, every
// size 0.
void layoutHeader(uint8_t* header) {
  size_t at = 0;
  const WavLayout layout = wavSelectLayout(kWavFormatAlaw, 1);
  for (int32_t i = 0; i < layout.count; ++i) {
    memcpy(header + at, layout.segments[i].bytes, layout.segments[i].length);
    at += layout.segments[i].length;
  }
}

// The 58 header bytes of our layout with the sizes of `audio` bytes.
void composeHeader(uint8_t* header, uint64_t audio) {
  layoutHeader(header);
  storeLe32(header + kRiffSizeAt, kHeaderLength + audio - 8);
  storeLe32(header + kFactCountAt, audio / 2);
  storeLe32(header + kDataSizeAt, audio);
}

void reportFailure(const WavSinkState* state, const char* what) {
  consoleReport("could not %s output file %Ds (%s)\r\n", what,
                displayName(state->name.c_str()).c_str(),
                systemErrorText(state->io->lastError()).c_str());
}

// Writes the whole header with the sizes of `audio` bytes, in one write. An
// appended-to recording's header differs from it in the sizes only.
bool writeHeader(WavSinkState* state, uint64_t audio) {
  uint8_t header[kHeaderLength];
  composeHeader(header, audio);
  return state->io->writeAt(0, header, sizeof header, nullptr);
}

// Moves the buffered audio into the file. On failure the sink takes no more
// audio; what reached the file is counted in `flushed`.
bool flushBuffer(WavSinkState* state) {
  if (state->fill == 0 || state->writeFailed) return !state->writeFailed;
  size_t written = 0;
  const bool ok = state->io->writeAt(kHeaderLength + state->flushed,
                                     state->buffer, state->fill, &written);
  state->flushed += written;
  state->fill = 0;
  if (!ok) {
    state->writeFailed = true;
    reportFailure(state, "write");
  }
  return ok;
}

// The first audio offset beyond `audio` at which the file ends on a
// multiple of kWavHeaderUpdateBytes.
uint64_t updatePointAfter(uint64_t audio) {
  const uint64_t end = kHeaderLength + audio;
  return (end / kWavHeaderUpdateBytes + 1) * kWavHeaderUpdateBytes -
         kHeaderLength;
}

// Puts the buffered audio into the file and the header's sizes up to it:
// a recording cut off from here on is complete up to this point. A failure
// ends the run's writing like a failed write.
bool updateRecording(WavSinkState* state) {
  if (!flushBuffer(state)) return false;
  if (!writeHeader(state, state->flushed)) {
    state->writeFailed = true;
    reportFailure(state, "update the header of");
    return false;
  }
  state->headerWritten = true;
  state->nextUpdate = updatePointAfter(state->flushed);
  return true;
}

// Puts an appended-to recording of which none of the run's audio stays back
// as it was, on the held file: its header when the run rewrote it, the
// bytes a write reached, and its length. A run that changed nothing writes
// nothing.
bool restorePrior(WavSinkState* state) {
  const WavPriorState& prior = state->prior;
  const bool touched = state->flushed > state->startAudio;
  if (!touched && !state->headerWritten) return true;
  if (state->headerWritten && prior.length >= kHeaderLength &&
      !state->io->writeAt(0, prior.header, kHeaderLength, nullptr)) {
    return false;
  }
  return (!touched || prior.tailLength == 0 ||
          state->io->writeAt(prior.appendOffset, prior.tail, prior.tailLength,
                             nullptr)) &&
         state->io->truncate(prior.length);
}

// Leaves no trace of a failed run that keeps no audio, while the file is
// still held, so that no other run can have taken it meanwhile: a file the
// run made is removed, a recording it appended to is put back.
Result settleWithoutAudio(WavSinkState* state) {
  if (state->file.created()) {
    if (!outputFileRemoveIfSame(state->name.c_str(), state->file.identity())) {
      debugTrace("could not delete %s\n", state->name.c_str());
    }
    return kResultOk;
  }
  if (!state->prior.existed || restorePrior(state)) return kResultOk;
  reportFailure(state, "restore");
  return kResultWavOutput;
}

// Cuts the file to the recording of `audio` bytes and patches its header.
Result finishRecording(WavSinkState* state, uint64_t audio) {
  Result result = kResultOk;
  // A half frame behind the audio is cut off; if that fails, the header
  // still describes the whole frames before it.
  const int64_t length = state->io->length();
  if (length >= 0 && static_cast<uint64_t>(length) != kHeaderLength + audio &&
      !state->io->truncate(kHeaderLength + audio)) {
    reportFailure(state, "truncate");
    result = kResultWavOutput;
  }
  if (!writeHeader(state, audio)) {
    debugTrace("could not update WAV header (%d)\n", state->io->lastError());
    reportFailure(state, "update the header of");
    result = kResultWavOutput;
  }
  return result;
}

}  // namespace

WavFileSink::~WavFileSink() { close(); }

Result WavFileSink::close() {
  if (!markClosed()) return 0;
  WavSinkState* state = state_.get();
  // Only a run that took its input to the end keeps an odd last byte; any
  // other recording ends at its last whole frame, and a half frame still
  // in the buffer never reaches the file.
  const bool whole = state->runEnd != WavRunEnd::kComplete;
  if (whole && state->fill > 0 && ((state->flushed + state->fill) & 1) != 0) {
    --state->fill;
  }
  flushBuffer(state);
  Result result = state->writeFailed ? kResultWavOutput : kResultOk;
  const bool failed = state->writeFailed || state->runEnd == WavRunEnd::kFailed;
  const uint64_t end =
      whole || failed ? state->flushed & ~1ull : state->flushed;
  const uint64_t kept = end > state->startAudio ? end - state->startAudio : 0;
  Result settled = kResultOk;
  if (kept == 0 && failed) {
    settled = settleWithoutAudio(state);
  } else if (kept == 0 && state->prior.existed && !state->headerWritten) {
    // Nothing of the run stays: the recording is left as it was.
    if (!restorePrior(state)) {
      reportFailure(state, "restore");
      settled = kResultWavOutput;
    }
  } else {
    settled = finishRecording(state, state->startAudio + kept);
  }
  if (settled != kResultOk) result = settled;
  state->run->audioWritten = kept;
  if (!state->io->close()) {
    reportFailure(state, "close");
    result = kResultWavOutput;
  }
  return result;
}

Result WavFileSink::write(const uint8_t* bytes, int32_t length) {
  if (!isOpen()) return kResultWavOutput;
  WavSinkState* state = state_.get();
  if (state->writeFailed) return kResultWavOutput;
  if (length <= 0) return length;
  uint64_t take = static_cast<uint64_t>(length);
  const bool atLimit = state->accepted + take > kMaxAudioBytes;
  if (atLimit) {
    // The recording ends complete at the last whole frame that fits.
    const uint64_t end = kMaxAudioBytes & ~1ull;
    take = end > state->accepted ? end - state->accepted : 0;
  }
  const uint8_t* at = bytes;
  while (take > 0) {
    // Due before any audio only when an append continues a recording cut
    // off at or beyond its next update point.
    if (state->accepted == state->nextUpdate && !updateRecording(state)) {
      return kResultWavOutput;
    }
    const uint64_t room = state->nextUpdate - state->accepted;
    const size_t piece = static_cast<size_t>(take < room ? take : room);
    memcpy(state->buffer + state->fill, at, piece);
    state->fill += piece;
    state->accepted += piece;
    at += piece;
    take -= piece;
    if (state->accepted == state->nextUpdate && !updateRecording(state)) {
      return kResultWavOutput;
    }
  }
  if (atLimit) {
    flushBuffer(state);
    state->writeFailed = true;
    state->run->limitReached = true;
    consoleReport("output file %Ds reached the 4 GiB size limit of WAV files\r\n",
                  displayName(state->name.c_str()).c_str());
    return kResultWavOutput;
  }
  return length;
}

void WavFileSink::setRunEnd(WavRunEnd end) {
  if (isOpen()) state_->runEnd = end;
}

namespace {

// The 58 header bytes of a recording of ours, with the three size fields
// masked out.
bool isAlawStereoRecordingHeader(const uint8_t* header) {
  uint8_t expected[kHeaderLength];
  layoutHeader(expected);
  for (size_t i = 0; i < sizeof expected; ++i) {
    const bool sizeField = (i >= kRiffSizeAt && i < kRiffSizeAt + 4) ||
                           (i >= kFactCountAt && i < kFactCountAt + 4) ||
                           (i >= kDataSizeAt && i < kDataSizeAt + 4);
    if (!sizeField && header[i] != expected[i]) return false;
  }
  // The data chunk lies inside the RIFF size.
  return loadLe32(header + kRiffSizeAt) >= kHeaderLength - 8;
}

// The audio an append continues behind, for a recording whose header gives
// `declared` bytes of data and whose file holds `present`; -1 when what
// lies behind the data is not the sink's to overwrite.
int64_t appendPoint(const uint8_t* header, uint64_t declared,
                    uint64_t present) {
  // Never beyond the end (a hole would play as noise), never splitting a
  // frame; an odd pad byte behind the data is overwritten.
  if (present <= declared + 1) {
    return static_cast<int64_t>((declared < present ? declared : present) &
                                ~1ull);
  }
  // A recording cut off while being written: its header lags its audio by
  // at most kWavHeaderUpdateBytes, and the RIFF chunk ends with its data
  // chunk (another chunk behind the data would make it longer).
  const bool cutOff =
      present - declared <= kWavHeaderUpdateBytes &&
      loadLe32(header + kRiffSizeAt) == kHeaderLength - 8 + declared;
  return cutOff ? static_cast<int64_t>(present & ~1ull) : -1;
}

// Places the run's audio behind the existing audio of the recording in the
// file and fills state->prior. Refuses anything that is not a recording of
// the 58-byte A-law stereo layout that appendPoint accepts, with the reason
// in *reason.
WavSinkOpenStatus prepareAppend(WavSinkState* state, std::string* reason) {
  const int64_t end = state->io->length();
  if (end < 0) {
    *reason = systemErrorText(state->io->lastError());
    return WavSinkOpenStatus::kFailed;
  }
  const uint64_t length = static_cast<uint64_t>(end);
  WavPriorState& prior = state->prior;
  prior.existed = true;
  prior.length = length;
  if (length == 0) return WavSinkOpenStatus::kOk;  // a fresh header goes in
  uint8_t header[kHeaderLength] = {};
  const size_t present =
      length < kHeaderLength ? static_cast<size_t>(length) : sizeof header;
  if (!state->io->readAt(0, header, present)) {
    // Nothing to read: the file shrank since its length was taken.
    if (state->io->lastError() == 0) {
      *reason = wavNotARecording("not a WAV file");
      return WavSinkOpenStatus::kNotARecording;
    }
    *reason = systemErrorText(state->io->lastError());
    return WavSinkOpenStatus::kFailed;
  }
  const bool ours =
      length >= kHeaderLength && isAlawStereoRecordingHeader(header);
  if (!ours || length > kWavMaxFileLength) {
    *reason = wavNotARecordingReason(header, length, ours);
    return WavSinkOpenStatus::kNotARecording;
  }
  // Unsigned: a recording of 2 GiB or more is still ours to continue.
  const uint64_t declared = loadLe32(header + kDataSizeAt);
  const int64_t point = appendPoint(header, declared, length - kHeaderLength);
  if (point < 0) {
    *reason = wavNotARecordingReason(header, length, ours);
    return WavSinkOpenStatus::kNotARecording;
  }
  const uint64_t audio = static_cast<uint64_t>(point);
  prior.appendOffset = kHeaderLength + audio;
  // At most 2: a pad byte behind an odd data length.
  prior.tailLength = static_cast<uint32_t>(length - prior.appendOffset);
  if (prior.tailLength > sizeof prior.tail ||
      (prior.tailLength > 0 &&
       !state->io->readAt(prior.appendOffset, prior.tail, prior.tailLength))) {
    *reason = state->io->lastError() != 0
                  ? systemErrorText(state->io->lastError())
                  : wavNotARecording("not a WAV file");
    return WavSinkOpenStatus::kNotARecording;
  }
  memcpy(prior.header, header, sizeof header);
  state->startAudio = audio;
  // The header's lag behind the file stays within kWavHeaderUpdateBytes; a
  // file that already holds more than its next update point gets its update
  // before the run's first audio.
  const uint64_t due = updatePointAfter(declared < audio ? declared : audio);
  state->nextUpdate = due > audio ? due : audio;
  return WavSinkOpenStatus::kOk;
}

WavSinkOpenStatus fromOutputStatus(OutputOpenStatus status) {
  switch (status) {
    case OutputOpenStatus::kOk:
      return WavSinkOpenStatus::kOk;
    case OutputOpenStatus::kNotRegular:
      return WavSinkOpenStatus::kNotRegular;
    case OutputOpenStatus::kSameAsInput:
      return WavSinkOpenStatus::kSameAsInput;
    case OutputOpenStatus::kBusy:
      return WavSinkOpenStatus::kBusy;
    case OutputOpenStatus::kFailed:
      break;
  }
  return WavSinkOpenStatus::kFailed;
}

// Opens the file and prepares it for the run; a refusal's reason goes to
// *reason (none for kSameAsInput and kBusy, whose lines app/ words).
WavSinkOpenStatus openFile(const char* fileName, const WavSinkOptions& options,
                           WavSinkState* state, std::string* reason) {
  const OutputOpenMode mode = options.append ? OutputOpenMode::kKeepContents
                                             : OutputOpenMode::kReplace;
  const WavSinkOpenStatus opened =
      fromOutputStatus(state->file.open(fileName, mode, options.input));
  if (opened == WavSinkOpenStatus::kNotRegular) *reason = "not a regular file";
  if (opened == WavSinkOpenStatus::kFailed) {
    *reason = systemErrorText(state->file.lastError());
  }
  if (opened != WavSinkOpenStatus::kOk) return opened;
  if (options.wrapFile) {
    state->wrapper = options.wrapFile(&state->file);
    if (state->wrapper != nullptr) state->io = state->wrapper.get();
  }
  if (options.append && !state->file.created()) {
    const WavSinkOpenStatus prepared = prepareAppend(state, reason);
    if (prepared != WavSinkOpenStatus::kOk) return prepared;
    if (state->prior.length != 0) return WavSinkOpenStatus::kOk;
  }
  // The header of an empty recording: a run cut off before the first update
  // leaves a valid WAV file.
  if (!writeHeader(state, 0)) {
    *reason = systemErrorText(state->io->lastError());
    return WavSinkOpenStatus::kFailed;
  }
  state->headerWritten = true;
  return WavSinkOpenStatus::kOk;
}

}  // namespace

std::unique_ptr<WavFileSink> openWavFileSinkChecked(
    const char* fileName, const WavSinkOptions& options, WavSinkRun* run,
    WavPriorState* prior, WavSinkOpenStatus* status, Failure* failure) {
  WavSinkOpenStatus ignored = WavSinkOpenStatus::kOk;
  if (status == nullptr) status = &ignored;
  Failure ignoredFailure;
  if (failure == nullptr) failure = &ignoredFailure;
  *failure = Failure{};
  if (prior != nullptr) *prior = WavPriorState{};
  *status = WavSinkOpenStatus::kFailed;
  debugTrace("opening wav file %s...\n", fileName ? fileName : "(null)");
  if (fileName == nullptr) return nullptr;
  std::unique_ptr<WavFileSink> sink(new (std::nothrow) WavFileSink);
  if (sink != nullptr) sink->state_.reset(new (std::nothrow) WavSinkState);
  if (sink == nullptr || sink->state_ == nullptr) {
    debugTrace("could not allocate memory\n");
    *failure = Failure{fileName, systemErrorText(ENOMEM)};
    return nullptr;
  }
  WavSinkState* state = sink->state_.get();
  state->name = fileName;
  state->run = run != nullptr ? run : &state->localRun;
  *state->run = WavSinkRun{};
  std::string reason;
  *status = openFile(fileName, options, state, &reason);
  if (*status != WavSinkOpenStatus::kOk) {
    if (!reason.empty()) *failure = Failure{fileName, std::move(reason)};
    // Only a file that this open created itself is removed again.
    if (state->file.created() && state->file.isOpen() &&
        state->file.length() <= static_cast<int64_t>(kHeaderLength)) {
      outputFileRemoveIfSame(fileName, state->file.identity());
    }
    return nullptr;
  }
  state->flushed = state->startAudio;
  state->accepted = state->startAudio;
  WavSinkRun& record = *state->run;
  record.created = state->file.created();
  record.audioBefore = state->startAudio;
  record.file = state->file.identity();
  if (prior != nullptr) *prior = state->prior;
  sink->markOpen();
  return sink;
}

std::unique_ptr<WavFileSink> openWavFileSink(const char* fileName,
                                             int32_t append,
                                             WavPriorState* prior) {
  WavSinkOptions options;
  options.append = append;
  return openWavFileSinkChecked(fileName, options, nullptr, prior, nullptr);
}

void wavSinkSetRunEnd(AudioSink* sink, WavRunEnd end) {
  auto* wav = dynamic_cast<WavFileSink*>(sink);
  if (wav != nullptr) wav->setRunEnd(end);
}
