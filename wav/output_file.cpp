// The open sequence of OutputFile, the same on every platform: open what is
// there, else create exclusively; then check (regular file, not the input),
// lock, and only then empty.
#include "wav/output_file.h"

#include <cerrno>
#include <utility>

#include "wav/output_file_system.h"

namespace {

// Attempts at "open existing, else create" while another process creates
// and removes the name in between.
constexpr int kOpenAttempts = 3;

}  // namespace

OutputFile::~OutputFile() { close(); }

OutputFile::OutputFile(OutputFile&& other) noexcept { *this = std::move(other); }

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    close();
    descriptor_ = other.descriptor_;
    created_ = other.created_;
    lastError_ = other.lastError_;
    identity_ = other.identity_;
    other.descriptor_ = -1;
  }
  return *this;
}

OutputOpenStatus OutputFile::open(const char* name, OutputOpenMode mode,
                                  const FileIdentity& input) {
  close();
  created_ = false;
  if (name == nullptr || name[0] == '\0') {
    lastError_ = ENOENT;
    return OutputOpenStatus::kFailed;
  }
  // An existing file is opened as it is; only a missing one is created, and
  // then exclusively, so that nothing found at the name is ever truncated
  // before it has been checked.
  int descriptor = -1;
  bool made = false;
  FileOpenOutcome outcome = FileOpenOutcome::kFailed;
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    outcome = outputFileOpenExisting(name, &descriptor, &lastError_);
    if (outcome != FileOpenOutcome::kMissing) break;
    outcome = outputFileCreateNew(name, &descriptor, &lastError_);
    made = outcome == FileOpenOutcome::kOpened;
    if (outcome != FileOpenOutcome::kExists) break;
  }
  if (outcome != FileOpenOutcome::kOpened) {
    if (outcome == FileOpenOutcome::kExists) lastError_ = EEXIST;
    return OutputOpenStatus::kFailed;
  }
  descriptor_ = descriptor;
  bool regular = false;
  if (!outputFileInspect(descriptor_, &identity_, &regular, &lastError_)) {
    close();
    return OutputOpenStatus::kFailed;
  }
  if (!regular || sameFile(identity_, input)) {
    lastError_ = EINVAL;
    close();
    return regular ? OutputOpenStatus::kSameAsInput
                   : OutputOpenStatus::kNotRegular;
  }
  bool busy = false;
  if (!outputFileLock(descriptor_, &busy, &lastError_)) {
    close();
    return busy ? OutputOpenStatus::kBusy : OutputOpenStatus::kFailed;
  }
  if (!outputFileSettle(descriptor_, &lastError_) ||
      (mode == OutputOpenMode::kReplace && !made && length() != 0 &&
       !truncate(0))) {
    close();
    return OutputOpenStatus::kFailed;
  }
  created_ = made || mode == OutputOpenMode::kReplace;
  return OutputOpenStatus::kOk;
}

bool OutputFile::close() {
  if (descriptor_ < 0) return true;
  // The descriptor is gone whatever the system says; the lock goes with it.
  const bool ok = outputFileRelease(descriptor_, &lastError_);
  descriptor_ = -1;
  return ok;
}
