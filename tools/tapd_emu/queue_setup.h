// A queue of the emulator: the name a client asks for, the WAV file that
// holds its audio, and how that audio goes on the wire.
//
// Thread-safety: plain values and pure functions.
#pragma once

#include <cstdint>
#include <string>

namespace tapd_emu {

// How a queue's audio is sent.
enum class WireEncoding {
  kAlaw,          // G.711 A-law bytes, two channels interleaved (hearkener -a)
  kUlaw,          // G.711 u-law bytes, two channels interleaved (hearkener -u)
  kFramed,        // frames with a codec type byte, input mode 7 (hearkener -r)
  kFramedControl  // frames with the codec type in the control byte, mode 6
};

// The codecs of the framed encodings; the value is the codec type on the
// wire.
enum class Codec : uint8_t {
  kAlaw = 2,
  kUlaw = 3,
  kGsm = 4,
  kG726_40 = 5,
  kG726_32 = 6,
  kG726_24 = 7,
  kG726_16 = 8,
  kG729 = 9,
  kG722 = 13
};

// The codec type of a silence payload: one byte, a count of 1-ms units.
constexpr uint8_t kSilenceCodecType = 40;

struct QueueSetup {
  std::string name;
  std::string path;
  WireEncoding encoding = WireEncoding::kAlaw;
  Codec codec[2] = {Codec::kAlaw, Codec::kAlaw};  // per direction; framed only
};

// Parses NAME=FILE[:ENCODING], ENCODING being alaw (the default), ulaw,
// framed:C0[,C1] or framed6:C0[,C1] (one codec serves both directions).
// FILE may itself contain ':' as long as what follows it is no encoding.
// Returns "" on success, else a message for the user.
std::string parseQueueSetup(const std::string& text, QueueSetup* setup);

// The input mode of a framed encoding: 6 or 7.
int framedMode(WireEncoding encoding);

// The codec's name as the command line spells it.
const char* codecName(Codec codec);

// All codec names, separated by spaces, for the usage text.
std::string codecNameList();

// The encoding as the command line spells it, codecs included.
std::string encodingName(const QueueSetup& setup);

}  // namespace tapd_emu
