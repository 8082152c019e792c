// Test helpers for files: a temporary folder removed with everything in it,
// and whole-file read and write.
//
// Thread-safety: TempDir is used by one test at a time; the functions are
// independent calls.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace test_files {

using Bytes = std::vector<uint8_t>;

// A fresh folder under the system's temporary folder; the destructor removes
// it and everything in it. path() is empty when the folder could not be made.
class TempDir {
 public:
  // The name is random; create_directory fails on an existing folder, so
  // two tests (or two test processes) never share one.
  TempDir() {
    std::error_code error;
    const std::filesystem::path base =
        std::filesystem::temp_directory_path(error);
    if (error) return;
    std::random_device seed;
    std::mt19937_64 random((static_cast<uint64_t>(seed()) << 32) ^ seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::filesystem::path candidate =
          base / ("hearkener-" + std::to_string(random()));
      if (std::filesystem::create_directory(candidate, error)) {
        path_ = candidate.string();
        return;
      }
    }
  }
  ~TempDir() {
    std::error_code error;
    if (!path_.empty()) std::filesystem::remove_all(path_, error);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // The path of `name` inside the folder; empty (a path nothing can open)
  // when the folder could not be made, so no test writes elsewhere.
  std::string file(const std::string& name) const {
    return path_.empty() ? std::string() : path_ + "/" + name;
  }

 private:
  std::string path_;
};

// A new empty file open for reading and writing in binary mode, removed
// when closed, like tmpfile(); one file per platform (temp_file_posix.cpp,
// temp_file_win32.cpp). Null when none could be made.
FILE* anonymousTempFile();

// The whole file; empty when it cannot be read.
inline Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in),
               std::istreambuf_iterator<char>());
}

// Replaces the file with `bytes`. Returns false on any failure.
inline bool writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

inline bool fileExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

// Appends little-endian numbers and raw text to a byte vector, for building
// files field by field.
inline void putLe16(Bytes& bytes, uint16_t value) {
  bytes.push_back(static_cast<uint8_t>(value));
  bytes.push_back(static_cast<uint8_t>(value >> 8));
}
inline void putLe32(Bytes& bytes, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    bytes.push_back(static_cast<uint8_t>(value >> shift));
  }
}
inline void putText(Bytes& bytes, const std::string& text) {
  // One by one: g++ 12 misreads a range insert here (-Wstringop-overflow).
  for (char c : text) bytes.push_back(static_cast<uint8_t>(c));
}

// Little-endian 32-bit value at `offset`. REQUIRES: offset + 4 <= size.
inline uint32_t le32At(const Bytes& bytes, size_t offset) {
  return static_cast<uint32_t>(bytes[offset]) |
         static_cast<uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<uint32_t>(bytes[offset + 2]) << 16 |
         static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

// Little-endian 16-bit value at `offset`. REQUIRES: offset + 2 <= size.
inline uint16_t le16At(const Bytes& bytes, size_t offset) {
  return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

}  // namespace test_files
