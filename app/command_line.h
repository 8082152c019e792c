// The command line: run settings, option parsing and the usage printer.
//
// Thread-safety: main thread only.
#pragma once

#include <cstdint>

#include "app/result.h"
#include "support/debug_trace.h"

// InputMode values the command line selects.
constexpr int32_t kInputModeAlaw = 2;
constexpr int32_t kInputModeUlaw = 3;
constexpr int32_t kInputModeFramedTyped = 7;

struct RunSettings {
  const char* host = "localhost";
  int32_t port = 20000;
  const char* queueName = nullptr;
  bool testMode = false;
  int32_t inputMode = kInputModeAlaw;
  const char* inputFile = nullptr;
  const char* outputFile = nullptr;
  bool append = false;
  // -l: print the service's queue names instead of receiving audio.
  bool listQueues = false;
  // --no-status clears it: no live status line on a terminal.
  bool statusLine = true;
};

// The usage text; every line but the first starts with a tab, every line
// ends in "\r\n" (the console layer writes the platform's line end).
extern const char kUsageText[];

// When `format` is given, prints "<program>: <message>\r\n" (the message cut
// to 1023 bytes) through consoleReport; then always "Usage: <program> <usage
// text>\r\n". The program name and the message are shown as displayName
// shows names. Returns `code`.
Result printUsage(char** argv, Result code, const char* format, ...)
    HK_PRINTF_LIKE(3, 4);

// Parses argv[1..argc-1] into `settings`. Returns 0, or -9 after printing the
// error and the usage text. The last occurrence of an option wins.
Result parseCommandLine(int argc, char** argv, RunSettings* settings);

// Leading decimal digits as atoi reads them (blanks, optional sign), no
// digits giving 0; values beyond 32 bits are clamped instead of overflowing.
int32_t parsePortNumber(const char* text);
