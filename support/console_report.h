// consoleReport: the support library's voice on the console. Each call
// formats one message with the wide engine (grammar in format_core.h) into
// 4096 UTF-16 units, converts it to the character set of the user's locale
// and writes it to the standard error stream with one write
// (consoleWriteText), after erasing the live line (console_live_line.h).
// Messages carry their own line ends, written "\r\n" in the text; none is
// added. The console writer turns them into the
// platform's line end ("\n" on POSIX systems). A message longer than 4095
// units is printed cut to its first 4095 units.
//
// Thread-safety: callable from any thread. The write of one message is not
// interleaved with other messages' writes on the stream.
#pragma once

#include <cstdarg>
#include <cstdint>

// The UTF-16 units one message is formatted into, terminator included.
constexpr int32_t kConsoleReportUnits = 4096;

// Formats and prints one message. Returns the number of bytes written
// (0 for a null format, which prints nothing).
int32_t consoleReport(const char* format, ...);

// The va_list form of consoleReport.
int32_t consoleReportV(const char* format, va_list args);

// As consoleReport, to the standard output stream (consoleWriteOutputText).
int32_t consoleReportOutput(const char* format, ...);
