// OutputFile: the file a recording run writes, opened so that the run can
// never damage anything but a recording of its own making.
//
// Opening refuses what is not a regular file (devices, the null device
// included, FIFOs, sockets, terminals, folders), the file the run reads from
// (same device and inode, whatever name leads to it), and a file that
// another run holds.
// An opened file is locked against other runs until it is closed. Nothing
// is created, emptied or changed before every check has passed. Opening
// never blocks, whatever the name leads to.
//
// Thread-safety: one OutputFile belongs to one thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wav/wav_file_io.h"

// Equal identities name the same file.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool known = false;
};

inline bool sameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.known && b.known && a.device == b.device && a.inode == b.inode;
}

// The identity of what `name` leads to (links followed); unknown when it
// cannot be looked up.
FileIdentity fileIdentityOfPath(const char* name);

enum class OutputOpenStatus : int32_t {
  kOk = 0,
  kFailed = -1,       // could not be opened or created (errno kept)
  kNotRegular = -2,   // a device, FIFO, socket or terminal
  kSameAsInput = -3,  // the file the run reads from
  kBusy = -4,         // another run holds it
};

enum class OutputOpenMode {
  kReplace,       // the file is emptied or created
  kKeepContents,  // an existing file is opened as it is, else created
};

class OutputFile final : public WavFileIo {
 public:
  OutputFile() = default;
  ~OutputFile() override;
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens `name` for reading and writing after the checks above; `input` is
  // the identity of the run's input (unknown: none). On kOk the file is
  // open and locked; *this is left closed otherwise.
  [[nodiscard]] OutputOpenStatus open(const char* name, OutputOpenMode mode,
                                      const FileIdentity& input);

  bool isOpen() const { return descriptor_ >= 0; }
  // This open made the file (created it, or emptied it for kReplace): its
  // earlier contents, if any, are not the run's to keep.
  bool created() const { return created_; }
  const FileIdentity& identity() const { return identity_; }
  // The system's error code of the last failed operation.
  int lastError() const override { return lastError_; }

  // The file operations, as WavFileIo describes them.
  [[nodiscard]] int64_t length() override;
  [[nodiscard]] bool readAt(uint64_t offset, void* bytes,
                            size_t size) override;
  [[nodiscard]] bool writeAt(uint64_t offset, const void* bytes, size_t size,
                             size_t* written = nullptr) override;
  [[nodiscard]] bool truncate(uint64_t length) override;
  // Also releases the lock.
  bool close() override;

 private:
  int descriptor_ = -1;
  bool created_ = false;
  int lastError_ = 0;
  FileIdentity identity_;
};

// Removes `name` when it still names the regular file `identity` (never a
// link, a device or a file put there since). Returns true when removed.
bool outputFileRemoveIfSame(const char* name, const FileIdentity& identity);
