// The log facility: leveled records for a named logger. This program
// installs no logger and the default logger is none, so every record is
// dropped where it enters and nothing is written; the entry points exist for
// the library code that traces through them.
//
// Thread-safety: callable from any thread.
#pragma once

#include <cstdarg>
#include <cstdint>

// Severity of a record; smaller is more severe.
using LogLevel = int32_t;

constexpr LogLevel kLogDropped = -1;  // a record of this level is dropped
constexpr LogLevel kLogEmergency = 0;
constexpr LogLevel kLogAlert = 1;
constexpr LogLevel kLogCritical = 2;
constexpr LogLevel kLogError = 3;
constexpr LogLevel kLogWarning = 4;
constexpr LogLevel kLogNotice = 5;
constexpr LogLevel kLogInfo = 6;
constexpr LogLevel kLogDebug = 7;
constexpr LogLevel kLogEvent = 8;

// A logger; none can be created in this program.
struct Logger;

// "EMERGENCY" ... "EVENT" for the levels 0 to 8, "?" for any other.
const char* logLevelName(LogLevel level);

// Hands a record to `logger`, or to the default logger when `logger` is
// null. A record of level -1 is dropped, and so is one that reaches no
// logger. `tag` (may be null) names where the record comes from.
void logPrint(Logger* logger, LogLevel level, const char* tag,
              const char* format, ...);

// The va_list form of logPrint.
void logPrintV(Logger* logger, LogLevel level, const char* tag,
               const char* format, va_list args);
