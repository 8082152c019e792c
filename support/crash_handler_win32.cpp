// The crash handler on Windows: an unhandled-exception filter, plus a
// SIGABRT handler for the runtime's abort (std::terminate included), which
// raises no exception. The report is a short text file at the report path
// (application, exception code, address, process, thread, time) and a
// minidump beside it ("<report>.dmp") written with dbghelp's
// MiniDumpWriteDump. dbghelp is loaded at installation, never during a
// crash, and the dump is written from a thread of its own, since the
// crashing thread may have no stack left (stack overflow).
//
// After the report the process ends with the exception code as its exit
// status (the filter returns EXCEPTION_EXECUTE_HANDLER; no system dialog or
// debugger is started); an abort ends as the runtime's abort does. Other
// threads run on meanwhile: one that ends the process (main returning)
// first waits for the report, then ends it with the crash's status.
#include <windows.h>
#include <dbghelp.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "support/crash_handler.h"
#include "support/crash_report_text.h"
#include "support/file_utils.h"
#include "support/utf_convert.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t");

namespace {

// How long a second crashing thread waits for the first one's report, and
// the first one for its writer thread.
constexpr DWORD kWaitForReportMs = 30 * 1000;
// Room after the report path for "-99" and ".dmp".
constexpr size_t kSuffixUnits = 8;

wchar_t reportPath[kPathUnits];
volatile LONG reporting = 0;
// Set once the report is written or given up; created at installation.
HANDLE reportDone = nullptr;
// The exit status of a crashed process: the exception code, or the
// runtime's abort status.
constexpr UINT kAbortStatus = 3;
volatile LONG crashStatus = 0;

using MiniDumpWriteDumpFunction = BOOL(WINAPI*)(
    HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
    PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);
MiniDumpWriteDumpFunction miniDumpWriteDump = nullptr;

// Writes out what `line` holds and empties it.
void writeOut(HANDLE file, CrashText* line) {
  size_t done = 0;
  while (done < line->length) {
    DWORD written = 0;
    if (!WriteFile(file, line->text + done,
                   static_cast<DWORD>(line->length - done), &written,
                   nullptr) ||
        written == 0) {
      break;
    }
    done += written;
  }
  line->length = 0;
}

const char* exceptionName(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
      return "EXCEPTION_ACCESS_VIOLATION";
    case EXCEPTION_STACK_OVERFLOW:
      return "EXCEPTION_STACK_OVERFLOW";
    case EXCEPTION_ILLEGAL_INSTRUCTION:
      return "EXCEPTION_ILLEGAL_INSTRUCTION";
    case EXCEPTION_PRIV_INSTRUCTION:
      return "EXCEPTION_PRIV_INSTRUCTION";
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
      return "EXCEPTION_INT_DIVIDE_BY_ZERO";
    case EXCEPTION_INT_OVERFLOW:
      return "EXCEPTION_INT_OVERFLOW";
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
      return "EXCEPTION_FLT_DIVIDE_BY_ZERO";
    case EXCEPTION_FLT_INVALID_OPERATION:
      return "EXCEPTION_FLT_INVALID_OPERATION";
    case EXCEPTION_IN_PAGE_ERROR:
      return "EXCEPTION_IN_PAGE_ERROR";
    case EXCEPTION_DATATYPE_MISALIGNMENT:
      return "EXCEPTION_DATATYPE_MISALIGNMENT";
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
      return "EXCEPTION_ARRAY_BOUNDS_EXCEEDED";
    case EXCEPTION_BREAKPOINT:
      return "EXCEPTION_BREAKPOINT";
    case EXCEPTION_NONCONTINUABLE_EXCEPTION:
      return "EXCEPTION_NONCONTINUABLE_EXCEPTION";
    case 0xC0000374:
      return "STATUS_HEAP_CORRUPTION";
    case 0xC0000409:
      return "STATUS_STACK_BUFFER_OVERRUN";
    default:
      return "?";
  }
}

// The system time in seconds since the epoch (FILETIME counts 100 ns from
// 1601).
long long utcSeconds() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const unsigned long long ticks =
      static_cast<unsigned long long>(now.dwHighDateTime) << 32 |
      now.dwLowDateTime;
  return static_cast<long long>(ticks / 10000000ULL) - 11644473600LL;
}

