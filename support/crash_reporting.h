// Crash reporting for the whole run: crashReportingSetup names the
// application to the crash reporter (crash_handler.h) and, when the
// crash-dump folder (data_folder.h) can be named, sets the report path
// "<crash-dump folder>/Crash-<application>-<YYMMDD-hhmmss>" (the set-up
// time), then installs the reporter. On Windows the folder is created here;
// on Linux only a crash that writes a report creates it. Without a
// crash-dump folder the reporter is still installed and a crash writes
// nothing. Set-up prints nothing.
//
// Thread-safety: call on the main thread before any other thread exists;
// the once-flag is not locked.
#pragma once

// Sets up crash reporting once per process; later calls do nothing. The
// first call loads the configuration (getGlobals).
// REQUIRES: applicationName non-null, UTF-8.
void crashReportingSetup(const char* applicationName);
