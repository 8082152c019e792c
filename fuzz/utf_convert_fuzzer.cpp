// Fuzzes both strict UTF copies with arbitrary text and destination sizes.
// Checks: nothing is written past the destination (exact-size heap buffers
// under AddressSanitizer), the counts stay in range, a successful copy is
// terminated and survives the round trip unchanged, the partial text of a
// short destination is a prefix of the full conversion, and a source fault
// does not depend on the destination size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/utf_convert.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

template <typename Unit>
size_t lengthOf(const Unit* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

// Converts with a destination of `size` units and with an ample one.
template <typename To, typename From, typename Convert>
void checkConversion(const From* source, size_t size, Convert convert) {
  const size_t length = lengthOf(source);
  std::vector<To> whole(4 * (length + 1));
  const UtfCopyResult full = convert(whole.data(), source, whole.size());
  check(full.status != UtfStatus::kTargetExhausted);
  check(full.consumed <= length + 1 && full.written <= whole.size());

  std::vector<To> part(size);
  const UtfCopyResult cut = convert(part.data(), source, size);
  check(cut.written <= size && cut.consumed <= full.consumed);
  check(cut.written == 0 ||
        std::memcmp(part.data(), whole.data(), cut.written * sizeof(To)) == 0);
  if (cut.status == UtfStatus::kOk) {
    check(cut.written == full.written && part[cut.written - 1] == 0);
  } else if (cut.status != UtfStatus::kTargetExhausted) {
    check(cut.status == full.status && cut.consumed == full.consumed);
  }

  if (full.status == UtfStatus::kOk) {
    check(full.consumed == length + 1 && whole[full.written - 1] == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t destinationSize = data[0];
  ++data;
  --size;

  // The bytes as a UTF-8 string.
  const std::string narrow(reinterpret_cast<const char*>(data), size);
  checkConversion<char16_t>(narrow.c_str(), destinationSize,
                            utf8ToUtf16Convert);
  {
    std::vector<char16_t> out(4 * (narrow.size() + 1));
    if (utf8ToUtf16Convert(out.data(), narrow.c_str(), out.size()).status ==
        UtfStatus::kOk) {
      std::vector<char> back(4 * (narrow.size() + 1));
      check(utf16ToUtf8Convert(back.data(), out.data(), back.size()).status ==
            UtfStatus::kOk);
      check(std::strcmp(back.data(), narrow.c_str()) == 0);
    }
  }

  // The bytes as UTF-16 units.
  std::u16string wide;
  for (size_t i = 0; i + 1 < size; i += 2) {
    wide.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  }
  checkConversion<char>(wide.c_str(), destinationSize, utf16ToUtf8Convert);
  {
    std::vector<char> out(4 * (wide.size() + 1));
    if (utf16ToUtf8Convert(out.data(), wide.c_str(), out.size()).status ==
        UtfStatus::kOk) {
      std::vector<char16_t> back(wide.size() + 1);
      check(utf8ToUtf16Convert(back.data(), out.data(), back.size()).status ==
            UtfStatus::kOk);
      check(std::u16string(back.data()) == std::u16string(wide.c_str()));
    }
  }
  return 0;
}