// What the report says about the cause: the exception record, or SIGABRT
// when there is none.
void writeReport(HANDLE file, const EXCEPTION_RECORD* record,
                 const wchar_t* dumpName) {
  CrashText line;
  line.add("Crash report\r\napplication: ");
  line.add(crashSettings.appName);
  if (record != nullptr) {
    line.add("\r\nexception: ");
    line.addHex(record->ExceptionCode, 8);
    line.add(" (");
    line.add(exceptionName(record->ExceptionCode));
    line.add(")\r\naddress: ");
    line.addHex(reinterpret_cast<uintptr_t>(record->ExceptionAddress), 16);
    if ((record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION ||
         record->ExceptionCode == EXCEPTION_IN_PAGE_ERROR) &&
        record->NumberParameters >= 2) {
      const ULONG_PTR kind = record->ExceptionInformation[0];
      line.add(kind == 0   ? "\r\naccess: read of "
               : kind == 8 ? "\r\naccess: execution of "
                           : "\r\naccess: write of ");
      line.addHex(record->ExceptionInformation[1], 16);
    }
  } else {
    line.add("\r\nexception: SIGABRT (abort)\r\naddress: none");
  }
  line.add("\r\nprocess: ");
  line.addDecimal(GetCurrentProcessId());
  line.add("\r\nthread: ");
  line.addDecimal(GetCurrentThreadId());
  line.add("\r\ntime: ");
  line.addUtcTime(utcSeconds());
  if (crashSettings.supportEMail[0] != '\0') {
    line.add("\r\nsupport: ");
    line.add(crashSettings.supportEMail);
  }
  writeOut(file, &line);
  if (dumpName != nullptr) {
    char name[3 * kPathUnits];
    if (utf16ToUtf8Convert(name, reinterpret_cast<const char16_t*>(dumpName),
                           sizeof name)
            .status == UtfStatus::kOk) {
      line.add("\r\nminidump: ");
      writeOut(file, &line);
      DWORD written = 0;
      size_t length = 0;
      while (name[length] != '\0') ++length;
      WriteFile(file, name, static_cast<DWORD>(length), &written, nullptr);
    }
  }
  line.add("\r\nend of report\r\n");
  writeOut(file, &line);
}

// Creates the report file under the first free numbered name and stores
// the name used in `path`. Never opens an existing file. Returns the handle
// or INVALID_HANDLE_VALUE.
HANDLE createReportFile(wchar_t* path) {
  HANDLE file = INVALID_HANDLE_VALUE;
  const bool created =
      crashCreateNumberedFile(reportPath, path, [&file](const wchar_t* name) {
        file = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return CrashFileOutcome::kCreated;
        const DWORD error = GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
                   ? CrashFileOutcome::kExists
                   : CrashFileOutcome::kFailed;
      });
  return created ? file : INVALID_HANDLE_VALUE;
}

// Writes the minidump to "<report>.dmp". True when it was written.
bool writeMiniDump(const wchar_t* path, DWORD threadId,
                   EXCEPTION_POINTERS* pointers) {
  if (miniDumpWriteDump == nullptr) return false;
  const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  MINIDUMP_EXCEPTION_INFORMATION exception;
  exception.ThreadId = threadId;
  exception.ExceptionPointers = pointers;
  exception.ClientPointers = FALSE;
  const MINIDUMP_TYPE type =
      (crashSettings.flags & kCrashFlagDetailedMode) != 0
          ? static_cast<MINIDUMP_TYPE>(MiniDumpWithDataSegs |
                                       MiniDumpWithIndirectlyReferencedMemory)
          : MiniDumpNormal;
  const BOOL written = miniDumpWriteDump(
      GetCurrentProcess(), GetCurrentProcessId(), file, type,
      pointers != nullptr ? &exception : nullptr, nullptr, nullptr);
  FlushFileBuffers(file);
  CloseHandle(file);
  if (!written) DeleteFileW(path);
  return written != FALSE;
}

struct CrashJob {
  EXCEPTION_POINTERS* pointers;  // null for an abort
  DWORD threadId;                // the crashing thread
};

