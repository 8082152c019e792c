// WAV files for the end-to-end tests: building input files of any format,
// sparse files of any declared size, and the exact bytes a recording of the
// program must hold. Written independently of the program's own WAV code so
// that a fault there cannot hide itself in the expectation.
//
// Thread-safety: pure functions, except those that write files (one caller
// per path).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/run_program.h"
#include "tests/test_files.h"

namespace e2e {

using test_files::Bytes;

constexpr uint16_t kTagAlaw = 0x0006;
constexpr uint16_t kTagUlaw = 0x0007;

// The length of the header that the program writes.
constexpr size_t kRecordingHeaderLength = 58;

// A chunk placed between the format chunk and the data chunk.
struct ExtraChunk {
  std::string id;  // four characters
  Bytes body;      // an odd length gets a pad byte
};

struct WavPlan {
  uint16_t tag = kTagAlaw;
  uint16_t channels = 2;
  uint32_t rate = 8000;
  uint16_t bitsPerSample = 8;  // as the format chunk states it
  bool factChunk = true;
  std::vector<ExtraChunk> extraChunks;
  Bytes data;
  // When set, the data chunk declares this length instead of data.size()
  // (a file that ends early).
  bool overrideDataLength = false;
  uint32_t declaredDataLength = 0;
};

// The whole file for `plan`, with a patched RIFF size.
Bytes buildWav(const WavPlan& plan);

// `length` bytes that hold every byte value, in a scrambled order
// (deterministic for a given seed).
Bytes patternBytes(size_t length, uint32_t seed = 1);

// The audio currency that the program must make of `data` read from a file
// with this tag and channel count: u-law bytes converted by the G.711 code
// conversion, mono bytes doubled.
Bytes currencyOf(uint16_t tag, uint16_t channels, const Bytes& data);

// The bytes of a finished recording holding `audio`: the 58-byte A-law
// stereo header with RIFF size, fact count and data size patched.
Bytes recordingOf(const Bytes& audio);

// The 58 header bytes of a finished recording of `audioLength` bytes.
Bytes recordingHeader(uint64_t audioLength);

// Writes a WAV header declaring `dataLength` audio bytes and extends the
// file to hold them without allocating them (a sparse file of zeros).
// `tail`, when given, is written at the very end of the data. Returns false
// on any failure.
bool writeSparseWav(const std::string& path, uint16_t tag, uint16_t channels,
                    uint64_t dataLength, const Bytes& tail = Bytes());

// "" when the two are equal; otherwise where they first differ, for a
// failure message that fits on a line.
std::string difference(const Bytes& actual, const Bytes& expected);

// The size of the file, or -1.
int64_t fileSize(const std::string& path);

// The bytes [offset, offset + length) of the file; fewer at its end.
Bytes readRange(const std::string& path, uint64_t offset, size_t length);

// The 512-byte blocks allocated to the file, or -1.
int64_t allocatedBlocks(const std::string& path);

// The path of the built program and of the example generator.
const char* hearkenerExe();
const char* makeTestCallExe();

// Runs the built program with `args` (after its name).
run_program::RunResult runHearkener(
    const std::vector<std::string>& args,
    const run_program::RunOptions& options = run_program::RunOptions());

// Writes `input` to the file `in` and converts it into `out` (-i in -F out).
// A file that cannot be written gives a run that never started.
run_program::RunResult convertFile(const std::string& in, const Bytes& input,
                                   const std::string& out);

}  // namespace e2e
