// Compact local time stamps for file names: YYMMDD-hhmmss.
//
// Thread-safety: callable from any thread; no shared state of its own (the
// local-time conversion reads the process's time zone).
#pragma once

#include <cstdint>

struct tm;

// Bytes a time-stamp buffer must hold, terminator included.
constexpr int32_t kTimeStampBytes = 32;

// Writes the stamp of the current local time into `buffer` and returns it.
// When the local-time conversion fails, "localtime portable failed on
// time_t ..." goes to the console and the stamp is made from an all-zero
// calendar record: 000100-000000.
// REQUIRES: buffer holds kTimeStampBytes bytes.
char* localTimeStamp(char* buffer);

// As localTimeStamp for the given seconds since the epoch (the clock seam of
// localTimeStamp).
// REQUIRES: as localTimeStamp.
char* localTimeStampAt(int64_t seconds, char* buffer);

// The platform's conversion of `seconds` since the epoch to local calendar
// time; false when it fails (*calendar is then unspecified).
bool localCalendarOf(int64_t seconds, struct tm* calendar);
