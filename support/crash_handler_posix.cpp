// The crash handler on POSIX systems. Everything the handler needs is
// prepared at set-up (names converted, the report path in the system's
// form, the stack bounds of each attached thread) so that the handler
// itself makes only async-signal-safe calls: mkdir, open, read, write,
// close, fsync, clock_gettime, nanosleep, sigaction, raise. The backtrace is a
// walk over frame pointers, not the system's unwinder, which may take the
// loader's lock that the crashing thread can hold.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "support/crash_handler.h"
#include "support/crash_report_text.h"

namespace {

constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr int kMaxFrames = 64;
constexpr size_t kAltStackBytes = 64 * 1024;
// How long a second crashing thread waits for the report before it ends
// the process itself.
constexpr int kWaitForReportSeconds = 30;

char reportPath[4096];
alignas(16) char altStack[kAltStackBytes];
std::atomic<bool> reporting{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// The calling thread's stack, for the frame walk; empty (0, 0) on a thread
// that did not attach. Initial-exec, so the handler's read allocates
// nothing.
struct StackBounds {
  uintptr_t low;
  uintptr_t high;
};
__attribute__((tls_model("initial-exec"))) thread_local StackBounds
    threadStack = {0, 0};

void recordThreadStack() {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return;
  void* base = nullptr;
  size_t size = 0;
  if (pthread_attr_getstack(&attributes, &base, &size) == 0) {
    threadStack.low = reinterpret_cast<uintptr_t>(base);
    threadStack.high = threadStack.low + size;
  }
  pthread_attr_destroy(&attributes);
}

// Writes out what `line` holds and empties it.
void writeOut(int descriptor, CrashText* line) {
  size_t done = 0;
  while (done < line->length) {
    const ssize_t written =
        ::write(descriptor, line->text + done, line->length - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;
    done += static_cast<size_t>(written);
  }
  line->length = 0;
}

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

// The crashing instruction and frame of the interrupted context.
struct Registers {
  uintptr_t pc;
  uintptr_t fp;
};

Registers registersOf(const void* context) {
  const ucontext_t* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
  return {static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]),
          static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RBP])};
#elif defined(__aarch64__)
  return {static_cast<uintptr_t>(uc->uc_mcontext.pc),
          static_cast<uintptr_t>(uc->uc_mcontext.regs[29])};
#else
  (void)uc;
  return {0, 0};
#endif
}

void addFrame(CrashText* line, int number, uintptr_t address) {
  line->add("#");
  line->addDecimal(number);
  line->add(" [");
  line->addHex(address);
  line->add("]\n");
}

// Follows the chain of frame records {caller's frame, return address} from
// the interrupted frame. A record is read only when it lies within the
// thread's stack above the previous one, so a frame pointer that is not one
// (code built without them) ends the walk instead of faulting. The records
// lie between other frames' variables, which the address checker would
// take for overruns.
__attribute__((no_sanitize_address)) void writeBacktrace(int descriptor, const void* context) {
  CrashText line;
  const Registers registers = registersOf(context);
  if (registers.pc == 0) {
    line.add("unknown\n");
    writeOut(descriptor, &line);
    return;
  }
  addFrame(&line, 0, registers.pc);
  writeOut(descriptor, &line);
  const StackBounds stack = threadStack;
  uintptr_t fp = registers.fp;
  for (int number = 1; number < kMaxFrames; ++number) {
    if (fp < stack.low || fp % sizeof(uintptr_t) != 0 ||
        stack.high - fp < 2 * sizeof(uintptr_t)) {
      break;
    }
    const uintptr_t* record = reinterpret_cast<const uintptr_t*>(fp);
    if (record[1] == 0) break;
    addFrame(&line, number, record[1]);
    writeOut(descriptor, &line);
    if (record[0] <= fp) break;
    fp = record[0];
  }
}

// Copies /proc/self/maps, which places each address above in its file.
void writeMemoryMap(int descriptor) {
  CrashText line;
  line.add("memory map:\n");
  writeOut(descriptor, &line);
  const int maps = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (maps < 0) return;
  char block[sizeof line.text];
  size_t total = 0;
  while (total < 256 * 1024) {
    const ssize_t n = ::read(maps, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    std::memcpy(line.text, block, static_cast<size_t>(n));
    line.length = static_cast<size_t>(n);
    writeOut(descriptor, &line);
    total += static_cast<size_t>(n);
  }
  ::close(maps);
}

void writeReport(int descriptor, int signal, const siginfo_t* info,
                 const void* context) {
  CrashText line;
  line.add("Crash report\napplication: ");
  line.add(crashSettings.appName);
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
    line.addUtcTime(static_cast<long long>(now.tv_sec));
  } else {
    line.add("unknown");
  }
  if (crashSettings.supportEMail[0] != '\0') {
    line.add("\nsupport: ");
    line.add(crashSettings.supportEMail);
  }
  line.add("\nbacktrace:\n");
  writeOut(descriptor, &line);
  writeBacktrace(descriptor, context);
  writeMemoryMap(descriptor);
  line.add("end of report\n");
  writeOut(descriptor, &line);
}

