// The console's character set on Windows is the console output code page
// (GetConsoleOutputCP), or the ANSI code page when the process has no
// console. Its "name" for the portable interface is "UTF-8" for code page
// 65001 and "CP<number>" for every other one; consoleEncode reads such a
// name back. consoleWriteText looks the code page up once per run (the first
// message) and writes each message with one WriteFile on the standard error
// handle, bytes as they are: "\r\n" stays "\r\n".
#include <windows.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "support/console_output.h"
#include "support/mutex.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t");

namespace {

constexpr UINT kUtf8CodePage = 65001;
// Code pages from here up take no default character (the ISO-2022 family,
// UTF-7 and others).
constexpr UINT kFirstCodePageWithoutDefault = 50000;

char foldAscii(char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }

bool equalIgnoringCase(const char* a, const char* b) {
  while (*a != '\0' && foldAscii(*a) == foldAscii(*b)) {
    ++a;
    ++b;
  }
  return *a == '\0' && *b == '\0';
}

// Names other systems give common character sets, so that a name taken
// from elsewhere (or a portable test) means the same here.
struct NamedCodePage {
  const char* name;
  UINT codePage;
};
constexpr NamedCodePage kNamedCodePages[] = {
    {"UTF-8", kUtf8CodePage},  {"UTF8", kUtf8CodePage},
    {"ISO-8859-1", 28591},     {"ISO-8859-2", 28592},
    {"ISO-8859-5", 28595},     {"ISO-8859-7", 28597},
    {"ISO-8859-15", 28605},    {"KOI8-R", 20866},
    {"SHIFT_JIS", 932},        {"EUC-JP", 20932},
    {"GB18030", 54936},        {"GBK", 936},
    {"BIG5", 950},             {"EUC-KR", 51949},
    {"WINDOWS-1250", 1250},    {"WINDOWS-1251", 1251},
    {"WINDOWS-1252", 1252},
};

// The code page of a charset name: "CP<n>", or a name of kNamedCodePages;
// 0 for any other name (ASCII then).
UINT codePageOfName(const char* charset) {
  for (const NamedCodePage& named : kNamedCodePages) {
    if (equalIgnoringCase(charset, named.name)) return named.codePage;
  }
  if (foldAscii(charset[0]) != 'C' || foldAscii(charset[1]) != 'P') return 0;
  const char* p = charset + 2;
  uint32_t number = 0;
  if (*p == '\0') return 0;
  for (; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9' || number > 0xFFFF) return 0;
    number = number * 10 + static_cast<uint32_t>(*p - '0');
  }
  return number <= 0xFFFF ? static_cast<UINT>(number) : 0;
}

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// WideCharToMultiByte of `count` units; 0 when it fails or does not fit.
// Where the code page takes a default character, what it lacks becomes '?'
// and is not replaced by a look-alike (no best fit).
size_t convert(UINT codePage, const char16_t* units, size_t count, char* out,
               size_t outSize) {
  if (count == 0 || count > 0x7FFFFFFF) return 0;
  const int outBytes =
      outSize > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(outSize);
  const bool takesDefault = codePage < kFirstCodePageWithoutDefault;
  const auto run = [&](DWORD flags) {
    return WideCharToMultiByte(
        codePage, flags, reinterpret_cast<const wchar_t*>(units),
        static_cast<int>(count), outBytes > 0 ? out : nullptr, outBytes,
        takesDefault ? "?" : nullptr, nullptr);
  };
  int written = run(takesDefault ? WC_NO_BEST_FIT_CHARS : 0);
  if (written == 0 && takesDefault && GetLastError() == ERROR_INVALID_FLAGS) {
    written = run(0);
  }
  return written > 0 ? static_cast<size_t>(written) : 0;
}

bool isPairAt(const char16_t* units, size_t count, size_t i) {
  return i + 1 < count && isHighSurrogate(units[i]) &&
         isLowSurrogate(units[i + 1]);
}

// Encodes `count` units that hold no surrogate pair, whole or, when that
// does not fit, unit by unit up to the first that does not fit. Sets
// *complete when all were stored.
size_t encodeRun(UINT codePage, const char16_t* units, size_t count, char* out,
                 size_t outSize, bool* complete) {
  const size_t whole = convert(codePage, units, count, out, outSize);
  *complete = whole > 0;
  if (*complete) return whole;
  size_t written = 0;
  for (size_t i = 0; i < count; ++i) {
    char bytes[16];
    size_t length = convert(codePage, units + i, 1, bytes, sizeof bytes);
    if (length == 0) {
      bytes[0] = kConsoleReplacement;
      length = 1;
    }
    if (outSize - written < length) return written;
    for (size_t b = 0; b < length; ++b) out[written++] = bytes[b];
  }
  *complete = true;
  return written;
}

// Encodes in `codePage`; text that does not fit is cut before the first
// character that does not fit whole. A character outside the BMP is one
// '?' where the code page cannot show it (every page that takes a default
// character). A code page the system does not know gives ASCII.
size_t encodeCodePage(UINT codePage, const char16_t* units, size_t count,
                      char* out, size_t outSize) {
  if (!IsValidCodePage(codePage)) {
    return consoleEncodeAscii(units, count, out, outSize);
  }
  size_t written = 0;
  size_t i = 0;
  while (i < count) {
    size_t end = i;
    while (end < count && !isPairAt(units, count, end)) ++end;
    if (end > i) {
      bool complete = false;
      written += encodeRun(codePage, units + i, end - i, out + written,
                           outSize - written, &complete);
      if (!complete) break;
      i = end;
      continue;
    }
    char bytes[16];
    size_t length = codePage < kFirstCodePageWithoutDefault
                        ? 0
                        : convert(codePage, units + i, 2, bytes, sizeof bytes);
    if (length == 0) {
      bytes[0] = kConsoleReplacement;
      length = 1;
    }
    if (outSize - written < length) break;
    for (size_t b = 0; b < length; ++b) out[written++] = bytes[b];
    i += 2;
  }
  return written;
}

size_t encodeIn(UINT codePage, const char16_t* units, size_t count, char* out,
                size_t outSize) {
  if (codePage == kUtf8CodePage) {
    return consoleEncodeUtf8(units, count, out, outSize);
  }
  if (codePage == 0) return consoleEncodeAscii(units, count, out, outSize);
  return encodeCodePage(codePage, units, count, out, outSize);
}

UINT consoleCodePage() {
  const UINT console = GetConsoleOutputCP();
  return console != 0 ? console : GetACP();
}

// The code page of consoleWriteText, looked up on the first message (or
// after consoleCharsetReload) and kept for the run.
class ConsoleCodePage {
 public:
  UINT get() {
    const MutexLock lock(&mutex_);
    if (!loaded_) {
      codePage_ = consoleCodePage();
      loaded_ = true;
    }
    return codePage_;
  }

