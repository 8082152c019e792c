// The crash reporter under crashReportingSetup: it is told the application
// name, the contact data, the report mode, what to do with a report and
// where to save it, and is then installed. On POSIX systems it is a handler
// of our own for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT that runs on an
// alternate stack, writes a text report (application, signal, faulting
// address, time, backtrace) to the report path with async-signal-safe calls
// only, and re-raises the signal with its default action, so the process
// still ends as the signal says.
//
// Thread-safety: the setters and crashHandlerInstall are called on one
// thread before the handler can run (at start, before other threads exist).
#pragma once

#include <cstdint>

// Report modes and activities, numbered as the Windows reporter numbers
// them.
constexpr int32_t kCrashFlagDetailedMode = 1;
constexpr int32_t kCrashActivitySaveReport = 2;

void crashHandlerSetAppName(const char16_t* name);
void crashHandlerSetSupportEMail(const char* address);
void crashHandlerSetFlags(int32_t flags);
void crashHandlerSetActivityType(int32_t activity);
// The report file; without it (or without the save activity) a crash
// writes nothing.
void crashHandlerSetReportFilePath(const char16_t* path);
void crashHandlerSetSupportServer(const char* host, int32_t port);
void crashHandlerSetSupportUrl(const char* url);
// Installs the handler. Returns false when the system refused it.
bool crashHandlerInstall();
