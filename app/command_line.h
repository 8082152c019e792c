// The command line: run settings, option parsing and the usage printer.
//
// Thread-safety: main thread only.
#pragma once

#include <cstdint>

#include "core/input_mode.h"
#include "core/result.h"
#include "support/debug_trace.h"

struct RunSettings {
  const char* host = "localhost";
  int32_t port = 20000;
  const char* queueName = nullptr;
  bool testMode = false;
  // -a, -u, -r: the last one counts.
  InputMode inputMode = InputMode::kAlaw;
  const char* inputFile = nullptr;
  const char* outputFile = nullptr;
  bool append = false;
  // -l: print the service's queue names instead of receiving audio.
  bool listQueues = false;
  // --no-status clears it: no status line even on a terminal.
  bool statusLine = true;
  // --help (or -?) and --version: print that on standard output and end
  // with 0 instead of running.
  bool showHelp = false;
  bool showVersion = false;
  // --follow: receive the queue's calls one after the other until a stop.
  bool follow = false;
  // --record PATTERN: the name of each recording (app/record_pattern.h).
  const char* recordPattern = nullptr;
  // --split SECONDS: a new recording after that much audio; 0: none.
  uint32_t splitSeconds = 0;
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

// The options beyond the usage text, in its style; --help prints them
// behind it.
extern const char kMoreOptionsText[];

// "hearkener VERSION", the project's version.
extern const char kVersionText[];

// Prints "Usage: <program> <usage text><more options>" to standard output
// (--help). Returns 0.
Result printHelp(char** argv);

// Prints kVersionText and a line end to standard output. Returns 0.
Result printVersion();

// Parses argv[1..argc-1] into `settings`. Returns 0, or -9 after printing the
// error and the usage text. The last occurrence of an option wins.
// Refused combinations: --record with -F or -f, --split without --record,
// --follow with -i or without -q or -t. --help,
// -? and --version, each only as a whole argument, end the parsing at once
// with 0 and showHelp or showVersion set.
Result parseCommandLine(int argc, char** argv, RunSettings* settings);

// Leading decimal digits as atoi reads them (blanks, optional sign), no
// digits giving 0; values beyond 32 bits are clamped instead of overflowing.
int32_t parsePortNumber(const char* text);
