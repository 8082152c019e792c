#include "support/log_print.h"

#include <cstdarg>

namespace {

// Fixed for the whole run: no default logger.
Logger* const kDefaultLogger = nullptr;

}  // namespace

const char* logLevelName(LogLevel level) {
  static const char* const kNames[] = {"EMERGENCY", "ALERT",   "CRITICAL",
                                       "ERROR",     "WARNING", "NOTICE",
                                       "INFO",      "DEBUG",   "EVENT"};
  return level >= kLogEmergency && level <= kLogEvent ? kNames[level] : "?";
}

void logPrintV(Logger* logger, LogLevel level, const char* /*tag*/,
               const char* /*format*/, va_list /*args*/) {
  if (level == kLogDropped) return;
  if (logger == nullptr) logger = kDefaultLogger;
  if (logger == nullptr) return;
  // Loggers cannot be created in this program, so no record gets here.
}

void logPrint(Logger* logger, LogLevel level, const char* tag,
              const char* format, ...) {
  va_list args;
  va_start(args, format);
  logPrintV(logger, level, tag, format, args);
  va_end(args);
}
