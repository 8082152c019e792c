#include "support/format_core.h"

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "support/format_digits.h"
#include "support/format_directive.h"
#include "support/format_sink.h"
#include "support/utf_convert.h"

namespace {

// Units of the scratch area that holds a converted string argument.
constexpr int32_t kScratchUnits = 8192;
// The longest converted or widened string that a directive uses.
constexpr int32_t kMaxScratchText = kScratchUnits - 1;
// Sign or prefix (2 units at most), the digits and their terminator.
constexpr int32_t kIntegerUnits = 2 + kFormatMaxDigits + 1;

template <typename Unit>
constexpr bool kWide = std::is_same_v<Unit, char16_t>;

template <typename Unit>
struct NullText {
  static constexpr Unit kText[] = {'(', 'n', 'u', 'l', 'l', ')'};
  static constexpr int32_t kLength = 6;
};

// Byte to unit without sign extension: narrow text is never reinterpreted
// through a code page, a byte 0xE9 becomes the unit 0x00E9.
template <typename Unit, typename Source>
inline Unit toUnit(Source source) {
  if constexpr (std::is_same_v<Source, char>) {
    return static_cast<Unit>(static_cast<unsigned char>(source));
  } else {
    return static_cast<Unit>(source);
  }
}

// The caller's argument list, read at exactly the widths the directives
// name. Owns a copy so the caller's va_list stays usable.
class ArgumentList {
 public:
  explicit ArgumentList(va_list args) { va_copy(args_, args); }
  ~ArgumentList() { va_end(args_); }
  ArgumentList(const ArgumentList&) = delete;
  ArgumentList& operator=(const ArgumentList&) = delete;

  int32_t nextInt() { return va_arg(args_, int); }
  int64_t nextLongLong() { return va_arg(args_, long long); }
  const void* nextPointer() { return va_arg(args_, const void*); }
  const char* nextNarrowString() { return va_arg(args_, const char*); }
  const char16_t* nextWideString() { return va_arg(args_, const char16_t*); }
  void* nextCountPointer() { return va_arg(args_, void*); }

  // An integer for d and i, sign-extended from the width `kind` names.
  int64_t nextSigned(FormatArg kind) {
    switch (kind) {
      case FormatArg::kShort:
        return static_cast<int16_t>(nextInt());
      case FormatArg::kLongLong:
        return nextLongLong();
      default:
        return nextInt();
    }
  }

  // An integer for u o x X b, zero-extended from the width `kind` names.
  uint64_t nextUnsigned(FormatArg kind) {
    switch (kind) {
      case FormatArg::kShort:
        return static_cast<uint16_t>(nextInt());
      case FormatArg::kLongLong:
        return static_cast<uint64_t>(nextLongLong());
      default:
        return static_cast<uint32_t>(nextInt());
    }
  }

 private:
  va_list args_;
};

// Stores units into the sink while there is room. Each call returns false
// as soon as a unit does not fit; what fit stays stored.
template <typename Unit>
class SinkWriter {
 public:
  explicit SinkWriter(FormatSink<Unit>* sink) : sink_(*sink) {}

  int32_t count() const { return sink_.count; }

  bool fill(Unit unit, int64_t n) {
    const int64_t k = fitting(n);
    Unit* out = sink_.text + sink_.count;
    for (int64_t i = 0; i < k; ++i) out[i] = unit;
    sink_.count += static_cast<int32_t>(k);
    return k == n;
  }

  template <typename Source>
  bool copy(const Source* source, int64_t n) {
    const int64_t k = fitting(n);
    if (k <= 0) return k == n;
    Unit* out = sink_.text + sink_.count;
    if constexpr (sizeof(Source) == sizeof(Unit)) {
      std::memcpy(out, source, static_cast<size_t>(k) * sizeof(Unit));
    } else {
      for (int64_t i = 0; i < k; ++i) out[i] = toUnit<Unit>(source[i]);
    }
    sink_.count += static_cast<int32_t>(k);
    return k == n;
  }

 private:
  // How many of n units still fit.
  int64_t fitting(int64_t n) const {
    int64_t room = static_cast<int64_t>(sink_.capacity) - sink_.count;
    if (room < 0) room = 0;
    return n < room ? n : room;
  }

