#include "app/command_line.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/record_pattern.h"
#include "support/console_report.h"
#include "support/display_name.h"

const char kUsageText[] =
    "([-h HOST] [-p PORT] (-q QUEUE|-t) [-a|-u|-r])|(-i FILE) [(-f FILE)|(-F "
    "FILE)]\r\n"
    "\t-h HOST    - hostname or IP of computer running tapd (default: "
    "localhost)\r\n"
    "\t-p PORT    - port number of tapd (default: 20000)\r\n"
    "\t-q QUEUE   - LDCC queue name\r\n"
    "\t-t         - test mode: do not send queue name, just read from "
    "socket\r\n"
    "\t-a         - treat incoming audio data as a-law (default)\r\n"
    "\t-u         - treat incoming audio data as u-law\r\n"
    "\t-r         - treat incoming audio data as RTP stream\r\n"
    "\t-i WAV     - read audio data from WAV file\r\n"
    "\t-F FILE    - WAV file to be created\r\n"
    "\t-f FILE    - WAV file to be appended or created\r\n";

#ifndef HEARKENER_VERSION
#error "HEARKENER_VERSION comes from the project's version in CMake"
#endif

const char kMoreOptionsText[] =
    "\t-l         - list the queues of tapd and exit\r\n"
    "\t--no-status - no status line on a terminal\r\n"
    "\t--follow   - receive call after call of the queue until stopped,\r\n"
    "\t             reconnecting when tapd cannot be reached\r\n"
    "\t--record PATTERN - WAV file of each recording, named when it is\r\n"
    "\t             created: %Y %m %d %H %M %S %F %T (local time), %q queue,\r\n"
    "\t             %n file number, %% percent; folders are created, an\r\n"
    "\t             existing name gets -2, -3, ... (not with -F or -f)\r\n"
    "\t--split SECONDS - with --record: a new file after that much audio\r\n"
    "\t--help, -? - show this help and exit\r\n"
    "\t--version  - show the version and exit\r\n";

const char kVersionText[] = "hearkener " HEARKENER_VERSION;

namespace {

std::string programName(char** argv) {
  return displayName((argv != nullptr && argv[0] != nullptr) ? argv[0]
                                                             : "hearkener");
}

}  // namespace

Result printHelp(char** argv) {
  consoleReportOutput("Usage: %Ds %s%s", programName(argv).c_str(), kUsageText,
                      kMoreOptionsText);
  return kResultOk;
}

Result printVersion() {
  consoleReportOutput("%s\r\n", kVersionText);
  return kResultOk;
}

Result printUsage(char** argv, Result code, const char* format, ...) {
  const std::string program = programName(argv);
  // Whatever stdio still holds for the stream goes out first.
  fflush(stderr);
  if (format != nullptr) {
    char message[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);  // cuts, never overflows
    va_end(args);
    debugTrace("%s\n", message);
    consoleReport("%Ds: %Ds\r\n", program.c_str(),
                  displayName(message).c_str());
  }
  consoleReport("Usage: %Ds %s\r\n", program.c_str(), kUsageText);
  debugTrace("exiting with return code %d\n", code);
  return code;
}

namespace {

// --split's value: whole seconds from 1 to kMaxSplitSeconds, else 0.
constexpr uint32_t kMaxSplitSeconds = 1000000;

uint32_t parseSplitSeconds(const char* text) {
  uint64_t value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (!isdigit(static_cast<unsigned char>(*p))) return 0;
    value = value * 10 + static_cast<uint64_t>(*p - '0');
    if (value > kMaxSplitSeconds) return 0;
  }
  return static_cast<uint32_t>(value);
}

