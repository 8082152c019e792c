// The pieces of a crash report that every platform's handler shares: the
// settings given by the crashHandlerSet* calls, a line builder, and the
// numbered report name. Everything here is async-signal-safe: no
// allocation, no locks, no locale, no library calls.
#pragma once

#include <cstddef>
#include <cstdint>

// What the setters of crash_handler.h gave; read by the handler.
struct CrashSettings {
  char appName[256] = "?";  // UTF-8
  char supportEMail[256] = "";
  int32_t flags = 0;
  int32_t activityType = 0;
};
extern CrashSettings crashSettings;

// Copies the UTF-16 `text` into `out` (`size` bytes) as UTF-8; empty when
// it is null, not UTF-16 or does not fit.
void crashCopyUtf8(const char16_t* text, char* out, size_t size);

// One piece of report text, written out by the platform's handler. Text
// beyond the buffer is dropped.
struct CrashText {
  char text[512];
  size_t length = 0;

  void add(const char* s);
  void addDecimal(long long value);
  // At least two digits.
  void addPadded(long long value);
  // "0x" and `digits` lower-case hexadecimal digits.
  void addHex(uintptr_t value, int digits = 2 * sizeof(uintptr_t));
  // "YYYY-MM-DD hh:mm:ss UTC" of `seconds` since the epoch.
  void addUtcTime(long long seconds);
};

// Numbers tried after the plain report name: "-2" up to this.
constexpr int kMaxCrashReportNumber = 99;
// Units a report name may add to the report path, terminator included.
constexpr size_t kCrashReportNumberUnits = 4;

enum class CrashFileOutcome { kCreated, kExists, kFailed };

// Creates the report file with `create` (which makes only a new file): the
// report path `base`, or the first of "<base>-2" ... "<base>-99" that does
// not exist yet. Leaves the name tried last in `path` (room for `base` and
// kCrashReportNumberUnits more). True when a file was created.
template <typename Char, typename Create>
bool crashCreateNumberedFile(const Char* base, Char* path, Create create) {
  size_t length = 0;
  while (base[length] != 0) {
    path[length] = base[length];
    ++length;
  }
  for (int number = 1; number <= kMaxCrashReportNumber; ++number) {
    size_t end = length;
    if (number > 1) {
      path[end++] = static_cast<Char>('-');
      if (number >= 10) path[end++] = static_cast<Char>('0' + number / 10);
      path[end++] = static_cast<Char>('0' + number % 10);
    }
    path[end] = 0;
    const CrashFileOutcome outcome = create(path);
    if (outcome != CrashFileOutcome::kExists) {
      return outcome == CrashFileOutcome::kCreated;
    }
  }
  return false;
}
