#include "tools/tapd_emu/payload_encoder.h"

namespace tapd_emu {

PayloadEncoderPtr makePayloadEncoder(Codec codec, std::string* error) {
  switch (codec) {
    case Codec::kAlaw:
    case Codec::kUlaw:
      return makeG711PayloadEncoder(codec, error);
    case Codec::kGsm:
      return makeGsmPayloadEncoder(error);
    case Codec::kG726_40:
    case Codec::kG726_32:
    case Codec::kG726_24:
    case Codec::kG726_16:
      return makeG726PayloadEncoder(codec, error);
    case Codec::kG729:
      return makeG729PayloadEncoder(error);
    case Codec::kG722:
      return makeG722PayloadEncoder(error);
  }
  *error = "unknown codec";
  return nullptr;
}

}  // namespace tapd_emu