  void reload() {
    const MutexLock lock(&mutex_);
    loaded_ = false;
  }

 private:
  Mutex mutex_;
  bool loaded_ GUARDED_BY(mutex_) = false;
  UINT codePage_ GUARDED_BY(mutex_) = 0;
};

// Never destroyed: a thread may write a message while the process exits.
ConsoleCodePage& cachedCodePage() {
  static ConsoleCodePage* const codePage = new ConsoleCodePage;
  return *codePage;
}

// Writes all `length` bytes to the standard handle `which` unless it stops
// taking them. Returns the bytes written.
size_t writeAll(DWORD which, const char* bytes, size_t length) {
  const HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return 0;
  size_t done = 0;
  while (done < length) {
    const DWORD chunk = length - done > 0x7FFFFFFF
                            ? 0x7FFFFFFF
                            : static_cast<DWORD>(length - done);
    DWORD written = 0;
    if (!WriteFile(handle, bytes + done, chunk, &written, nullptr) ||
        written == 0) {
      break;
    }
    done += written;
  }
  return done;
}

}  // namespace

size_t consoleEncode(const char* charset, const char16_t* units, size_t count,
                     char* out, size_t outSize) {
  return encodeIn(codePageOfName(charset), units, count, out, outSize);
}

void consoleCharset(char* name, size_t nameSize) {
  const UINT codePage = consoleCodePage();
  if (codePage == kUtf8CodePage) {
    std::snprintf(name, nameSize, "UTF-8");
  } else {
    std::snprintf(name, nameSize, "CP%u", static_cast<unsigned>(codePage));
  }
}

void consoleCharsetReload() { cachedCodePage().reload(); }

namespace {

int32_t writeText(DWORD which, const char16_t* units, size_t count) {
  char bytes[kConsoleBytes];
  const size_t length =
      encodeIn(cachedCodePage().get(), units, count, bytes, sizeof bytes);
  const int savedErrno = errno;
  const DWORD savedError = GetLastError();
  const size_t written = writeAll(which, bytes, length);
  SetLastError(savedError);
  errno = savedErrno;
  return static_cast<int32_t>(written);
}

}  // namespace

int32_t consoleWriteText(const char16_t* units, size_t count) {
  return writeText(STD_ERROR_HANDLE, units, count);
}

int32_t consoleWriteOutputText(const char16_t* units, size_t count) {
  return writeText(STD_OUTPUT_HANDLE, units, count);
}