// Creates the folders above the report path that are missing, top down.
void makeReportFolders() {
  char folder[sizeof reportPath];
  for (size_t i = 0; i < sizeof reportPath && reportPath[i] != '\0'; ++i) {
    if (reportPath[i] == '/' && i > 0) {
      folder[i] = '\0';
      ::mkdir(folder, 0700);  // an existing folder is fine; a failure shows
                              // when the file cannot be created
    }
    folder[i] = reportPath[i];
  }
}

// "<application>: crash report written to <file>" on standard error.
void announceReport(const char* file) {
  CrashText line;
  line.add(crashSettings.appName[0] != '\0' ? crashSettings.appName
                                              : "crash");
  line.add(": crash report written to ");
  writeOut(STDERR_FILENO, &line);
  size_t length = 0;
  while (file[length] != '\0') ++length;
  size_t done = 0;
  while (done < length) {
    const ssize_t written = ::write(STDERR_FILENO, file + done, length - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    done += static_cast<size_t>(written);
  }
  line.add("\n");
  writeOut(STDERR_FILENO, &line);
}

// Creates the report file under the first free numbered name. Never opens
// an existing file and never follows a symbolic link. Returns the
// descriptor or -1; `path` receives the file's name.
int createReportFile(char (&path)[sizeof reportPath + kCrashReportNumberUnits]) {
  int descriptor = -1;
  const bool created = crashCreateNumberedFile(
      reportPath, path, [&descriptor](const char* name) {
        do {
          descriptor = ::open(
              name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        } while (descriptor < 0 && errno == EINTR);
        if (descriptor >= 0) return CrashFileOutcome::kCreated;
        return errno == EEXIST ? CrashFileOutcome::kExists
                               : CrashFileOutcome::kFailed;
      });
  return created ? descriptor : -1;
}

// Another thread writes the report; the process ends when it re-raises its
// signal. Should that never happen, this thread ends it after a while.
void waitForReport() {
  for (int tenths = 0; tenths < kWaitForReportSeconds * 10; ++tenths) {
    struct timespec pause = {0, 100 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
}

void crashSignalHandler(int signal, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  if (reporting.exchange(true)) {
    waitForReport();
  } else if (crashSettings.activityType == kCrashActivitySaveReport &&
             reportPath[0] != '\0') {
    makeReportFolders();
    char path[sizeof reportPath + kCrashReportNumberUnits];
    const int descriptor = createReportFile(path);
    if (descriptor >= 0) {
      writeReport(descriptor, signal, info, context);
      ::fsync(descriptor);
      ::close(descriptor);
      announceReport(path);
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

// Bytes of a thread's alternate stack: ours, or the system's minimum when
// that is larger.
size_t threadAltStackBytes() {
  size_t bytes = kAltStackBytes;
#ifdef _SC_SIGSTKSZ
  const long system = sysconf(_SC_SIGSTKSZ);
  if (system > 0 && static_cast<size_t>(system) > bytes) {
    bytes = static_cast<size_t>(system);
  }
#endif
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return (bytes + page - 1) / page * page;
}

}  // namespace

void crashHandlerSetReportFilePath(const char16_t* path) {
  crashCopyUtf8(path, reportPath, sizeof reportPath);
}

bool crashHandlerInstall() {
  recordThreadStack();

  stack_t stack;
  std::memset(&stack, 0, sizeof stack);
  stack.ss_sp = altStack;
  stack.ss_size = sizeof altStack;
  bool installed = sigaltstack(&stack, nullptr) == 0;

  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_sigaction = crashSignalHandler;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  // A fault inside the handler then ends the process at once instead of
  // entering the handler again.
  sigemptyset(&action.sa_mask);
  for (int signal : kCrashSignals) sigaddset(&action.sa_mask, signal);
  for (int signal : kCrashSignals) {
    if (sigaction(signal, &action, nullptr) != 0) installed = false;
  }
  return installed;
}

// The stack is mapped with an inaccessible page below it, so a handler that
// overruns it faults instead of writing over other memory.
CrashThreadStack::CrashThreadStack() {
  recordThreadStack();
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t bytes = threadAltStackBytes() + page;
  void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (memory == MAP_FAILED) return;
  stack_t stack;
  std::memset(&stack, 0, sizeof stack);
  stack.ss_sp = static_cast<char*>(memory) + page;
  stack.ss_size = bytes - page;
  stack_t previous;
  if (mprotect(memory, page, PROT_NONE) != 0 ||
      sigaltstack(&stack, &previous) != 0) {
    munmap(memory, bytes);
    return;
  }
  memory_ = memory;
  bytes_ = bytes;
  previous_ = previous.ss_sp;
  previousBytes_ = previous.ss_size;
  previousFlags_ = previous.ss_flags;
}

CrashThreadStack::~CrashThreadStack() {
  threadStack = {0, 0};
  if (memory_ == nullptr) return;
  stack_t previous;
  std::memset(&previous, 0, sizeof previous);
  previous.ss_sp = previous_;
  previous.ss_size = previousBytes_;
  previous.ss_flags = previousFlags_ & SS_DISABLE;
  if (sigaltstack(&previous, nullptr) != 0) {
    // The thread keeps our stack; freeing it would leave the thread a stack
    // in unmapped memory.
    return;
  }
  munmap(memory_, bytes_);
}

CrashThreadStack crashHandlerThreadAttach() { return CrashThreadStack(); }
