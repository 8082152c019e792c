// The crash reporter under crashReportingSetup: it is told the application
// name, the contact data, the report mode, what to do with a report and
// where to save it, and is then installed. On POSIX systems it is a handler
// of our own for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT that runs on an
// alternate stack, creates the report's missing folders (mode 0700),
// writes a text report (application, signal, faulting address, time,
// backtrace, memory map) to the report path, prints one line naming the
// report file on standard error, all with async-signal-safe calls only, and
// re-raises the signal with its default action, so the process still ends
// as the signal says.
//
// On Windows it is an unhandled-exception filter (and a SIGABRT handler for
// abort): the text report gives the exception code and address instead of
// a signal and backtrace, a minidump "<report>.dmp" goes beside it, and the
// process then ends with the exception code as its exit status.
// crashHandlerThreadAttach has nothing to do there; attached() is true.
//
// One report per process: the first thread to crash writes it; a thread
// that crashes meanwhile waits for the process to end. The report file is
// always new: when the report path exists (or is a symbolic link, which is
// never followed) "-2", "-3", ... up to "-99" is appended.
//
// The backtrace follows frame pointers, each checked to lie within the
// crashing thread's stack and to grow; it is complete only for code built
// with frame pointers, on threads that called crashHandlerThreadAttach (and
// the thread that installed the handler). Other threads report the crashing
// instruction only.
//
// Thread-safety: the setters and crashHandlerInstall are called on one
// thread before the handler can run (at start, before other threads exist).
// crashHandlerThreadAttach is called on each thread for itself.
#pragma once

#include <cstddef>
#include <cstdint>

// Report modes and activities, numbered as the Windows reporter numbers
// them.
constexpr int32_t kCrashFlagDetailedMode = 1;
constexpr int32_t kCrashActivitySaveReport = 2;

void crashHandlerSetAppName(const char16_t* name);
void crashHandlerSetSupportEMail(const char* address);
// kCrashFlagDetailedMode: the Windows minidump adds data segments and
// referenced memory; the POSIX report is always detailed.
void crashHandlerSetFlags(int32_t flags);
void crashHandlerSetActivityType(int32_t activity);
// The report file; without it (or without the save activity) a crash
// writes nothing.
void crashHandlerSetReportFilePath(const char16_t* path);
// Installs the handler. Returns false when the system refused it.
bool crashHandlerInstall();

// A thread's own alternate signal stack, installed by
// crashHandlerThreadAttach and removed (the thread's previous one restored,
// the memory freed) by the destructor. Without one, a thread that overflows
// its stack cannot run the handler and ends without a report.
class CrashThreadStack {
 public:
  ~CrashThreadStack();
  CrashThreadStack(const CrashThreadStack&) = delete;
  CrashThreadStack& operator=(const CrashThreadStack&) = delete;

  // False when the system refused the stack; the thread then runs as if it
  // had not attached.
  bool attached() const { return memory_ != nullptr; }

 private:
  friend CrashThreadStack crashHandlerThreadAttach();
  CrashThreadStack();

  void* memory_ = nullptr;
  size_t bytes_ = 0;
  // The thread's alternate stack before this one.
  void* previous_ = nullptr;
  size_t previousBytes_ = 0;
  int previousFlags_ = 0;
};

// Prepares the calling thread for the crash handler: gives it an alternate
// signal stack of its own and tells the handler the bounds of its stack
// (for the backtrace). Every thread the program starts calls it first thing
// and keeps the result until the thread function returns:
//   const CrashThreadStack crashStack = crashHandlerThreadAttach();
// The thread that calls crashHandlerInstall needs none.
// REQUIRES: the result is destroyed on the thread that made it.
[[nodiscard]] CrashThreadStack crashHandlerThreadAttach();
