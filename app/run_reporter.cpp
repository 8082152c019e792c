#include "app/run_reporter.h"

void RunReporter::report(ReportKind kind, const char* line) {
  if (kind == ReportKind::kFrameDropped) framesDropped_.fetch_add(1);
  consoleReporter()->report(kind, line);
}
