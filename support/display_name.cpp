#include "support/display_name.h"

#include <cstddef>

namespace {

void appendHexByte(std::string* out, unsigned char byte) {
  static const char kDigits[] = "0123456789ABCDEF";
  out->push_back('\\');
  out->push_back('x');
  out->push_back(kDigits[byte >> 4]);
  out->push_back(kDigits[byte & 0x0F]);
}

// The length of the well-formed sequence at `p`, or 0 when the bytes there
// start none (overlong forms, encoded surrogates and values past 10FFFF
// included).
size_t sequenceLength(const unsigned char* p) {
  const unsigned char lead = p[0];
  size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  // The terminator fails every range check, so no read passes it.
  if (p[1] < low || p[1] > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  }
  return length;
}

}  // namespace

std::string displayName(const char* utf8) {
  if (utf8 == nullptr) return "(null)";
  std::string shown;
  const auto* p = reinterpret_cast<const unsigned char*>(utf8);
  while (*p != 0) {
    const unsigned char byte = *p;
    if (byte >= 0x20 && byte < 0x7F) {
      shown.push_back(static_cast<char>(byte));
      ++p;
    } else if (byte == '\t' || byte == '\n' || byte == '\r') {
      shown.push_back('\\');
      shown.push_back(byte == '\t' ? 't' : byte == '\n' ? 'n' : 'r');
      ++p;
    } else if (const size_t length = byte >= 0x80 ? sequenceLength(p) : 0) {
      shown.append(reinterpret_cast<const char*>(p), length);
      p += length;
    } else {
      appendHexByte(&shown, byte);
      ++p;
    }
  }
  return shown;
}
