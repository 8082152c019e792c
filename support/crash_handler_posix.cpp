// The crash handler on POSIX systems. Everything the handler needs is
// prepared at set-up (names converted, the report path in the system's
// form, the unwinder loaded) so that the handler itself makes only
// async-signal-safe calls: open, write, close, clock_gettime, sigaction,
// raise, and the backtrace routines whose library was loaded at set-up.
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "support/crash_handler.h"
#include "support/utf_convert.h"

namespace {

constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr int kMaxFrames = 64;
constexpr size_t kAltStackBytes = 64 * 1024;

char appName[256] = "?";
char supportEMail[256];
char reportPath[4096];
int32_t activityType = 0;
alignas(16) char altStack[kAltStackBytes];
std::atomic<bool> reporting{false};

// A small line builder for the handler: no allocation, no locale, no stdio.
struct Line {
  char text[512];
  size_t length = 0;

  void add(const char* s) {
    while (*s != '\0' && length < sizeof text) text[length++] = *s++;
  }
  void addDecimal(long long value) {
    char digits[24];
    int count = 0;
    unsigned long long magnitude =
        value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                  : static_cast<unsigned long long>(value);
    do {
      digits[count++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0 && length < sizeof text) text[length++] = '-';
    while (count > 0 && length < sizeof text) text[length++] = digits[--count];
  }
  void addPadded(long long value) {
    if (value < 10) add("0");
    addDecimal(value);
  }
  void addHex(uintptr_t value) {
    add("0x");
    for (int shift = static_cast<int>(sizeof value * 8) - 4; shift >= 0;
         shift -= 4) {
      const unsigned digit = static_cast<unsigned>(value >> shift) & 0xF;
      if (length < sizeof text) {
        text[length++] =
            static_cast<char>(digit < 10 ? '0' + digit : 'a' + digit - 10);
      }
    }
  }
  void writeTo(int descriptor) {
    size_t done = 0;
    while (done < length) {
      const ssize_t written = ::write(descriptor, text + done, length - done);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) break;
      done += static_cast<size_t>(written);
    }
    length = 0;
  }
};

const char* signalName(int signal) {
  switch (signal) {
    case SIGSEGV:
      return "SIGSEGV";
    case SIGBUS:
      return "SIGBUS";
    case SIGILL:
      return "SIGILL";
    case SIGFPE:
      return "SIGFPE";
    case SIGABRT:
      return "SIGABRT";
    default:
      return "?";
  }
}

// Adds the UTC calendar time of `seconds` since the epoch (days to civil
// date after H. Hinnant's algorithm, which needs no library call).
void addUtcTime(Line* line, long long seconds) {
  long long days = seconds / 86400;
  long long rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long long dayOfEra = days - era * 146097;
  const long long yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long long dayOfYear =
      dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long long monthIndex = (5 * dayOfYear + 2) / 153;
  const long long day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const long long month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  line->addDecimal(year);
  line->add("-");
  line->addPadded(month);
  line->add("-");
  line->addPadded(day);
  line->add(" ");
  line->addPadded(rest / 3600);
  line->add(":");
  line->addPadded(rest / 60 % 60);
  line->add(":");
  line->addPadded(rest % 60);
  line->add(" UTC");
}

void writeReport(int descriptor, int signal, const siginfo_t* info) {
  Line line;
  line.add("Crash report\napplication: ");
  line.add(appName);
  line.add("\nsignal: ");
  line.addDecimal(signal);
  line.add(" (");
  line.add(signalName(signal));
  line.add(")\ncode: ");
  line.addDecimal(info != nullptr ? info->si_code : 0);
  if (info != nullptr && info->si_code > 0) {
    // Raised by the system for a fault: the address is the faulting one.
    line.add("\naddress: ");
    line.addHex(reinterpret_cast<uintptr_t>(info->si_addr));
  } else if (info != nullptr) {
    // Sent by a process (kill, raise, abort): there is no faulting address.
    line.add("\naddress: none\nsent by process: ");
    line.addDecimal(info->si_pid);
  }
  line.add("\nprocess: ");
  line.addDecimal(::getpid());
  line.add("\ntime: ");
  struct timespec now;
  if (clock_gettime(CLOCK_REALTIME, &now) == 0) {
    addUtcTime(&line, static_cast<long long>(now.tv_sec));
  } else {
    line.add("unknown");
  }
  if (supportEMail[0] != '\0') {
    line.add("\nsupport: ");
    line.add(supportEMail);
  }
  line.add("\nbacktrace:\n");
  line.writeTo(descriptor);
  void* frames[kMaxFrames];
  const int count = backtrace(frames, kMaxFrames);
  backtrace_symbols_fd(frames, count, descriptor);
  line.add("end of report\n");
  line.writeTo(descriptor);
}

void crashSignalHandler(int signal, siginfo_t* info, void* /*context*/) {
  const int savedErrno = errno;
  // Only the first crashing thread writes; the others go straight on to the
  // default action.
  if (!reporting.exchange(true) && activityType == kCrashActivitySaveReport &&
      reportPath[0] != '\0') {
    const int descriptor =
        ::open(reportPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor >= 0) {
      writeReport(descriptor, signal, info);
      ::fsync(descriptor);
      ::close(descriptor);
    }
  }
  // Back to the default action; the re-raised signal stays pending while
  // the handler runs and ends the process when it returns (a fault also
  // recurs at the faulting instruction).
  struct sigaction defaultAction;
  std::memset(&defaultAction, 0, sizeof defaultAction);
  defaultAction.sa_handler = SIG_DFL;
  sigemptyset(&defaultAction.sa_mask);
  sigaction(signal, &defaultAction, nullptr);
  raise(signal);
  errno = savedErrno;
}

void toUtf8(const char16_t* text, char* out, size_t size) {
  if (text == nullptr ||
      ucs2ToUtf8Convert(out, text, size).status != UtfStatus::kOk) {
    out[0] = '\0';
  }
}

void copyNarrow(const char* text, char* out, size_t size) {
  size_t length = 0;
  if (text != nullptr) {
    while (text[length] != '\0' && length + 1 < size) {
      out[length] = text[length];
      ++length;
    }
  }
  out[length] = '\0';
}

}  // namespace

void crashHandlerSetAppName(const char16_t* name) {
  toUtf8(name, appName, sizeof appName);
}

void crashHandlerSetSupportEMail(const char* address) {
  copyNarrow(address, supportEMail, sizeof supportEMail);
}

// Every report is detailed; the mode is accepted for the interface's sake.
void crashHandlerSetFlags(int32_t /*flags*/) {}

void crashHandlerSetActivityType(int32_t activity) { activityType = activity; }

void crashHandlerSetReportFilePath(const char16_t* path) {
  toUtf8(path, reportPath, sizeof reportPath);
}

// Reports are saved locally only; the support server and page are not used
// by this handler.
void crashHandlerSetSupportServer(const char* /*host*/, int32_t /*port*/) {}
void crashHandlerSetSupportUrl(const char* /*url*/) {}

bool crashHandlerInstall() {
  // The first backtrace loads the unwinder library, which must not happen
  // inside the handler.
  void* frame[1];
  backtrace(frame, 1);

  stack_t stack;
  std::memset(&stack, 0, sizeof stack);
  stack.ss_sp = altStack;
  stack.ss_size = sizeof altStack;
  bool installed = sigaltstack(&stack, nullptr) == 0;

  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_sigaction = crashSignalHandler;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int signal : kCrashSignals) {
    if (sigaction(signal, &action, nullptr) != 0) installed = false;
  }
  return installed;
}
