// Anonymous temporary files on Windows. The C runtime's tmpfile makes its
// names from a counter in the root of the current drive, so test programs
// running side by side collide on them and one of them gets no file; here the
// name is random, in the temporary folder, created exclusively, and the file
// goes when it is closed (_O_TEMPORARY).

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#include "tests/test_files.h"

namespace test_files {

FILE* anonymousTempFile() {
  std::error_code error;
  const std::filesystem::path base =
      std::filesystem::temp_directory_path(error);
  if (error) return nullptr;
  std::random_device seed;
  std::mt19937_64 random((static_cast<uint64_t>(seed()) << 32) ^ seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate =
        base / ("hearkener-" + std::to_string(random()) + ".tmp");
    const int descriptor = _wopen(
        candidate.c_str(),
        _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_TEMPORARY | _O_NOINHERIT,
        _S_IREAD | _S_IWRITE);
    if (descriptor < 0) continue;
    FILE* stream = _fdopen(descriptor, "w+b");
    if (stream == nullptr) _close(descriptor);
    return stream;
  }
  return nullptr;
}

}  // namespace test_files
