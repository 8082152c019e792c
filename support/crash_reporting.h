// Crash reporting for the whole run: crashReportingSetup names the
// application to the crash reporter (crash_handler.h) and, when the
// crash-dump folder of the configuration can be named, creates that folder
// and sets the report path "<crash-dump folder>/Crash-<application>-
// <YYMMDD-hhmmss>" (the set-up time), then installs the reporter. Without a
// crash-dump folder the reporter is still installed and a crash writes
// nothing; nothing is printed either way.
//
// Thread-safety: call on the main thread before any other thread exists;
// the once-flag is not locked.
#pragma once

// Sets up crash reporting once per process; later calls do nothing. The
// first call loads the configuration (getGlobals).
// REQUIRES: applicationName non-null, UTF-8.
void crashReportingSetup(const char* applicationName);