// The refused combinations of options; -9 after the usage, else 0.
Result checkCombination(char** argv, const RunSettings& settings) {
  if (settings.recordPattern != nullptr) {
    if (settings.outputFile != nullptr) {
      return printUsage(argv, kResultCommandLine,
                        "--record cannot be used with -F or -f");
    }
    const std::string error = recordPatternError(settings.recordPattern);
    if (!error.empty()) {
      return printUsage(argv, kResultCommandLine, "%s", error.c_str());
    }
  }
  if (settings.splitSeconds != 0 && settings.recordPattern == nullptr) {
    return printUsage(argv, kResultCommandLine, "--split needs --record");
  }
  if (settings.follow && !settings.listQueues &&
      (settings.inputFile != nullptr ||
       (settings.queueName == nullptr && !settings.testMode))) {
    return printUsage(argv, kResultCommandLine,
                      "--follow needs -q QUEUE or -t, and no -i");
  }
  return kResultOk;
}

}  // namespace

int32_t parsePortNumber(const char* text) {
  const char* p = text;
  while (isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  int64_t value = 0;
  while (isdigit(static_cast<unsigned char>(*p))) {
    if (value <= INT32_MAX) value = value * 10 + (*p - '0');
    ++p;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

Result parseCommandLine(int argc, char** argv, RunSettings* settings) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (strcmp(arg, "--help") == 0 || strcmp(arg, "-?") == 0) {
      settings->showHelp = true;
      return kResultOk;
    }
    if (strcmp(arg, "--version") == 0) {
      settings->showVersion = true;
      return kResultOk;
    }
    if (strcmp(arg, "-h") == 0) {
      if (!hasValue) return printUsage(argv, kResultCommandLine, "missing host name");
      settings->host = argv[++i];
    } else if (strcmp(arg, "-p") == 0) {
      if (!hasValue) {
        return printUsage(argv, kResultCommandLine, "missing port number");
      }
      settings->port = parsePortNumber(argv[++i]);
    } else if (strcmp(arg, "-q") == 0) {
      if (!hasValue) return printUsage(argv, kResultCommandLine, "missing queue name");
      settings->queueName = argv[++i];
    } else if (strcmp(arg, "-t") == 0) {
      settings->testMode = true;
    } else if (strcmp(arg, "-l") == 0) {
      settings->listQueues = true;
    } else if (strcmp(arg, "--no-status") == 0) {
      settings->statusLine = false;
    } else if (strcmp(arg, "--follow") == 0) {
      settings->follow = true;
    } else if (strcmp(arg, "--record") == 0) {
      if (!hasValue) {
        return printUsage(argv, kResultCommandLine, "missing record pattern");
      }
      settings->recordPattern = argv[++i];
    } else if (strcmp(arg, "--split") == 0) {
      if (!hasValue) {
        return printUsage(argv, kResultCommandLine, "missing split seconds");
      }
      settings->splitSeconds = parseSplitSeconds(argv[++i]);
      if (settings->splitSeconds == 0) {
        return printUsage(argv, kResultCommandLine,
                          "--split wants whole seconds from 1 to %u",
                          static_cast<unsigned>(kMaxSplitSeconds));
      }
    } else if (strcmp(arg, "-f") == 0 || strcmp(arg, "-F") == 0) {
      if (!hasValue) return printUsage(argv, kResultCommandLine, "missing file name");
      settings->outputFile = argv[++i];
      settings->append = arg[1] == 'f';
    } else if (strcmp(arg, "-i") == 0) {
      if (!hasValue) return printUsage(argv, kResultCommandLine, "missing file name");
      settings->inputFile = argv[++i];
    } else if (strcmp(arg, "-a") == 0) {
      settings->inputMode = InputMode::kAlaw;
    } else if (strcmp(arg, "-u") == 0) {
      settings->inputMode = InputMode::kUlaw;
    } else if (strcmp(arg, "-r") == 0) {
      settings->inputMode = InputMode::kFramedTyped;
    } else {
      return printUsage(argv, kResultCommandLine, "illegal argument: %s", arg);
    }
  }
  return checkCombination(argv, *settings);
}
