// make_test_call: writes a short synthetic two-direction telephone call as a
// G.711 WAV file, the built-in example input of hearkener.
//
// The caller (first channel) and the callee (second channel) take turns:
// each "utterance" is a run of voiced syllables (a glottal-like pulse train
// through a few formant-ish harmonics, under a syllable envelope), with a
// quiet gap between turns, so both directions are easy to tell apart by ear
// and by their signal.
//
// Usage: make_test_call OUT.wav [--alaw|--ulaw] [--mono] [--seconds N]
//        make_test_call --help
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codecs/g711.h"
#include "wav/wav_header.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kRate = 8000;

// 16-bit linear to u-law (G.711), for the u-law variant of the example.
uint8_t linearToUlaw(int sample) {
  constexpr int kBias = 0x84;
  constexpr int kClip = 32635;
  const int sign = sample < 0 ? 0x80 : 0;
  int magnitude = sample < 0 ? -sample : sample;
  if (magnitude > kClip) magnitude = kClip;
  magnitude += kBias;
  int exponent = 7;
  for (int mask = 0x4000; (magnitude & mask) == 0 && exponent > 0; mask >>= 1) {
    --exponent;
  }
  const int mantissa = (magnitude >> (exponent + 3)) & 0x0F;
  return static_cast<uint8_t>(~(sign | exponent << 4 | mantissa));
}

// One speaker's voice: pitch and two emphasised harmonics.
struct Voice {
  double pitch;
  double formant1;
  double formant2;
};

double voiceSample(const Voice& voice, double t, double syllablePhase) {
  const double envelope = std::sin(kPi * syllablePhase);
  double value = 0.0;
  for (int h = 1; h <= 12; ++h) {
    const double f = voice.pitch * h;
    if (f > 3400.0) break;
    const double gain = 1.0 / h + 0.8 * std::exp(-std::pow((f - voice.formant1) / 250.0, 2)) +
                        0.5 * std::exp(-std::pow((f - voice.formant2) / 300.0, 2));
    value += gain * std::sin(2 * kPi * f * t);
  }
  return 5000.0 * envelope * envelope * value;
}

constexpr int kExitUsage = 2;

void printUsage(FILE* to, const char* program) {
  fprintf(to,
          "Usage: %s OUT.wav [--alaw|--ulaw] [--mono] [--seconds N]\n"
          "       %s --help\n"
          "Writes a synthetic two-direction telephone call into OUT.wav as\n"
          "8000 Hz G.711 (an existing file is overwritten).\n"
          "\n"
          "  --alaw       A-law\n"
          "  --ulaw       u-law (the default)\n"
          "  --mono       one channel holding both directions\n"
          "  --seconds N  length, more than 0 and at most 3600 (default 6)\n"
          "  --help, -h   this text\n"
          "Exit status: 0 written, 1 could not be written, 2 a bad command "
          "line.\n",
          program, program);
}

bool isOption(const char* arg) {
  return strcmp(arg, "--alaw") == 0 || strcmp(arg, "--ulaw") == 0 ||
         strcmp(arg, "--mono") == 0 || strcmp(arg, "--seconds") == 0;
}

// Refuses the command line: why, then the usage, on stderr.
int usageError(const char* program, const char* why, const char* arg) {
  fprintf(stderr, "%s: %s %s\n", program, why, arg);
  printUsage(stderr, program);
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    printUsage(stderr, argv[0]);
    return kExitUsage;
  }
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
      printUsage(stdout, argv[0]);
      return 0;
    }
  }
  // OUT.wav comes first: an option there is no file name.
  if (argv[1][0] == '-') {
    return usageError(argv[0],
                      isOption(argv[1]) ? "OUT.wav comes before"
                                        : "unknown option",
                      argv[1]);
  }
  const char* path = argv[1];
  bool alaw = false;
  bool mono = false;
  double seconds = 6.0;
  for (int i = 2; i < argc; ++i) {
    if (strcmp(argv[i], "--alaw") == 0) {
      alaw = true;
    } else if (strcmp(argv[i], "--ulaw") == 0) {
      alaw = false;
    } else if (strcmp(argv[i], "--mono") == 0) {
      mono = true;
    } else if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      seconds = atof(argv[++i]);
    } else {
      return usageError(argv[0], "unknown option", argv[i]);
    }
  }
  if (!(seconds > 0.0 && seconds <= 3600.0)) {
    fprintf(stderr, "%s: --seconds must be in (0, 3600]\n", argv[0]);
    return kExitUsage;
  }
  FILE* out = fopen(path, "w+b");
  if (out == nullptr) {
    perror(path);
    return 1;
  }
  const int channels = mono ? 1 : 2;
  const int format = alaw ? kWavFormatAlaw : kWavFormatUlaw;
  wavBuildHeader(out, format, mono ? 0 : 1, 0);

  const Voice caller{120.0, 700.0, 1200.0};
  const Voice callee{210.0, 500.0, 1900.0};
  const double turn = 1.5;      // seconds per speaker turn
  const double syllable = 0.22; // seconds per syllable
  const long frames = static_cast<long>(seconds * kRate);
  std::vector<uint8_t> block;
  block.reserve(2 * kRate);
  for (long n = 0; n < frames; ++n) {
    const double t = static_cast<double>(n) / kRate;
    const long turnIndex = static_cast<long>(t / turn);
    const double inTurn = t - turnIndex * turn;
    double sample[2] = {0.0, 0.0};
    if (inTurn < turn - 0.3) {  // a short pause closes every turn
      const double phase = std::fmod(inTurn, syllable) / syllable;
      const int speaker = static_cast<int>(turnIndex % 2);
      sample[speaker] = voiceSample(speaker == 0 ? caller : callee, t, phase);
    }
    for (int c = 0; c < channels; ++c) {
      const int s = static_cast<int>(std::lround(mono ? sample[0] + sample[1] : sample[c]));
      block.push_back(alaw ? linearToAlaw(s >> 3) : linearToUlaw(s));
    }
    if (block.size() >= block.capacity() || n + 1 == frames) {
      if (fwrite(block.data(), 1, block.size(), out) != block.size()) {
        perror(path);
        fclose(out);
        return 1;
      }
      block.clear();
    }
  }
  const int result = wavUpdateSizes(out, format, mono ? 0 : 1,
                                    static_cast<uint32_t>(frames));
  if (fclose(out) != 0 || result != 0) {
    fprintf(stderr, "%s: could not finish %s (%d)\n", argv[0], path, result);
    return 1;
  }
  return 0;
}
