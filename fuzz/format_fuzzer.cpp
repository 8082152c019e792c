// Fuzzes both formatting engines with formats drawn from the input. The
// format is cut into pieces of one directive each, parsed with the engines'
// own directive parser, and every piece is formatted with exactly the
// arguments its directive takes (ints, 64-bit ints, pointers, strings from a
// fixed set, %n targets), so no directive ever reads an argument that was
// not passed. The pieces continue one sink, as one call would.
// Checks: nothing is written past the sink (exact-size heap buffer), the
// count never exceeds the capacity, a negative result comes only with a
// full sink, a non-negative one equals the count.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/format_core.h"
#include "support/format_directive.h"
#include "support/format_sink.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

int32_t narrowCore(Utf8FormatSink* sink, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int32_t result = utf8FormatCore(format, args, sink);
  va_end(args);
  return result;
}

int32_t wideCore(Utf16FormatSink* sink, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int32_t result = utf16FormatCore(format, args, sink);
  va_end(args);
  return result;
}

// Argument values: integers from the input, strings from a fixed set.
class Provider {
 public:
  Provider(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint64_t next64() {
    uint64_t value = 0;
    for (int i = 0; i < 8 && size_ > 0; ++i, ++data_, --size_) {
      value = value << 8 | *data_;
    }
    return value;
  }
  int nextInt() { return static_cast<int>(static_cast<uint32_t>(next64())); }
  long long nextLongLong() { return static_cast<long long>(next64()); }
  const void* nextPointer() {
    return reinterpret_cast<const void*>(static_cast<uintptr_t>(next64()));
  }
  const char* nextNarrow() {
    static const std::string kLong(9000, 'n');
    static const char* const kTexts[] = {
        "",          "abc",        "caf\xC3\xA9",
        "\xC0\x80z", "\xE2\x82",   "\xF0\x9F\x98\x80",
        nullptr,     kLong.c_str()};
    return kTexts[next64() % (sizeof kTexts / sizeof kTexts[0])];
  }
  const char16_t* nextWide() {
    static const std::u16string kLong(9000, u'w');
    static const char16_t kLoneHigh[] = {u'a', 0xD800, u'b', 0};
    static const char16_t kLoneLow[] = {0xDC00, 0};
    static const char16_t* const kTexts[] = {
        u"",     u"abc",       u"\u00E9\u20AC\U0001F600", kLoneHigh, kLoneLow,
        nullptr, kLong.c_str()};
    return kTexts[next64() % (sizeof kTexts / sizeof kTexts[0])];
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

struct Counts {
  int16_t n16 = 0;
  int32_t n32 = 0;
  int64_t n64 = 0;
};

// Calls `run` with the `*` arguments of `d`, then the argument its
// conversion takes.
template <typename Run>
void withArguments(const FormatDirective& d, Provider& provider, Counts& counts,
                   Run run) {
  auto withConversion = [&](auto... stars) {
    switch (formatArgOf(d)) {
      case FormatArg::kNone:
        run(stars...);
        break;
      case FormatArg::kInt:
      case FormatArg::kShort:
        run(stars..., provider.nextInt());
        break;
      case FormatArg::kLongLong:
        run(stars..., provider.nextLongLong());
        break;
      case FormatArg::kPointer:
        run(stars..., provider.nextPointer());
        break;
      case FormatArg::kNarrowString:
        run(stars..., provider.nextNarrow());
        break;
      case FormatArg::kWideString:
        run(stars..., provider.nextWide());
        break;
      case FormatArg::kCount16:
        run(stars..., &counts.n16);
        break;
      case FormatArg::kCount32:
        run(stars..., &counts.n32);
        break;
      case FormatArg::kCount64:
        run(stars..., &counts.n64);
        break;
    }
  };
  if (d.widthFromArg && d.precisionFromArg) {
    const int width = provider.nextInt();
    const int precision = provider.nextInt();
    withConversion(width, precision);
  } else if (d.widthFromArg || d.precisionFromArg) {
    withConversion(provider.nextInt());
  } else {
    withConversion();
  }
}

template <typename Unit>
void checkSink(const FormatSink<Unit>& sink, int32_t result) {
  check(sink.count >= 0 && sink.count <= sink.capacity);
  if (result >= 0) {
    check(result == sink.count);
  } else {
    check(sink.count == sink.capacity);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // Capacity: small ones exercise overflow, 0 exercises the empty sink.
  const int32_t capacity = data[0] == 0xFF ? 20000 : data[0];
  ++data;
  --size;
  // The format runs to the first NUL; the bytes after it are the values.
  const std::string format(reinterpret_cast<const char*>(data),
                           strnlen(reinterpret_cast<const char*>(data), size));
  const size_t used = format.size() < size ? format.size() + 1 : size;
  Provider provider(data + used, size - used);

  std::vector<char> narrowText(static_cast<size_t>(capacity));
  std::vector<char16_t> wideText(static_cast<size_t>(capacity));
  Utf8FormatSink narrow{narrowText.data(), 0, capacity};
  Utf16FormatSink wide{wideText.data(), 0, capacity};
  Counts counts;
  bool narrowOpen = true;
  bool wideOpen = true;

  const char* p = format.c_str();
  while (*p != '\0' && (narrowOpen || wideOpen)) {
    const char* start = p;
    while (*p != '\0' && *p != '%') ++p;
    FormatDirective d{};
    if (*p == '%') p = formatParseDirective(p + 1, &d);
    const std::string piece(start, p);
    withArguments(d, provider, counts, [&](auto... args) {
      if (narrowOpen) {
        const int32_t result = narrowCore(&narrow, piece.c_str(), args...);
        checkSink(narrow, result);
        narrowOpen = result >= 0;
      }
      if (wideOpen) {
        const int32_t result = wideCore(&wide, piece.c_str(), args...);
        checkSink(wide, result);
        wideOpen = result >= 0;
      }
    });
  }
  return 0;
}
