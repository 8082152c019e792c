// InputMode: what the bytes of an input are, chosen by the command line for
// the stream and by the format tag for a WAV file.
#pragma once

enum class InputMode {
  kAlaw,         // G.711 A-law bytes, the currency itself
  kUlaw,         // G.711 u-law bytes, converted to A-law
  kFramed,       // framed stream, the codec type in the control byte
  kFramedTyped,  // framed stream, a codec type byte after the control byte
};