DWORD WINAPI writeCrashReport(void* argument) {
  const CrashJob* job = static_cast<const CrashJob*>(argument);
  wchar_t path[kPathUnits + kSuffixUnits];
  const HANDLE file = createReportFile(path);
  if (file == INVALID_HANDLE_VALUE) return 1;
  size_t length = 0;
  while (path[length] != 0) ++length;
  const wchar_t kDump[] = L".dmp";
  for (size_t i = 0; i < sizeof kDump / sizeof kDump[0]; ++i) {
    path[length + i] = kDump[i];
  }
  const bool dumped = writeMiniDump(path, job->threadId, job->pointers);
  writeReport(file,
              job->pointers != nullptr ? job->pointers->ExceptionRecord
                                       : nullptr,
              dumped ? path : nullptr);
  FlushFileBuffers(file);
  CloseHandle(file);
  return 0;
}

// Writes the report once per process; a second crashing thread waits for
// the first one's report instead.
void writeReportOnce(EXCEPTION_POINTERS* pointers) {
  if (crashSettings.activityType != kCrashActivitySaveReport || reportPath[0] == 0) return;
  CrashJob job = {pointers, GetCurrentThreadId()};
  const HANDLE writer =
      CreateThread(nullptr, 0, writeCrashReport, &job, 0, nullptr);
  if (writer == nullptr) {
    writeCrashReport(&job);
    return;
  }
  WaitForSingleObject(writer, kWaitForReportMs);
  CloseHandle(writer);
}

void reportCrash(EXCEPTION_POINTERS* pointers) {
  if (InterlockedExchange(&reporting, 1) != 0) {
    Sleep(kWaitForReportMs);
    return;
  }
  crashStatus = static_cast<LONG>(pointers != nullptr
                                      ? pointers->ExceptionRecord->ExceptionCode
                                      : kAbortStatus);
  writeReportOnce(pointers);
  if (reportDone != nullptr) SetEvent(reportDone);
}

// Runs when the process ends normally (main returns, exit): if a thread is
// crashing meanwhile, its report is finished first and the process ends as
// the crash would have ended it.
void waitForCrashReport() {
  if (reporting == 0) return;
  if (reportDone != nullptr) WaitForSingleObject(reportDone, kWaitForReportMs);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(crashStatus));
}

LONG WINAPI crashExceptionFilter(EXCEPTION_POINTERS* pointers) {
  reportCrash(pointers);
  return EXCEPTION_EXECUTE_HANDLER;
}

// The runtime resets the handler to the default before calling it; when it
// returns, abort ends the process.
void crashAbortHandler(int /*signal*/) { reportCrash(nullptr); }

}  // namespace

// A path too long for the buffer leaves no report path.
void crashHandlerSetReportFilePath(const char16_t* path) {
  size_t length = 0;
  while (path != nullptr && path[length] != 0 && length + 1 < kPathUnits) {
    ++length;
  }
  if (path == nullptr || path[length] != 0) {
    reportPath[0] = 0;
    return;
  }
  for (size_t i = 0; i <= length; ++i) {
    reportPath[i] = static_cast<wchar_t>(path[i]);
  }
}

bool crashHandlerInstall() {
  const HMODULE dbghelp = LoadLibraryW(L"dbghelp.dll");
  if (dbghelp != nullptr) {
    miniDumpWriteDump = reinterpret_cast<MiniDumpWriteDumpFunction>(
        reinterpret_cast<void*>(GetProcAddress(dbghelp, "MiniDumpWriteDump")));
  }
  if (reportDone == nullptr) {
    reportDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atexit(waitForCrashReport);
  }
  SetUnhandledExceptionFilter(crashExceptionFilter);
  return std::signal(SIGABRT, crashAbortHandler) != SIG_ERR;
}

namespace {
// Windows runs the exception filter on the faulting thread's own stack, so
// a thread needs nothing of its own; attached() reports that as success.
char noStackNeeded;
}  // namespace

CrashThreadStack::CrashThreadStack() : memory_(&noStackNeeded) {}

CrashThreadStack::~CrashThreadStack() = default;

CrashThreadStack crashHandlerThreadAttach() { return CrashThreadStack(); }
