#include "app/failure_report.h"

#include "support/console_report.h"
#include "support/display_name.h"

void printFailure(const Failure& failure) {
  if (failure.empty()) return;
  if (failure.object.empty() || failure.reason.empty()) {
    const std::string& alone =
        failure.object.empty() ? failure.reason : failure.object;
    consoleReport("%Ds\r\n", displayName(alone.c_str()).c_str());
    return;
  }
  consoleReport("%Ds: %Ds\r\n", displayName(failure.object.c_str()).c_str(),
                displayName(failure.reason.c_str()).c_str());
}