  FormatSink<Unit>& sink_;
};

// Writes one rendered directive with its fill: `head` (a sign or 0x prefix
// that stays in front of zero fill), `zeros` leading zeros of the digits,
// then `body`. Sets *total to the units the directive adds in all.
template <typename Unit, typename Body>
bool emitField(SinkWriter<Unit>& out, const FormatDirective& d,
               const Unit* head, int32_t headLength, int64_t zeros,
               const Body* body, int64_t bodyLength, int64_t* total) {
  const int64_t length = headLength + zeros + bodyLength;
  const int64_t pad = d.width > length ? d.width - length : 0;
  *total = length + pad;
  const bool left = (d.flags & kFormatLeft) != 0;
  if (!left && pad > 0) {
    if (d.flags & kFormatZero) {
      zeros += pad;
    } else if (!out.fill(' ', pad)) {
      return false;
    }
  }
  if (!out.copy(head, headLength)) return false;
  if (!out.fill('0', zeros)) return false;
  if (!out.copy(body, bodyLength)) return false;
  return !(left && pad > 0) || out.fill(' ', pad);
}

template <typename Unit>
bool renderInteger(const FormatDirective& directive, FormatArg kind,
                   ArgumentList& args, SinkWriter<Unit>& out, int64_t* total) {
  FormatDirective d = directive;
  Unit text[kIntegerUnits];
  int32_t n = 0;
  int32_t headLength = 0;  // units that zero fill goes behind
  uint64_t magnitude = 0;
  uint32_t base = 10;
  bool upperCase = false;

  switch (d.conversion) {
    case 'd':
    case 'i': {
      d.flags |= kFormatSigned;
      const int64_t value = args.nextSigned(kind);
      if (value < 0) {
        text[n++] = '-';
        magnitude = 0 - static_cast<uint64_t>(value);
      } else {
        magnitude = static_cast<uint64_t>(value);
        if (d.flags & kFormatPlus) {
          text[n++] = '+';
        } else if (d.flags & kFormatSpace) {
          text[n++] = ' ';
        }
      }
      headLength = n;
      break;
    }
    case 'o':
      base = 8;
      magnitude = args.nextUnsigned(kind);
      if (d.flags & kFormatAlternate) text[n++] = '0';
      break;
    case 'x':
    case 'X':
      base = 16;
      upperCase = d.conversion == 'X';
      magnitude = args.nextUnsigned(kind);
      if ((d.flags & kFormatAlternate) && magnitude != 0) {
        text[n++] = '0';
        text[n++] = static_cast<Unit>(d.conversion);
        headLength = n;
      }
      break;
    case 'p':
      base = 16;
      magnitude = reinterpret_cast<uintptr_t>(args.nextPointer());
      if (magnitude != 0) {
        text[n++] = '0';
        text[n++] = 'x';
        headLength = n;
      }
      break;
    case 'b':
      base = 2;
      magnitude = args.nextUnsigned(kind);
      break;
    default:  // 'u'
      magnitude = args.nextUnsigned(kind);
      break;
  }

  int64_t minDigits = 1;
  if (d.flags & kFormatPrecisionGiven) {
    minDigits = d.precision;
    if (d.conversion != 'p') d.flags &= ~kFormatZero;
  }
  // No magnitude needs more than kFormatMaxDigits digits, so a larger
  // precision is leading zeros that need not pass through the scratch text.
  int64_t extraZeros = 0;
  if (minDigits > kFormatMaxDigits) {
    extraZeros = minDigits - kFormatMaxDigits;
    minDigits = kFormatMaxDigits;
  }
  const Unit* end = format_detail::formatDigits(
      text + n, magnitude, base, static_cast<int32_t>(minDigits), upperCase);
  return emitField(out, d, text, headLength, extraZeros, text + headLength,
                   end - (text + headLength), total);
}

int64_t cutToPrecision(const FormatDirective& d, int64_t length) {
  if ((d.flags & kFormatPrecisionGiven) && d.precision < length) {
    return d.precision;
  }
  return length;
}

// Length of a string that may end only after `limit` units.
int64_t boundedLength(const char16_t* text, int64_t limit) {
  int64_t n = 0;
  while (n < limit && text[n] != 0) ++n;
  return n;
}

int64_t boundedLength(const char* text, int64_t limit) {
  return static_cast<int64_t>(strnlen(text, static_cast<size_t>(limit)));
}

int64_t precisionLimit(const FormatDirective& d, int64_t limit) {
  return (d.flags & kFormatPrecisionGiven) && d.precision < limit ? d.precision
                                                                  : limit;
}

// The length of a converted string kept from a scratch conversion.
int64_t convertedLength(const UtfCopyResult& result) {
  int64_t length = static_cast<int64_t>(result.written);
  if (result.status == UtfStatus::kOk) --length;  // the terminator
  return length < kMaxScratchText ? length : kMaxScratchText;
}

template <typename Unit>
bool renderString(const FormatDirective& d, FormatArg kind, ArgumentList& args,
                  SinkWriter<Unit>& out, int64_t* total) {
  const Unit* none = nullptr;
  if (kind == FormatArg::kWideString) {
    const char16_t* text = args.nextWideString();
    if (text == nullptr) {
      return emitField(out, d, none, 0, 0, NullText<Unit>::kText,
                       cutToPrecision(d, NullText<Unit>::kLength), total);
    }
    if constexpr (kWide<Unit>) {
      const int64_t length = boundedLength(text, precisionLimit(d, INT64_MAX));
      return emitField(out, d, none, 0, 0, text, length, total);
    } else {
      char scratch[kScratchUnits];
      const UtfCopyResult result =
          utf16ToUtf8Convert(scratch, text, kScratchUnits);
      return emitField(out, d, none, 0, 0, scratch,
                       cutToPrecision(d, convertedLength(result)), total);
    }
  }

  const char* text = args.nextNarrowString();
  if (text == nullptr) {
    return emitField(out, d, none, 0, 0, NullText<Unit>::kText,
                     cutToPrecision(d, NullText<Unit>::kLength), total);
  }
  if constexpr (kWide<Unit>) {
    if (d.size == FormatSize::kUtf8) {
      char16_t scratch[kScratchUnits];
      const UtfCopyResult result =
          utf8ToUtf16Convert(scratch, text, kScratchUnits);
      return emitField(out, d, none, 0, 0, scratch,
                       cutToPrecision(d, convertedLength(result)), total);
    }
    // Widened byte by byte straight into the sink: the same units a copy
    // through the scratch area would give, without the copy.
    const int64_t length =
        boundedLength(text, precisionLimit(d, kMaxScratchText));
    return emitField(out, d, none, 0, 0, text, length, total);
  } else {
    const int64_t length = boundedLength(text, precisionLimit(d, INT64_MAX));
    return emitField(out, d, none, 0, 0, text, length, total);
  }
}

void storeCount(FormatArg kind, void* target, int32_t count) {
  switch (kind) {
    case FormatArg::kCount16:
      *static_cast<int16_t*>(target) = static_cast<int16_t>(count);
      break;
    case FormatArg::kCount64:
      *static_cast<int64_t*>(target) = count;
      break;
    default:
      *static_cast<int32_t*>(target) = count;
      break;
  }
}

// Reads the `*` arguments in order and applies the flag rules that depend on
// them: a negative width left-justifies, a negative precision is none, '+'
// overrides ' ' and '-' overrides '0'.
void resolveDirective(FormatDirective* d, ArgumentList& args) {
  if (d->widthFromArg) {
    const int32_t width = args.nextInt();
    if (width < 0) {
      d->flags |= kFormatLeft;
      d->width = width == INT32_MIN ? INT32_MAX : -width;
    } else {
      d->width = width;
    }
  }
  if (d->precisionFromArg) {
    const int32_t precision = args.nextInt();
    if (precision >= 0) {
      d->flags |= kFormatPrecisionGiven;
      d->precision = precision;
    }
  }
  if (d->flags & kFormatPlus) d->flags &= ~kFormatSpace;
  if (d->flags & kFormatLeft) d->flags &= ~kFormatZero;
}

// A negative engine result for a sink that filled up while `produced` units
// were due.
int32_t overflowResult(int64_t produced) {
  if (produced <= 0) return -1;
  return produced > INT32_MAX ? -INT32_MAX : -static_cast<int32_t>(produced);
}

template <typename Unit>
int32_t formatCore(const char* format, va_list va, FormatSink<Unit>* sink) {
  if (format == nullptr) return sink->count;
  ArgumentList args(va);
  SinkWriter<Unit> out(sink);
  const char* p = format;

  for (;;) {
    const char* run = p;
    while (*p != '\0' && *p != '%') ++p;
    if (p != run && !out.copy(run, p - run)) {
      return overflowResult(static_cast<int64_t>(out.count()) + 1);
    }
    if (*p == '\0') break;

    FormatDirective d;
    p = formatParseDirective(p + 1, &d);
    resolveDirective(&d, args);
    if (d.conversion == '\0') break;

    const int64_t before = out.count();
    const FormatArg kind = formatArgOf(d);
    int64_t total = 1;
    bool stored = true;
    switch (d.conversion) {
      case 'd':
      case 'i':
      case 'u':
      case 'o':
      case 'x':
      case 'X':
      case 'p':
      case 'b':
        stored = renderInteger(d, kind, args, out, &total);
        break;
      case 's':
        stored = renderString(d, kind, args, out, &total);
        break;
      case 'c': {
        const Unit unit =
            kWide<Unit>
                ? static_cast<Unit>(static_cast<uint16_t>(args.nextInt()))
                : static_cast<Unit>(static_cast<uint8_t>(args.nextInt()));
        const Unit* none = nullptr;
        stored = emitField(out, d, none, 0, 0, &unit, 1, &total);
        break;
      }
      case 'n':
        storeCount(kind, args.nextCountPointer(), out.count());
        break;
      case 'r':
        break;
      default: {
        const char letter = d.conversion;
        stored = out.copy(&letter, 1);
        break;
      }
    }
    if (!stored) return overflowResult(before + total);
  }
  return out.count();
}

}  // namespace

int32_t utf16FormatCore(const char* format, va_list args,
                        Utf16FormatSink* sink) {
  return formatCore(format, args, sink);
}

int32_t utf8FormatCore(const char* format, va_list args, Utf8FormatSink* sink) {
  return formatCore(format, args, sink);
}
