// Reporter: how a lower layer (media, codecs, net) tells of what it met
// while working, without printing. The layer hands each notice, one line
// of UTF-8 text without its line end, to the reporter it was given; app/
// decides what is printed and counts what matters to the operator.
// Reporting allocates nothing: a line lives in the caller's buffer for the
// call only.
//
// Thread-safety: a reporter is called from the thread of the layer that
// holds it; an implementation shared between threads locks on its own.
#pragma once


enum class ReportKind {
  kNotice,            // anything else worth a line
  kFrameDropped,      // a frame or payload was dropped (CRC, length, decode)
  kCodecUnavailable,  // a codec library could not be loaded
};

class Reporter {
 public:
  virtual ~Reporter() = default;
  virtual void report(ReportKind kind, const char* line) = 0;
};

// Prints each line on the console ("\r\n" appended). Never null.
Reporter* consoleReporter();

// Formats one line printf-style and hands it to `reporter` (the console
// reporter when null).
void reportLine(Reporter* reporter, ReportKind kind, const char* format, ...);
