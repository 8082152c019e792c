#include "app/unlisted_queue.h"

#include <algorithm>

#include "support/console_report.h"
#include "support/display_name.h"
#include "support/terminal.h"

void warnUnlistedQueue(const char* queueName,
                       const std::vector<std::string>& offered) {
  if (queueName == nullptr || !stderrIsTerminal()) return;
  if (std::find(offered.begin(), offered.end(), queueName) != offered.end()) {
    return;
  }
  std::string names;
  for (const std::string& name : offered) {
    if (!names.empty()) names += ", ";
    names += displayName(name.c_str());
  }
  if (names.empty()) names = "none";
  consoleReport("queue %Ds is not in the service's list (offered: %Ds)\r\n",
                displayName(queueName).c_str(), names.c_str());
}
