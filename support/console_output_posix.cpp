// The console's character set on POSIX systems is the LC_CTYPE character
// set of the user's locale. It is read through a locale object of its own
// instead of setlocale(), so the process-wide locale (and every locale-
// dependent call elsewhere in the program) stays as it is. consoleWriteText
// looks it up once per run (the first message) and keeps the converter;
// each message is then one write(2) on descriptor 2, with its "\r\n" line
// ends written as "\n".
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "support/console_output.h"
#include "support/mutex.h"

namespace {

constexpr char kCLocaleCharset[] = "ANSI_X3.4-1968";

bool isUtf8Name(const char* charset) {
  return strcasecmp(charset, "UTF-8") == 0 || strcasecmp(charset, "UTF8") == 0;
}

bool isAsciiName(const char* charset) {
  return strcasecmp(charset, kCLocaleCharset) == 0 ||
         strcasecmp(charset, "ASCII") == 0 ||
         strcasecmp(charset, "US-ASCII") == 0;
}

// UTF-16 in the byte order of this machine, as iconv names it.
const char* hostUtf16Name() {
  const char16_t probe = 1;
  unsigned char first;
  std::memcpy(&first, &probe, 1);
  return first == 1 ? "UTF-16LE" : "UTF-16BE";
}

// Owns one iconv conversion descriptor.
class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~IconvHandle() {
    if (valid()) iconv_close(cd_);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;

  bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

size_t encodeWithIconv(iconv_t cd, const char16_t* units, size_t count,
                       char* out, size_t outSize) {
  // iconv takes a non-const input pointer but does not write through it.
  char* in = reinterpret_cast<char*>(const_cast<char16_t*>(units));
  size_t inLeft = count * sizeof(char16_t);
  char* outPos = out;
  size_t outLeft = outSize;

  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &outPos, &outLeft) != static_cast<size_t>(-1)) {
      break;
    }
    if (errno == E2BIG || outLeft == 0) break;
    // EILSEQ: a character the set lacks or an unpaired surrogate; EINVAL: a
    // high surrogate at the very end. Either way one character becomes '?'.
    const size_t at = (count * sizeof(char16_t) - inLeft) / sizeof(char16_t);
    size_t skip = 1;
    if (at + 1 < count && isHighSurrogate(units[at]) &&
        isLowSurrogate(units[at + 1])) {
      skip = 2;
    }
    if (skip * sizeof(char16_t) > inLeft) skip = inLeft / sizeof(char16_t);
    in += skip * sizeof(char16_t);
    inLeft -= skip * sizeof(char16_t);
    *outPos++ = kConsoleReplacement;
    --outLeft;
  }
  // Return a stateful set to its initial shift state.
  iconv(cd, nullptr, nullptr, &outPos, &outLeft);
  return static_cast<size_t>(outPos - out);
}

}  // namespace

size_t consoleEncode(const char* charset, const char16_t* units, size_t count,
                     char* out, size_t outSize) {
  if (isUtf8Name(charset)) return consoleEncodeUtf8(units, count, out, outSize);
  if (!isAsciiName(charset)) {
    const IconvHandle converter(charset, hostUtf16Name());
    if (converter.valid()) {
      return encodeWithIconv(converter.get(), units, count, out, outSize);
    }
  }
  return consoleEncodeAscii(units, count, out, outSize);
}

void consoleCharset(char* name, size_t nameSize) {
  const locale_t locale =
      newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  const char* charset = locale != static_cast<locale_t>(0)
                            ? nl_langinfo_l(CODESET, locale)
                            : kCLocaleCharset;
  std::snprintf(name, nameSize, "%s", charset);
  if (locale != static_cast<locale_t>(0)) freelocale(locale);
}

namespace {

// The character set and converter of consoleWriteText, looked up on the
// first message (or after consoleCharsetReload) and kept for the run. The
// iconv descriptor carries conversion state, so every use holds the mutex.
class ConsoleEncoder {
 public:
  // Encodes as consoleEncode does for the cached character set.
  size_t encode(const char16_t* units, size_t count, char* out,
                size_t outSize) {
    const MutexLock lock(&mutex_);
    if (!loaded_) load();
    switch (kind_) {
      case Kind::kUtf8:
        return consoleEncodeUtf8(units, count, out, outSize);
      case Kind::kIconv:
        return encodeWithIconv(cd_, units, count, out, outSize);
      case Kind::kAscii:
        break;
    }
    return consoleEncodeAscii(units, count, out, outSize);
  }

  void reload() {
    const MutexLock lock(&mutex_);
    loaded_ = false;
  }

 private:
  enum class Kind { kUtf8, kAscii, kIconv };

  void load() REQUIRES(mutex_) {
    closeConverter();
    char charset[64];
    consoleCharset(charset, sizeof charset);
    kind_ = Kind::kAscii;
    if (isUtf8Name(charset)) {
      kind_ = Kind::kUtf8;
    } else if (!isAsciiName(charset)) {
      cd_ = iconv_open(charset, hostUtf16Name());
      if (cd_ != kNoConverter) kind_ = Kind::kIconv;
    }
    loaded_ = true;
  }

  void closeConverter() REQUIRES(mutex_) {
    if (cd_ != kNoConverter) iconv_close(cd_);
    cd_ = kNoConverter;
  }

  static inline const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

  Mutex mutex_;
  bool loaded_ GUARDED_BY(mutex_) = false;
  Kind kind_ GUARDED_BY(mutex_) = Kind::kAscii;
  iconv_t cd_ GUARDED_BY(mutex_) = kNoConverter;
};

// Never destroyed: a thread may write a message while the process exits.
ConsoleEncoder& consoleEncoder() {
  static ConsoleEncoder* const encoder = new ConsoleEncoder;
  return *encoder;
}

// Encodes the message with each "\r\n" as "\n": the text between line
// ends is encoded piece by piece, each piece starting at its '\n'.
size_t encodeMessage(const char16_t* units, size_t count, char* out,
                     size_t outSize) {
  ConsoleEncoder& encoder = consoleEncoder();
  size_t written = 0;
  size_t start = 0;
  for (size_t i = 0; i + 1 < count; ++i) {
    if (units[i] == u'\r' && units[i + 1] == u'\n') {
      written += encoder.encode(units + start, i - start, out + written,
                                outSize - written);
      start = ++i;
    }
  }
  return written + encoder.encode(units + start, count - start, out + written,
                                  outSize - written);
}

// Writes all `length` bytes to `descriptor` unless it stops taking them
// (error other than EINTR, or no progress). Returns the bytes written.
size_t writeAll(int descriptor, const char* bytes, size_t length) {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::write(descriptor, bytes + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

}  // namespace

void consoleCharsetReload() { consoleEncoder().reload(); }

namespace {

int32_t writeText(int descriptor, const char16_t* units, size_t count) {
  char bytes[kConsoleBytes];
  const size_t length = encodeMessage(units, count, bytes, sizeof bytes);
  const int savedErrno = errno;
  const size_t written = writeAll(descriptor, bytes, length);
  errno = savedErrno;
  return static_cast<int32_t>(written);
}

}  // namespace

int32_t consoleWriteText(const char16_t* units, size_t count) {
  return writeText(2, units, count);
}

int32_t consoleWriteOutputText(const char16_t* units, size_t count) {
  return writeText(1, units, count);
}
