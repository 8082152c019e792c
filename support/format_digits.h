// Digit rendering for the formatting engines: a 64-bit unsigned magnitude in
// base 2, 8, 10 or 16 (any base from 2 to 16 works), padded with leading
// zeros to a minimum digit count and terminated.
//
// Thread-safety: pure functions.
#pragma once

#include <cstdint>

// The most digits a 64-bit magnitude can need (base 2).
constexpr int32_t kFormatMaxDigits = 64;

namespace format_detail {

template <uint32_t kBase>
inline int32_t digitsFromRight(char* end, uint64_t magnitude,
                               const char* alphabet) {
  int32_t n = 0;
  while (magnitude != 0) {
    *--end = alphabet[magnitude % kBase];
    magnitude /= kBase;
    ++n;
  }
  return n;
}

template <typename Unit>
inline Unit* formatDigits(Unit* out, uint64_t magnitude, uint32_t base,
                          int32_t minDigits, bool upperCase) {
  const char* alphabet = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
  char digits[kFormatMaxDigits];
  char* const end = digits + kFormatMaxDigits;
  int32_t n;
  // Constant bases let the compiler replace the divisions by shifts and
  // multiplications; this is the hot path of every numeric directive.
  switch (base) {
    case 10:
      n = digitsFromRight<10>(end, magnitude, alphabet);
      break;
    case 16:
      n = digitsFromRight<16>(end, magnitude, alphabet);
      break;
    case 8:
      n = digitsFromRight<8>(end, magnitude, alphabet);
      break;
    case 2:
      n = digitsFromRight<2>(end, magnitude, alphabet);
      break;
    default:
      n = 0;
      for (char* p = end; magnitude != 0; magnitude /= base, ++n) {
        *--p = alphabet[magnitude % base];
      }
      break;
  }
  for (int32_t zeros = minDigits - n; zeros > 0; --zeros) {
    *out++ = static_cast<Unit>('0');
  }
  for (const char* p = end - n; p != end; ++p) {
    *out++ = static_cast<Unit>(*p);
  }
  *out = 0;
  return out;
}

}  // namespace format_detail

// Writes the digits of `magnitude` in `base` to `out`, using the larger of
// the count the value needs and `minDigits` (zeros in front), then a NUL.
// Digits above 9 are a-f, or A-F with `upperCase`. The value 0 needs no
// digits, so it renders as "0" only when minDigits >= 1. Returns the
// position of the NUL (the end of the digits).
// REQUIRES: 2 <= base <= 16; out holds max(needed, minDigits) + 1 units.
inline char16_t* utf16FormatDigits(char16_t* out, uint64_t magnitude,
                                   uint32_t base, int32_t minDigits,
                                   bool upperCase = false) {
  return format_detail::formatDigits(out, magnitude, base, minDigits,
                                     upperCase);
}

// The narrow engine's digit routine: as utf16FormatDigits, in bytes.
inline char* utf8FormatDigits(char* out, uint64_t magnitude, uint32_t base,
                              int32_t minDigits, bool upperCase = false) {
  return format_detail::formatDigits(out, magnitude, base, minDigits,
                                     upperCase);
}
